#include "simulation/resultfiles.h"

#include "simulation/numberformat.h"
#include "structure/extensions.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <deque>
#include <future>

namespace {

// Lines per chunk: at least this many, so a chunk is worth a thread, and at most that many,
// so a big file is never held in memory as a whole (a chunk is about 1.3 MB of text).
constexpr int minChunkLines = 4096;
constexpr int maxChunkLines = 32768;

// Lines [begin, end) as text.
QByteArray formatLines(const double* first, const double* second, const double* third, int begin,
                       int end, int digits) {
    constexpr int maxLineLength = 3 * maxFormattedDigitsLength + 3;
    QByteArray text(int(qsizetype(end - begin) * maxLineLength), Qt::Uninitialized);
    char* out = text.data();
    auto put = [digits](char* at, double v) {
        return digits == 6 ? formatDouble(at, v) : formatDoubleDigits(at, v, digits);
    };
    for (int i = begin; i < end; ++i) {
        out = put(out, first[i]);
        *out++ = '\t';
        out = put(out, second[i]);
        *out++ = '\t';
        out = put(out, third[i]);
        *out++ = '\n';
    }
    text.resize(int(out - text.constData()));
    return text;
}

} // namespace

QString measuredResultTag(const Reflection& r) {
    const int indices[3] = {r.h, r.k, r.l};
    bool digits = true;
    for (const int i : indices)
        digits = digits && i >= 0 && i <= 9;
    QStringList parts;
    for (const int i : indices)
        parts << (i < 0 ? QStringLiteral("m%1").arg(-qint64(i)) : QString::number(i));
    QString tag = QStringLiteral("meas-") + parts.join(digits ? QString() : QStringLiteral("_"));
    if (!r.symmetric())
        tag += QLatin1String(r.grazing == Reflection::Exit ? "-exit" : "-incidence");
    return tag;
}

QString resultFileName(const QString& structureFile, const QString& tag, const QString& outputDir) {
    const QFileInfo info(structureFile);
    const QString name =
        info.completeBaseName() + QLatin1Char('-') + tag + QLatin1Char('.') + info.suffix();
    const QDir dir(outputDir.isEmpty() ? info.absolutePath() : outputDir);
    return QDir::cleanPath(dir.absoluteFilePath(name));
}

bool writeColumns(const QString& path, const QVector<double>& first, const QVector<double>& second,
                  const QVector<double>& third, int threads, int digits) {
    SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const int lines = qMin(first.size(), qMin(second.size(), third.size()));
    if (threads <= 0)
        threads = QThread::idealThreadCount();
    const int chunkLines =
        std::clamp((lines + threads - 1) / qMax(threads, 1), minChunkLines, maxChunkLines);
    const int chunks = (lines + chunkLines - 1) / chunkLines;
    const auto format = [&](int chunk) {
        return formatLines(first.constData(), second.constData(), third.constData(),
                           chunk * chunkLines, qMin(lines, (chunk + 1) * chunkLines), digits);
    };

    bool ok = true;
    if (threads <= 1 || chunks <= 1) {
        for (int chunk = 0; chunk < chunks && ok; ++chunk) {
            const QByteArray text = format(chunk);
            ok = file.write(text) == text.size();
        }
    } else {
        // Up to `threads` chunks are formatted at once, each on a thread of its own, while
        // this thread writes the finished ones in order. On a failed write the chunks under
        // way are finished (the futures wait) and dropped.
        std::deque<std::future<QByteArray>> pending;
        int next = 0;
        while (ok && (next < chunks || !pending.empty())) {
            while (next < chunks && int(pending.size()) < threads)
                pending.push_back(std::async(std::launch::async, format, next++));
            const QByteArray text = pending.front().get();
            pending.pop_front();
            ok = file.write(text) == text.size();
        }
    }
    if (!ok)
        file.cancelWriting();
    return file.commit();
}
