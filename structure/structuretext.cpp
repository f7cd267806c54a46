#include "structure/structuretext.h"

#include "structure/fittargets.h"

#include <QLocale>
#include <QTextCodec>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <initializer_list>

namespace {

// Start and length of the tokens of a line, keyword first, up to `wanted` of them; `end` is
// behind the last one taken (behind its closing quote).
struct Tokens {
    QVector<QPair<int, int>> spans;
    int end = 0;
    bool unclosed = false;
};

Tokens tokensOf(const QString& line, int wanted) {
    const int stop = LineTokens::commentStart(line);
    LineTokens tokens(line, stop);
    Tokens out;
    for (int k = 0; k < wanted; ++k) {
        int start = 0;
        int length = 0;
        tokens.nextSpan(start, length);
        if (start == stop && length == 0 && !tokens.lastUnclosed())
            break;
        out.spans.append({start, length});
        out.end = tokens.position();
        out.unclosed = tokens.lastUnclosed();
    }
    return out;
}

QString token(const QString& line, const Tokens& t, int k) {
    return k < t.spans.size() ? line.mid(t.spans[k].first, t.spans[k].second) : QString();
}

// A token that reads back as itself: not empty, and nothing the tokenizer or the comment
// would split off.
bool plainToken(const QString& text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('#'))
            return false;
    }
    return true;
}

// The target of a FIT line as the reader takes it, with its bounds; false for a line the
// reader ignores.
bool readFitLine(const QString& line, StructureText::Fit& fit, Tokens& tokens) {
    tokens = tokensOf(line, 6);
    if (token(line, tokens, 0).toUpper() != QLatin1String("FIT"))
        return false;
    const QString word = token(line, tokens, 1).toUpper();
    int next = 2;
    if (word == QLatin1String("LAYER")) {
        bool ok = false;
        const int layer = token(line, tokens, 2).toInt(&ok, 10);
        const QString which = token(line, tokens, 3).toUpper();
        if (!ok || layer < 1 || !findFitTarget(which, true))
            return false;
        fit.target = QStringLiteral("LAYER %1 %2").arg(layer).arg(which);
        next = 4;
    } else {
        if (!findFitTarget(word, false))
            return false;
        fit.target = word;
    }
    bool okMin = false;
    bool okMax = false;
    fit.min = token(line, tokens, next).toDouble(&okMin);
    fit.max = token(line, tokens, next + 1).toDouble(&okMax);
    // The bounds' spans are the last two taken.
    tokens.spans = tokens.spans.mid(next, 2);
    return okMin && okMax;
}

// A target as the reader would name it, upper case, or empty.
QString canonicalTarget(const QString& target) {
    Tokens t = tokensOf(target, 3);
    const QString word = token(target, t, 0).toUpper();
    if (word == QLatin1String("LAYER")) {
        bool ok = false;
        const int layer = token(target, t, 1).toInt(&ok, 10);
        const QString which = token(target, t, 2).toUpper();
        if (!ok || layer < 1 || !findFitTarget(which, true))
            return QString();
        return QStringLiteral("LAYER %1 %2").arg(layer).arg(which);
    }
    return findFitTarget(word, false) ? word : QString();
}

} // namespace

