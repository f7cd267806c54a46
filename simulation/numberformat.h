#pragma once

#include <QByteArray>

// Doubles written exactly as a QTextStream with default settings writes them, only faster:
// 6 significant digits; fixed notation unless the decimal exponent is below -4 or at least
// 6, then scientific with a signed exponent of at least two digits; trailing zeros and a
// trailing point removed. Like the text stream, a value halfway between two 6-digit
// decimals rounds away from zero (123456.5 gives 123457), negative zero is written as 0,
// infinities as inf and -inf, and every NaN, whatever its sign, as nan.

// The longest text formatDouble writes, e.g. "-1.23457e-308".
constexpr int maxFormattedDoubleLength = 13;

// Writes `value` at `out`, which must have room for maxFormattedDoubleLength characters,
// without a terminating zero; returns the end of the text written.
char* formatDouble(char* out, double value);

// The same text as a byte array.
QByteArray formatDouble(double value);

// The longest text formatDoubleDigits writes (17 digits, sign, point, exponent).
constexpr int maxFormattedDigitsLength = 25;

// `value` with `digits` significant digits (1 to 17) in the same notation rules, for result
// files that need more than six digits; inf, -inf and nan as above. Room for
// maxFormattedDigitsLength characters at `out`.
char* formatDoubleDigits(char* out, double value, int digits);
