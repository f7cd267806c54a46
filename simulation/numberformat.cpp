#include "simulation/numberformat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr int significantDigits = 6;

char* copyText(char* out, const char* text) {
    return std::copy(text, text + std::strlen(text), out);
}

// Whether the exact value of `value` lies halfway between two decimals of six significant
// digits, i.e. it is a decimal of exactly seven significant digits ending in 5. Such a value
// is an integer with a 53-bit odd part (from 1e6 on) or a fraction whose binary significand
// ends in at least 29 zero bits (10^7 < 2^24, so only few bits are left), which rules out
// almost every double before any digit is computed.
bool isHalfway(double value) {
    const double magnitude = std::fabs(value);
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool wholeCandidate =
        magnitude >= 1e6 && magnitude < 1e23 && magnitude == std::floor(magnitude);
    const bool fractionCandidate = magnitude < 1e7 && (bits & ((std::uint64_t(1) << 29) - 1)) == 0;
    if (!wholeCandidate && !fractionCandidate)
        return false;

    // Seven significant digits, correctly rounded: "d.dddddde+XX".
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, magnitude,
                                      std::chars_format::scientific, significantDigits);
    if (text[significantDigits + 1] != '5')
        return false;
    std::int64_t digits = text[0] - '0';
    for (int i = 2; i <= significantDigits + 1; ++i)
        digits = digits * 10 + (text[i] - '0');
    int exponent = 0;
    std::from_chars(text + significantDigits + 3 + (text[significantDigits + 3] == '+'), result.ptr,
                    exponent);
    // value = digits * 10^(exponent - 6), checked exactly: fma rounds only once, so it
    // gives zero only when the product equals the value.
    const int scale = exponent - significantDigits;
    static const double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (scale >= 0)
        return scale <= 22 && std::fma(double(digits), powers[scale], -magnitude) == 0;
    return -scale <= 22 && std::fma(magnitude, powers[-scale], -double(digits)) == 0;
}

} // namespace

char* formatDouble(char* out, double value) {
    if (std::isnan(value))
        return copyText(out, "nan");
    if (std::isinf(value))
        return copyText(out, value < 0 ? "-inf" : "inf");
    if (value == 0) {
        *out = '0';
        return out + 1;
    }
    // std::to_chars rounds a halfway value to even; the text stream rounds it away from
    // zero. The next double outward is no longer halfway and rounds the stream's way, to
    // the same six digits and the same notation.
    if (isHalfway(value))
        value = std::nextafter(value, value < 0 ? -std::numeric_limits<double>::infinity()
                                                : std::numeric_limits<double>::infinity());
    return std::to_chars(out, out + maxFormattedDoubleLength, value, std::chars_format::general,
                         significantDigits)
        .ptr;
}

QByteArray formatDouble(double value) {
    char text[maxFormattedDoubleLength];
    return QByteArray(text, int(formatDouble(text, value) - text));
}

char* formatDoubleDigits(char* out, double value, int digits) {
    if (std::isnan(value))
        return copyText(out, "nan");
    if (std::isinf(value))
        return copyText(out, value < 0 ? "-inf" : "inf");
    if (value == 0) {
        *out = '0';
        return out + 1;
    }
    return std::to_chars(out, out + maxFormattedDigitsLength, value, std::chars_format::general,
                         std::clamp(digits, 1, 17))
        .ptr;
}
