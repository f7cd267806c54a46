#include "measured/scanformats.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace scanformats {

bool toNumber(const char* begin, const char* end, double& value) {
    // from_chars is locale-independent (a program that set a German locale still reads
    // "1.5") and allocates nothing, which matters for ten million points. It refuses the
    // leading '+' some instruments write.
    if (end - begin > 1 && *begin == '+' && begin[1] != '-' && begin[1] != '+')
        ++begin;
    if (begin == end)
        return false;
    const std::from_chars_result r = std::from_chars(begin, end, value);
    if (r.ptr != end)
        return false;
    if (r.ec == std::errc::result_out_of_range) {
        // Too large reads as infinite (refused later), too small as zero.
        value = QByteArray(begin, int(end - begin)).toDouble();
        return true;
    }
    return r.ec == std::errc();
}

bool toNumber(const QByteArray& token, double& value) {
    const QByteArray t = token.trimmed();
    return toNumber(t.constData(), t.constData() + t.size(), value);
}

bool LineReader::next(const char*& begin, const char*& end) {
    if (pos_ >= end_)
        return false;
    begin = pos_;
    const char* p = pos_;
    while (p < end_ && *p != '\n' && *p != '\r')
        ++p;
    end = p;
    if (p < end_ && *p == '\r')
        ++p;
    if (p < end_ && *p == '\n')
        ++p;
    pos_ = p;
    ++line_;
    return true;
}

bool Fields::next(const char*& begin, const char*& end) {
    while (pos_ < end_ && isSeparator(*pos_))
        ++pos_;
    if (pos_ >= end_)
        return false;
    begin = pos_;
    while (pos_ < end_ && !isSeparator(*pos_))
        ++pos_;
    end = pos_;
    return true;
}

void trim(const char*& begin, const char*& end) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; };
    while (begin < end && space(*begin))
        ++begin;
    while (end > begin && space(end[-1]))
        --end;
}

bool firstLineIs(LineReader& lines, const char* marker) {
    const char* b = nullptr;
    const char* e = nullptr;
    if (!lines.next(b, e))
        return false;
    trim(b, e);
    return QByteArray::fromRawData(b, int(e - b)) == marker;
}

namespace {
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}
} // namespace

bool startsWith(const char* begin, const char* end, const char* prefix) {
    for (; *prefix; ++prefix, ++begin) {
        if (begin == end || lower(*begin) != lower(*prefix))
            return false;
    }
    return true;
}

bool equalsNoCase(const char* begin, const char* end, const char* word) {
    return std::size_t(end - begin) == std::strlen(word) && startsWith(begin, end, word);
}

QString quoted(const QString& text) {
    QString shown = text.left(40);
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char('?');
    }
    if (text.size() > 40)
        shown += QStringLiteral("...");
    return QLatin1Char('\'') + shown + QLatin1Char('\'');
}

QString quoted(const char* begin, const char* end) {
    return quoted(QString::fromUtf8(begin, int(std::min<std::ptrdiff_t>(end - begin, 160))));
}

} // namespace scanformats
