#include "simulation/numberformat.h"

#include <QTextStream>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

// The formatter against what it replaces, a QTextStream with default settings. The sweep
// draws two million values with a fixed seed; XRD_FORMAT_SWEEP=N draws N instead.
class TestNumberFormat : public QObject {
    Q_OBJECT

    static QByteArray streamed(double value) {
        QString text;
        QTextStream(&text) << value;
        return text.toLatin1();
    }

    // Any bit pattern (NaNs, infinities, subnormals), seven-digit decimals ending in 5 (the
    // halfway points of six digits) and values of few bits (often exactly halfway), powers of
    // ten; each possibly moved to a neighbouring double.
    static double draw(std::mt19937_64& random, std::uint64_t index) {
        const std::uint64_t bits = random();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        const int shift = int(random() % 3) - 1;
        switch (index % 4) {
        case 0:
            return v;
        case 1:
            v = (1000005 + 10 * double(bits % 899999)) * std::pow(10.0, int(random() % 40) - 20);
            break;
        case 2:
            v = std::ldexp(double(bits % (1 << 24)) - (1 << 23), int(random() % 100) - 60);
            break;
        default:
            v = std::pow(10.0, int(bits % 632) - 323);
        }
        return shift == 0 ? v : std::nextafter(v, shift * HUGE_VAL);
    }

private slots:
    void specials_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("expected");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("negative zero") << -0.0 << QByteArray("0");
        QTest::newRow("negative nan") << -nan << QByteArray("nan");
        QTest::newRow("-inf") << -HUGE_VAL << QByteArray("-inf");
        QTest::newRow("subnormal")
            << -std::numeric_limits<double>::denorm_min() * 3 << QByteArray("-1.4822e-323");
        QTest::newRow("largest") << std::numeric_limits<double>::max()
                                 << QByteArray("1.79769e+308");
        QTest::newRow("1e-4 is fixed") << 1e-4 << QByteArray("0.0001");
        QTest::newRow("1e-5") << 1e-5 << QByteArray("1e-05");
        QTest::newRow("rounds up to 1e6") << 999999.5 << QByteArray("1e+06");
        QTest::newRow("halfway, away from zero") << -12345.25 << QByteArray("-12345.3");
        QTest::newRow("halfway 2^-9") << 0.001953125 << QByteArray("0.00195313");
        QTest::newRow("halfway 5^10") << 9765625.0 << QByteArray("9.76563e+06");
        QTest::newRow("halfway at 1e16") << 1000005e10 << QByteArray("1.00001e+16");
        QTest::newRow("below halfway") << std::nextafter(12345.25, 0.0) << QByteArray("12345.2");
    }

    void specials() {
        QFETCH(double, value);
        QFETCH(QByteArray, expected);
        QCOMPARE(streamed(value), expected);
        char text[maxFormattedDoubleLength + 1] = {};
        QCOMPARE(QByteArray(text, int(formatDouble(text, value) - text)), expected);
        QCOMPARE(text[maxFormattedDoubleLength], '\0');
    }

    void sweepAgainstTextStream() {
        const std::uint64_t count = qEnvironmentVariableIsSet("XRD_FORMAT_SWEEP")
                                        ? qEnvironmentVariable("XRD_FORMAT_SWEEP").toULongLong()
                                        : 2000000;
        std::mt19937_64 random(20240611);
        std::vector<double> values;
        for (std::uint64_t i = 0; i < count;) {
            values.clear();
            for (; i < count && values.size() < 100000; ++i)
                values.push_back(draw(random, i));
            QString reference;
            QTextStream stream(&reference);
            QByteArray ours;
            for (double v : values) {
                stream << v << '\n';
                ours += formatDouble(v) + '\n';
            }
            stream.flush();
            if (ours != reference.toLatin1()) {
                for (double v : values)
                    QCOMPARE(formatDouble(v), streamed(v));
            }
        }
        qInfo("%llu values formatted as the text stream formats them", qulonglong(count));
    }
};

QTEST_GUILESS_MAIN(TestNumberFormat)
#include "tst_numberformat.moc"
