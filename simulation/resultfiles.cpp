#include "resultfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

QString resultFileName(const QString& structureFile, const QString& tag, const QString& outputDir) {
    const QFileInfo info(structureFile);
    const QString name =
        info.completeBaseName() + QLatin1Char('-') + tag + QLatin1Char('.') + info.suffix();
    const QDir dir(outputDir.isEmpty() ? info.absolutePath() : outputDir);
    return QDir::cleanPath(dir.absoluteFilePath(name));
}

bool writeColumns(const QString& path, const QVector<double>& first, const QVector<double>& second,
                  const QVector<double>& third) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const int lines = qMin(first.size(), qMin(second.size(), third.size()));
    {
        QTextStream out(&file);
        for (int i = 0; i < lines; ++i)
            out << first[i] << '\t' << second[i] << '\t' << third[i] << '\n';
        out.flush();
        if (out.status() != QTextStream::Ok)
            file.cancelWriting();
    }
    return file.commit();
}
