#include "config.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Walks the tokens of one line, left to right. `end` is where the comment starts (or the
// line's length), so nothing after a "#" is ever seen, not even inside quotes.
class Tokens {
public:
    Tokens(const QString& line, int end) : line_(line), end_(end) {}

    // Start and length of the next token; the position moves behind it. A quoted token
    // runs to the closing quote (or to the end when there is none) and the quotes are not
    // part of it; any other token runs to the next white space.
    void nextSpan(int& start, int& length) {
        while (pos_ < end_ && line_.at(pos_).isSpace())
            ++pos_;
        if (pos_ >= end_) {
            start = end_;
            length = 0;
            return;
        }
        if (line_.at(pos_) == QLatin1Char('"')) {
            start = pos_ + 1;
            const int close = line_.indexOf(QLatin1Char('"'), start);
            if (close < 0 || close >= end_) {
                length = end_ - start;
                pos_ = end_;
            } else {
                length = close - start;
                pos_ = close + 1;
            }
            return;
        }
        start = pos_;
        while (pos_ < end_ && !line_.at(pos_).isSpace())
            ++pos_;
        length = pos_ - start;
    }

    QString next() {
        int start = 0;
        int length = 0;
        nextSpan(start, length);
        return line_.mid(start, length);
    }

private:
    const QString& line_;
    const int end_;
    int pos_ = 0;
};

// Locale-independent; a token that is not entirely a number reads as 0.
double toReal(const QString& token) {
    return token.toDouble();
}

// Base 10 with an optional sign; anything else reads as 0.
std::int32_t toInteger(const QString& token) {
    return token.toInt(nullptr, 10);
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
    valid = false;
    wavelength = 1.0;
    k = twoPi;
    withSubstrate = true;
    substrate = Layer();
    layers.clear();
    repeat = 20;
    ignoredLayers = 0;
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

    if (wavelength > 0 && substrate.defined && !layers.isEmpty())
        valid = true;
    else
        reset();
    return true;
}

void Config::readFrom(QIODevice& file) {
    // The stream decodes with the system locale unless a byte-order mark names a Unicode
    // encoding. The file is opened in binary mode: the stream's readLine ends lines at LF and
    // strips a CR before it, and a CR left inside a line is an old-style (CR-only) line end,
    // which text mode would silently delete, gluing "1\r0" into the number 10.
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        int from = 0;
        for (int cr = line.indexOf(QLatin1Char('\r')); cr >= 0;
             cr = line.indexOf(QLatin1Char('\r'), from)) {
            handleLine(line.mid(from, cr - from));
            from = cr + 1;
        }
        handleLine(from == 0 ? line : line.mid(from));
    }
}

void Config::handleLine(const QString& line) {
    int end = line.indexOf(QLatin1Char('#'));
    if (end < 0)
        end = line.size();
    Tokens tokens(line, end);

    int start = 0;
    int length = 0;
    tokens.nextSpan(start, length);
    if (length == 0 || length > 10) // no keyword is longer than "WAVELENGTH"
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
        l.endShape = toShape(tokens.next());
        l.endWidth = toReal(tokens.next());
        // Boundary compositions are the mean of the layer's own and its neighbour's.
        l.endInFraction = (toReal(tokens.next()) + l.inFraction) * 0.5;
        l.endAsFraction = (toReal(tokens.next()) + l.asFraction) * 0.5;
        l.startShape = toShape(tokens.next());
        l.startWidth = toReal(tokens.next());
        l.startInFraction = (toReal(tokens.next()) + l.inFraction) * 0.5;
        l.startAsFraction = (toReal(tokens.next()) + l.asFraction) * 0.5;
        layers.append(l);
    } else if (keyword == QLatin1String("REPEAT")) {
        repeat = toInteger(tokens.next());
    }
}
