#pragma once

#include <QString>
#include <QVector>

// The syntax of a structure file's lines, in one place for the reader and the one writer
// (StructureText): where lines end, which word is a line's keyword, and its tokens.

// One line of a text: where it starts, its length and the length of its line end (0 for a
// last line without one).
struct LineSpan {
    int start = 0;
    int length = 0;
    int endLength = 0;
};

// Lines end at CR LF, LF or a lone CR (an old-style line end: "1\r0" is two lines, never the
// number 10). Returns the length of the line end at `text[i]` (2, 1, or 0 when none starts
// there). A CR that is the last character of `text` ends a line only when `final`: more text
// may follow it with an LF; -1 then says the answer is still open.
inline int lineEndAt(const QString& text, int i, bool final = true) {
    const QChar c = text.at(i);
    if (c == QLatin1Char('\n'))
        return 1;
    if (c != QLatin1Char('\r'))
        return 0;
    if (i + 1 < text.size())
        return text.at(i + 1) == QLatin1Char('\n') ? 2 : 1;
    return final ? 1 : -1;
}

// The lines of `text` from `from` on; an empty last line (the text ends with its line end)
// is no line.
inline QVector<LineSpan> splitLines(const QString& text, int from = 0) {
    QVector<LineSpan> lines;
    int start = from;
    for (int i = from; i < text.size(); ++i) {
        const int end = lineEndAt(text, i);
        if (end == 0)
            continue;
        lines.append({start, i - start, end});
        i += end - 1;
        start = i + 1;
    }
    if (start < text.size())
        lines.append({start, int(text.size()) - start, 0});
    return lines;
}

// Walks the tokens of one structure-file line, left to right; shared by the reader and the
// writer so that both see the same tokens. `end` is where the comment starts (or
// the line's length), so nothing after a "#" is ever seen, not even inside quotes.
class LineTokens {
public:
    LineTokens(const QString& line, int end) : line_(line), end_(end) {}

    // Where the comment of `line` starts, or its length when it has none.
    static int commentStart(const QString& line) {
        const int hash = line.indexOf(QLatin1Char('#'));
        return hash < 0 ? line.size() : hash;
    }

    // Start and length of the next token; the position moves behind it. A quoted token
    // runs to the closing quote (or to the end when there is none) and the quotes are not
    // part of it; any other token runs to the next white space.
    void nextSpan(int& start, int& length) {
        unclosed_ = false;
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
                unclosed_ = true;
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

    // No keyword is longer than "WAVELENGTH": a longer first token is no statement.
    static constexpr int longestKeyword = 10;

    // The keyword of a line: its first token upper-cased, or empty when the line has none
    // or it is longer than any keyword. Moves behind it; `start` and `length` (when given)
    // say where the first token is.
    QString nextKeyword(int* start = nullptr, int* length = nullptr) {
        int s = 0;
        int n = 0;
        nextSpan(s, n);
        if (start)
            *start = s;
        if (length)
            *length = n;
        if (n == 0 || n > longestKeyword)
            return QString();
        return line_.mid(s, n).toUpper();
    }

    // The keyword of `line` as the reader takes it.
    static QString keywordOf(const QString& line) {
        LineTokens tokens(line, commentStart(line));
        return tokens.nextKeyword();
    }

    QString next() {
        int start = 0;
        int length = 0;
        nextSpan(start, length);
        return line_.mid(start, length);
    }

    // Just behind the last token taken (behind its closing quote, if it had one).
    int position() const { return pos_; }
    // The last token taken opened a quote that the line never closes.
    bool lastUnclosed() const { return unclosed_; }

private:
    const QString& line_;
    const int end_;
    int pos_ = 0;
    bool unclosed_ = false;
};
