#pragma once

#include <QByteArray>
#include <QtTest>

#include <cmath>
#include <cstdio>

// QCOMPARE treats doubles fuzzily (about 12 digits); the reader and the simulation promise
// the last digit, so these helpers compare bit for bit (NaN equal to NaN) and print 17
// significant digits when they differ.
namespace xrdtest {

inline bool sameDouble(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

inline QByteArray describePair(double actual, double expected) {
    char text[128];
    std::snprintf(text, sizeof text, "actual %.17g, expected %.17g", actual, expected);
    return QByteArray(text);
}

// Relative difference scaled by `scale` (absolute when scale is 0); infinite or NaN values
// must match exactly.
inline bool closeTo(double actual, double expected, double relTol, double scale = 0.0) {
    if (!std::isfinite(actual) || !std::isfinite(expected))
        return sameDouble(actual, expected);
    const double reference = scale > 0.0 ? scale : std::fabs(expected);
    return std::fabs(actual - expected) <= relTol * reference;
}

} // namespace xrdtest

#define XRD_COMPARE_EXACT(actual, expected)                                                        \
    do {                                                                                           \
        const double xrdActual_ = (actual);                                                        \
        const double xrdExpected_ = (expected);                                                    \
        QVERIFY2(xrdtest::sameDouble(xrdActual_, xrdExpected_),                                    \
                 (QByteArray(#actual " != " #expected ": ") +                                      \
                  xrdtest::describePair(xrdActual_, xrdExpected_))                                 \
                     .constData());                                                                \
    } while (false)

#define XRD_COMPARE_CLOSE(actual, expected, relTol)                                                \
    do {                                                                                           \
        const double xrdActual_ = (actual);                                                        \
        const double xrdExpected_ = (expected);                                                    \
        QVERIFY2(xrdtest::closeTo(xrdActual_, xrdExpected_, (relTol)),                             \
                 (QByteArray(#actual " not close to " #expected ": ") +                            \
                  xrdtest::describePair(xrdActual_, xrdExpected_))                                 \
                     .constData());                                                                \
    } while (false)