QString shortestNumber(double value) {
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString layerFitTarget(int layer, const QString& which) {
    return QStringLiteral("LAYER %1 %2").arg(layer).arg(which.toUpper());
}

StructureText::StructureText(const QByteArray& bytes) {
    const auto starts = [&bytes](std::initializer_list<unsigned char> mark) {
        if (bytes.size() < int(mark.size()))
            return false;
        return std::equal(mark.begin(), mark.end(),
                          reinterpret_cast<const unsigned char*>(bytes.constData()));
    };
    if (starts({0xFF, 0xFE, 0, 0}) || starts({0, 0, 0xFE, 0xFF})) {
        encoding_ = Unsupported; // UTF-32: read as nothing, written never
        exact_ = false;
        return;
    }
    if (starts({0xFF, 0xFE}) || starts({0xFE, 0xFF})) {
        // UTF-16 unit by unit, so that any sequence of units (a lone surrogate too) comes
        // back as it was; an odd last byte does not.
        encoding_ = bytes.at(0) == '\xFF' ? Utf16LittleEndian : Utf16BigEndian;
        const int units = int((bytes.size() - 2) / 2);
        text_.resize(units);
        const auto* data = reinterpret_cast<const uchar*>(bytes.constData()) + 2;
        for (int i = 0; i < units; ++i) {
            const uchar a = data[2 * std::ptrdiff_t(i)];
            const uchar b = data[2 * std::ptrdiff_t(i) + 1];
            // QChar(cell, row): the low byte first.
            text_[i] = encoding_ == Utf16LittleEndian ? QChar(a, b) : QChar(b, a);
        }
        exact_ = bytes.size() % 2 == 0;
        split();
        return;
    }
    QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString decoded = codec->toUnicode(bytes.constData(), int(bytes.size()), &state);
    const bool utf8 = state.invalidChars == 0 && state.remainingChars == 0;
    encoding_ = utf8 ? Utf8 : Latin1;
    // With its length: a NUL byte is a character like any other.
    text_ = utf8 ? decoded : QString::fromLatin1(bytes.constData(), int(bytes.size()));
    bom_ = utf8 && starts({0xEF, 0xBB, 0xBF});
    if (bom_ && text_.startsWith(QChar(0xFEFF)))
        text_.remove(0, 1);
    exact_ = this->bytes() == bytes;
    split();
}

QByteArray StructureText::bytes() const {
    switch (encoding_) {
    case Latin1:
        return text_.toLatin1();
    case Utf16LittleEndian:
    case Utf16BigEndian: {
        const bool little = encoding_ == Utf16LittleEndian;
        QByteArray out(2 + 2 * text_.size(), Qt::Uninitialized);
        char* o = out.data();
        *o++ = little ? '\xFF' : '\xFE';
        *o++ = little ? '\xFE' : '\xFF';
        for (const QChar c : text_) {
            *o++ = char(little ? c.cell() : c.row());
            *o++ = char(little ? c.row() : c.cell());
        }
        return out;
    }
    case Unsupported:
        return QByteArray();
    case Utf8:
        break;
    }
    return (bom_ ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text_.toUtf8();
}

void StructureText::split() {
    lines_ = splitLines(text_);
    layerLines_.clear();
    for (int i = 0; i < lines_.size(); ++i) {
        if (keyword(i) == QLatin1String("LAYER"))
            layerLines_.append(i);
    }
}

void StructureText::replace(int start, int length, const QString& with) {
    text_.replace(start, length, with);
    replaced_ += length;
    split();
}

QString StructureText::lineEnd() const {
    for (const LineSpan& l : lines_) {
        if (l.endLength > 0)
            return text_.mid(l.start + l.length, l.endLength);
    }
    return QStringLiteral("\n");
}

void StructureText::replaceLine(int i, const QString& line) {
    if (i >= 0 && i < lines_.size() && line != this->line(i))
        replace(lines_[i].start, lines_[i].length, line);
}

void StructureText::insertLine(int before, const QString& line, const QString& eol) {
    const QString end = eol.isEmpty() ? lineEnd() : eol;
    if (before >= 0 && before < lines_.size()) {
        replace(lines_[before].start, 0, line + end);
        return;
    }
    const bool open = !lines_.isEmpty() && lines_.last().endLength == 0;
    replace(int(text_.size()), 0, (open ? end : QString()) + line + end);
}

void StructureText::removeLine(int i) {
    if (i < 0 || i >= lines_.size())
        return;
    const LineSpan& l = lines_[i];
    int start = l.start;
    int length = l.length + l.endLength;
    // A last line without a line end takes the line end before it along.
    if (l.endLength == 0 && i > 0) {
        start -= lines_[i - 1].endLength;
        length += lines_[i - 1].endLength;
    }
    ++removedLines_;
    replace(start, length, QString());
}

QString StructureText::lineText(int i) const {
    QString line = this->line(i);
    if (encoding_ == Latin1) {
        for (QChar& c : line) {
            if (c.unicode() >= 0x80)
                c = QLatin1Char('x');
        }
    }
    return line;
}

int StructureText::lastLine(const std::function<bool(int)>& matches) const {
    for (int i = int(lines_.size()) - 1; i >= 0; --i) {
        if (matches(i))
            return i;
    }
    return -1;
}

QString StructureText::argument(int i, int position) const {
    if (i < 0 || i >= lines_.size() || position < 1)
        return QString();
    return token(line(i), tokensOf(lineText(i), position + 1), position);
}

bool StructureText::setArgument(int i, int position, const QString& newToken, bool layerDefaults) {
    if (i < 0 || i >= lines_.size() || position < 1 || !plainToken(newToken))
        return false;
    const Tokens t = tokensOf(lineText(i), position + 1);
    const int start = lines_[i].start;
    if (position < t.spans.size()) {
        replace(start + t.spans[position].first, t.spans[position].second, newToken);
        return true;
    }
    QString appended = t.unclosed ? QStringLiteral("\"") : QString();
    for (int p = int(t.spans.size()); p < position; ++p) {
        const bool shape = layerDefaults && (p == EndShape || p == StartShape);
        appended += shape ? QStringLiteral(" A") : QStringLiteral(" 0");
    }
    appended += QLatin1Char(' ') + newToken;
    replace(start + (t.spans.isEmpty() ? 0 : t.end), 0, appended);
    return true;
}

QString StructureText::layerArgument(int layer, int position) const {
    if (position > LastPosition)
        return QString();
    return argument(layerLine(layer), position);
}

bool StructureText::setLayerArgument(int layer, int position, const QString& newToken) {
    return position <= LastPosition && setArgument(layerLine(layer), position, newToken, true);
}

bool StructureText::setLayerNumber(int layer, int position, double value) {
    return std::isfinite(value) && setLayerArgument(layer, position, shortestNumber(value));
}

QVector<StructureText::Fit> StructureText::fits() const {
    QVector<Fit> out;
    for (int i = 0; i < lines_.size(); ++i) {
        Fit f;
        Tokens t;
        if (readFitLine(lineText(i), f, t))
            out.append(f);
    }
    return out;
}

bool StructureText::fit(const QString& target, Fit& out) const {
    const QString wanted = canonicalTarget(target);
    bool found = false;
    for (const Fit& f : fits()) {
        if (f.target == wanted) {
            out = f;
            found = true;
        }
    }
    return found;
}

bool StructureText::setFit(const QString& target, double min, double max) {
    const QString wanted = canonicalTarget(target);
    if (wanted.isEmpty() || !std::isfinite(min) || !std::isfinite(max))
        return false;
    int last = -1;
    int lastAny = -1;
    Fit lastFit;
    Tokens lastTokens;
    for (int i = 0; i < lines_.size(); ++i) {
        Fit f;
        Tokens t;
        if (!readFitLine(lineText(i), f, t))
            continue;
        lastAny = i;
        if (f.target == wanted) {
            last = i;
            lastFit = f;
            lastTokens = t;
        }
    }
    if (last < 0) {
        insertLine(
            lastAny < 0 ? int(lines_.size()) : lastAny + 1,
            QStringLiteral("FIT %1 %2 %3").arg(wanted, shortestNumber(min), shortestNumber(max)));
        return true;
    }
    const int start = lines_[last].start;
    // From the right, so that the first span keeps its place.
    if (lastFit.max != max)
        replace(start + lastTokens.spans[1].first, lastTokens.spans[1].second, shortestNumber(max));
    if (lastFit.min != min)
        replace(start + lastTokens.spans[0].first, lastTokens.spans[0].second, shortestNumber(min));
    return true;
}

int StructureText::removeFit(const QString& target) {
    const QString wanted = canonicalTarget(target);
    int removed = 0;
    for (int i = int(lines_.size()) - 1; i >= 0; --i) {
        Fit f;
        Tokens t;
        if (!readFitLine(lineText(i), f, t) || f.target != wanted)
            continue;
        removeLine(i);
        ++removed;
    }
    return removed;
}

bool StructureText::setStatement(const QString& keyword, const QString& newToken) {
    const QString word = keyword.toUpper();
    if (!plainToken(newToken) || !plainToken(word) || word.size() > LineTokens::longestKeyword)
        return false;
    const int last = lastLine([&](int i) { return this->keyword(i) == word; });
    if (last < 0) {
        insertLine(int(lines_.size()), word + QLatin1Char(' ') + newToken);
        return true;
    }
    return setArgument(last, 1, newToken);
}

bool StructureText::setStatement(const QString& keyword, double value) {
    const FitTarget* target = findFitTarget(keyword.toUpper(), false);
    return target && std::isfinite(value) && setStatement(keyword, shortestNumber(value));
}

void StructureText::setStatementLine(const QString& keyword, const QString& line) {
    const QString word = keyword.toUpper();
    int first = -1;
    for (int i = int(lines_.size()) - 1; i >= 0; --i) {
        if (this->keyword(i) != word)
            continue;
        if (first >= 0)
            removeLine(first); // a later one: the lines before it keep their places
        first = i;
    }
    if (first >= 0 && line.isEmpty())
        removeLine(first);
    else if (first >= 0)
        replaceLine(first, line);
    else if (!line.isEmpty())
        insertLine(int(lines_.size()), line);
}

int StructureText::relaxationLine(int layer) const {
    return lastLine([&](int i) {
        if (keyword(i) != QLatin1String("RELAXATION"))
            return false;
        bool ok = false;
        return argument(i, 1).toInt(&ok, 10) == layer && ok;
    });
}

bool StructureText::setRelaxation(int layer, const QString& newToken) {
    if (layer < 1 || !plainToken(newToken))
        return false;
    const int last = relaxationLine(layer);
    if (last >= 0)
        return setArgument(last, 2, newToken);
    insertLine(int(lines_.size()), QStringLiteral("RELAXATION %1 %2").arg(layer).arg(newToken));
    return true;
}

QString StructureText::relaxation(int layer) const {
    return argument(relaxationLine(layer), 2);
}

QString StructureText::statementArgument(const QString& keyword) const {
    const QString word = keyword.toUpper();
    return argument(lastLine([&](int i) { return this->keyword(i) == word; }), 1);
}
