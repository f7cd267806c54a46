#include "structure/config.h"

#include "structure/linetokens.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Locale-independent; a token that is not entirely a number reads as 0.
double toReal(const QString& token) {
    return token.toDouble();
}

// Base 10 with an optional sign; anything else reads as 0.
std::int32_t toInteger(const QString& token) {
    return token.toInt(nullptr, 10);
}

// A neighbour composition of a LAYER line, converted as a real; notes whether it was written.
double toNeighbour(const QString& token, WrittenNeighbours& w, WrittenNeighbours::Present bit) {
    if (!token.isEmpty())
        w.present |= bit;
    return toReal(token);
}

GradingShape toShape(const QString& token) {
    const QString upper = token.toUpper();
    if (upper.isEmpty())
        return Abrupt;
    switch (upper.at(0).unicode()) {
    case 'L':
        return Linear;
    case 'P':
        return Parabolic;
    case 'H':
        return Sine;
    default:
        return Abrupt;
    }
}

// Opens `name` for reading only when it is a regular file. A named pipe would block the
// window until some writer appears, a device may never end, and a folder is no file, so all
// of them count as files that cannot be opened. O_NONBLOCK keeps open() itself from waiting
// on a pipe; the type is checked on the opened descriptor, so a file swapped between a check
// by name and the open cannot slip through.
bool openRegularFile(QFile& file, const QString& name) {
    if (name.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(name);
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    if (!QFileInfo(name).isFile())
        return false;
    file.setFileName(name);
    return file.open(QIODevice::ReadOnly);
#endif
}

} // namespace

Config::Config() = default;

Config::~Config() = default;

void Config::reset() {
    const QString name = fileName;
    static_cast<Structure&>(*this) = Structure();
    fileName = name;
}

bool Config::load(const QString& name) {
    reset();
    QFile file;
    if (!openRegularFile(file, name)) {
        emit log(tr("Can't open [%1].").arg(name));
        return false;
    }
    emit log(tr("Loading [%1].").arg(name));
    fileName = name;
    readFrom(file);
    file.close();

    if (wavelength > 0 && substrate.defined && !layers.isEmpty()) {
        valid = true;
        finishExtensions(ext);
    } else {
        reset();
    }
    return true;
}

void Config::readFrom(QIODevice& file) {
    // The stream decodes with the system locale unless a byte-order mark names a Unicode
    // encoding. The file is opened in binary mode: the stream's readLine ends lines at LF and
    // strips a CR before it, and a CR left inside a line is an old-style (CR-only) line end,
    // which text mode would silently delete, gluing "1\r0" into the number 10.
    QTextStream in(&file);
    qint64 lineNumber = 0; // a file of more than 2^31 empty lines is only a few GB
    while (!in.atEnd()) {
        const QString line = in.readLine();
        int from = 0;
        for (int cr = line.indexOf(QLatin1Char('\r')); cr >= 0;
             cr = line.indexOf(QLatin1Char('\r'), from)) {
            handleLine(line.mid(from, cr - from), ++lineNumber);
            from = cr + 1;
        }
        handleLine(from == 0 ? line : line.mid(from), ++lineNumber);
    }
}

void Config::handleLine(const QString& line, qint64 lineNumber) {
    LineTokens tokens(line, LineTokens::commentStart(line));

    int start = 0;
    int length = 0;
    tokens.nextSpan(start, length);
    if (length == 0 || length > 10) // no keyword is longer than "WAVELENGTH" or "BACKGROUND"
        return;
    const QString keyword = line.mid(start, length).toUpper();

    if (keyword == QLatin1String("WAVELENGTH")) {
        wavelength = toReal(tokens.next());
        k = twoPi / wavelength;
    } else if (keyword == QLatin1String("SUBSTRATE")) {
        const double x = toReal(tokens.next());
        const double y = toReal(tokens.next());
        const std::int32_t without = toInteger(tokens.next());
        Layer s;
        s.defined = true;
        s.monolayers = 1;
        s.inFraction = s.endInFraction = s.startInFraction = x;
        s.asFraction = s.endAsFraction = s.startAsFraction = y;
        substrate = s;
        withSubstrate = without != 1;
    } else if (keyword == QLatin1String("LAYER")) {
        if (layers.size() >= maxLayers) {
            ++ignoredLayers;
            return;
        }
        Layer l;
        l.defined = true;
        l.monolayers = toInteger(tokens.next());
        l.inFraction = toReal(tokens.next());
        l.asFraction = toReal(tokens.next());
        WrittenNeighbours w;
        l.endShape = toShape(tokens.next());
        l.endWidth = toReal(tokens.next());
        w.endIn = toNeighbour(tokens.next(), w, WrittenNeighbours::EndIn);
        w.endAs = toNeighbour(tokens.next(), w, WrittenNeighbours::EndAs);
        l.startShape = toShape(tokens.next());
        l.startWidth = toReal(tokens.next());
        w.startIn = toNeighbour(tokens.next(), w, WrittenNeighbours::StartIn);
        w.startAs = toNeighbour(tokens.next(), w, WrittenNeighbours::StartAs);
        // Boundary compositions are the mean of the layer's own and its neighbour's.
        l.endInFraction = (w.endIn + l.inFraction) * 0.5;
        l.endAsFraction = (w.endAs + l.asFraction) * 0.5;
        l.startInFraction = (w.startIn + l.inFraction) * 0.5;
        l.startAsFraction = (w.startAs + l.asFraction) * 0.5;
        layers.append(l);
        noteWrittenNeighbours(ext, layers.size() - 1, w);
    } else if (keyword == QLatin1String("REPEAT")) {
        repeat = toInteger(tokens.next());
    } else {
        readExtensionStatement(ext, keyword, tokens, fileName, lineNumber);
    }
}
