#include "structure/structuretext.h"

#include "structure/fittargets.h"
#include "structure/linetokens.h"

#include <QLocale>
#include <QTextCodec>

#include <cmath>

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

QString keywordOf(const QString& line) {
    const Tokens t = tokensOf(line, 1);
    return t.spans.isEmpty() ? QString() : token(line, t, 0).toUpper();
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

QString layerFitTarget(int layer, QChar which) {
    return QStringLiteral("LAYER %1 %2").arg(layer).arg(which.toUpper());
}

StructureText::StructureText(const QByteArray& bytes) {
    QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString decoded = codec->toUnicode(bytes.constData(), int(bytes.size()), &state);
    utf8_ = state.invalidChars == 0 && state.remainingChars == 0;
    text_ = utf8_ ? decoded : QString::fromLatin1(bytes);
    bom_ = utf8_ && bytes.startsWith("\xEF\xBB\xBF");
    if (bom_ && text_.startsWith(QChar(0xFEFF)))
        text_.remove(0, 1);
    split();
}

QByteArray StructureText::bytes() const {
    if (!utf8_)
        return text_.toLatin1();
    return (bom_ ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text_.toUtf8();
}

// Lines end where the reader ends them: at CR LF, LF or a lone CR.
void StructureText::split() {
    lines_.clear();
    layerLines_.clear();
    int start = 0;
    for (int i = 0; i < text_.size(); ++i) {
        const QChar c = text_.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        const bool crlf =
            c == QLatin1Char('\r') && i + 1 < text_.size() && text_.at(i + 1) == QLatin1Char('\n');
        lines_.append({start, i - start, crlf ? 2 : 1});
        i += crlf ? 1 : 0;
        start = i + 1;
    }
    if (start < text_.size())
        lines_.append({start, int(text_.size()) - start, 0});
    for (int i = 0; i < lines_.size(); ++i) {
        if (keywordOf(lineText(i)) == QLatin1String("LAYER"))
            layerLines_.append(i);
    }
}

QString StructureText::eol() const {
    for (const Line& l : lines_) {
        if (l.endLength > 0)
            return text_.mid(l.start + l.length, l.endLength);
    }
    return QStringLiteral("\n");
}

void StructureText::replaceLine(int i, const QString& line) {
    text_.replace(lines_[i].start, lines_[i].length, line);
    split();
}

void StructureText::insertLine(int before, const QString& line) {
    if (before < lines_.size()) {
        text_.insert(lines_[before].start, line + eol());
    } else {
        if (!lines_.isEmpty() && lines_.last().endLength == 0)
            text_ += eol();
        text_ += line + eol();
    }
    split();
}

QString StructureText::lineText(int i) const {
    QString line = realLine(i);
    if (!utf8_) {
        for (QChar& c : line) {
            if (c.unicode() >= 0x80)
                c = QLatin1Char('x');
        }
    }
    return line;
}

QString StructureText::layerArgument(int layer, int position) const {
    if (layer < 0 || layer >= layerLines_.size() || position < 1 || position > LastPosition)
        return QString();
    const int i = layerLines_[layer];
    return token(realLine(i), tokensOf(lineText(i), position + 1), position);
}

bool StructureText::setLayerArgument(int layer, int position, const QString& newToken) {
    if (layer < 0 || layer >= layerLines_.size() || position < 1 || position > LastPosition ||
        !plainToken(newToken))
        return false;
    const int i = layerLines_[layer];
    QString line = realLine(i);
    const Tokens t = tokensOf(lineText(i), position + 1);
    if (position < t.spans.size()) {
        line.replace(t.spans[position].first, t.spans[position].second, newToken);
    } else {
        QString appended = t.unclosed ? QStringLiteral("\"") : QString();
        for (int p = int(t.spans.size()); p < position; ++p) {
            const bool shape = p == EndShape || p == StartShape;
            appended += shape ? QStringLiteral(" A") : QStringLiteral(" 0");
        }
        appended += QLatin1Char(' ') + newToken;
        line.insert(t.end, appended);
    }
    replaceLine(i, line);
    return true;
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
    QString line = realLine(last);
    // From the right, so that the first span keeps its place.
    if (lastFit.max != max)
        line.replace(lastTokens.spans[1].first, lastTokens.spans[1].second, shortestNumber(max));
    if (lastFit.min != min)
        line.replace(lastTokens.spans[0].first, lastTokens.spans[0].second, shortestNumber(min));
    replaceLine(last, line);
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
        const Line& l = lines_[i];
        int start = l.start;
        int length = l.length + l.endLength;
        // A last line without a line end takes the line end before it along.
        if (l.endLength == 0 && i > 0) {
            start -= lines_[i - 1].endLength;
            length += lines_[i - 1].endLength;
        }
        text_.remove(start, length);
        split();
        ++removed;
    }
    return removed;
}

bool StructureText::setStatement(const QString& keyword, double value) {
    const QString word = keyword.toUpper();
    const FitTarget* target = findFitTarget(word, false);
    if (!target || !std::isfinite(value))
        return false;
    int last = -1;
    for (int i = 0; i < lines_.size(); ++i) {
        if (keywordOf(lineText(i)) == word)
            last = i;
    }
    const QString number = shortestNumber(value);
    if (last < 0) {
        insertLine(int(lines_.size()), word + QLatin1Char(' ') + number);
        return true;
    }
    QString line = realLine(last);
    const Tokens t = tokensOf(lineText(last), 2);
    if (t.spans.size() > 1)
        line.replace(t.spans[1].first, t.spans[1].second, number);
    else
        line.insert(t.end, (t.unclosed ? QStringLiteral("\" ") : QStringLiteral(" ")) + number);
    replaceLine(last, line);
    return true;
}
