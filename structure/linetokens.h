#pragma once

#include <QString>

// Walks the tokens of one structure-file line, left to right; shared by the reader and the
// fitted-file writer so that both see the same tokens. `end` is where the comment starts (or
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
