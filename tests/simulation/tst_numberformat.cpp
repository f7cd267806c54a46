#include "numberformat.h"

#include <QTextStream>
#include <QtTest>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

// The formatter against what it replaces: a QTextStream with default settings. The sweep
// draws a few million values with a fixed seed; XRD_FORMAT_SWEEP=N draws N instead.
class TestNumberFormat : public QObject {
    Q_OBJECT

private:
    static QByteArray streamed(double value) {
        QString text;
        QTextStream(&text) << value;
        return text.toLatin1();
    }

    // Mostly the awkward cases: exact and near halfway values, powers of ten and their
    // neighbours, subnormals, and any bit pattern at all (NaNs and infinities included).
    static double draw(std::mt19937_64& random, std::uint64_t index) {
        std::uniform_int_distribution<int> decade(-14, 24);
        const auto neighbour = [&](double v) {
            switch (random() % 3) {
            case 0:
                return std::nextafter(v, -HUGE_VAL);
            case 1:
                return std::nextafter(v, HUGE_VAL);
            default:
                return v;
            }
        };
        switch (index % 6) {
        case 0: { // any bits
            const std::uint64_t bits = random();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            return v;
        }
        case 1: // seven digits ending in 5, the halfway point of six
            return neighbour((1000000 + 10 * double(random() % 900000) + 5) *
                             std::pow(10.0, decade(random) - 6));
        case 2: { // few significant bits: many values that are exactly halfway
            const double m = double(random() % (1u << 24)) * (random() % 2 ? 1 : -1);
            return neighbour(std::ldexp(m, int(random() % 100) - 60));
        }
        case 3: // powers of ten across the whole range
            return neighbour(std::pow(10.0, int(random() % 632) - 323));
        case 4: { // subnormals
            const std::uint64_t bits =
                (random() & ((std::uint64_t(1) << 52) - 1)) | (random() & (std::uint64_t(1) << 63));
            double v;
            std::memcpy(&v, &bits, sizeof v);
            return v;
        }
        default: // ordinary magnitudes, as in result files
            return std::uniform_real_distribution<double>(-1, 1)(random) *
                   std::pow(10.0, decade(random));
        }
    }

private slots:
    void specials_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("expected");
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double tiny = std::numeric_limits<double>::denorm_min();
        QTest::newRow("zero") << 0.0 << QByteArray("0");
        QTest::newRow("negative zero") << -0.0 << QByteArray("0");
        QTest::newRow("nan") << nan << QByteArray("nan");
        QTest::newRow("negative nan") << -nan << QByteArray("nan");
        QTest::newRow("inf") << inf << QByteArray("inf");
        QTest::newRow("-inf") << -inf << QByteArray("-inf");
        QTest::newRow("smallest subnormal") << tiny << QByteArray("4.94066e-324");
        QTest::newRow("negative subnormal") << -tiny * 3 << QByteArray("-1.4822e-323");
        QTest::newRow("largest") << -std::numeric_limits<double>::max()
                                 << QByteArray("-1.79769e+308");
        QTest::newRow("third") << 1.0 / 3 << QByteArray("0.333333");
        QTest::newRow("1e-4 is fixed") << 1e-4 << QByteArray("0.0001");
        QTest::newRow("below 1e-4") << std::nextafter(1e-4, 0.0) << QByteArray("0.0001");
        QTest::newRow("1e-5") << 1e-5 << QByteArray("1e-05");
        QTest::newRow("999999.4") << 999999.4 << QByteArray("999999");
        QTest::newRow("rounds up to 1e6") << 999999.5 << QByteArray("1e+06");
        QTest::newRow("0.0000999999951") << 0.0000999999951 << QByteArray("0.0001");
        QTest::newRow("halfway rounds away") << 123456.5 << QByteArray("123457");
        QTest::newRow("halfway fraction") << 12345.25 << QByteArray("12345.3");
        QTest::newRow("halfway negative") << -1234.125 << QByteArray("-1234.13");
        QTest::newRow("halfway 2^-9") << 0.001953125 << QByteArray("0.00195313");
        QTest::newRow("halfway 5^10") << 9765625.0 << QByteArray("9.76563e+06");
        QTest::newRow("just below halfway")
            << std::nextafter(12345.25, 0.0) << QByteArray("12345.2");
        QTest::newRow("halfway, odd digit") << 1.234375 << QByteArray("1.23438");
        QTest::newRow("halfway integer") << 1234565.0 << QByteArray("1.23457e+06");
        QTest::newRow("halfway 1e16 scale") << 1000005e10 << QByteArray("1.00001e+16");
        QTest::newRow("three-digit exponent") << 2e-100 << QByteArray("2e-100");
    }

    void specials() {
        QFETCH(double, value);
        QFETCH(QByteArray, expected);
        QCOMPARE(formatDouble(value), expected);
        QCOMPARE(streamed(value), expected);
        char text[maxFormattedDoubleLength + 1];
        text[maxFormattedDoubleLength] = '#';
        QCOMPARE(formatDouble(text, value) - text, qsizetype(expected.size()));
        QCOMPARE(text[maxFormattedDoubleLength], '#');
    }

    void sweepAgainstTextStream() {
        const std::uint64_t count = qEnvironmentVariableIsSet("XRD_FORMAT_SWEEP")
                                        ? qEnvironmentVariable("XRD_FORMAT_SWEEP").toULongLong()
                                        : 2000000;
        std::mt19937_64 random(20240611);
        const std::uint64_t batch = 100000;
        std::vector<double> values;
        for (std::uint64_t done = 0; done < count; done += batch) {
            values.clear();
            for (std::uint64_t i = done; i < qMin(count, done + batch); ++i)
                values.push_back(draw(random, i));
            QString reference;
            QTextStream stream(&reference);
            QByteArray ours(int(values.size()) * (maxFormattedDoubleLength + 1), Qt::Uninitialized);
            char* out = ours.data();
            for (double v : values) {
                stream << v << '\n';
                out = formatDouble(out, v);
                *out++ = '\n';
            }
            stream.flush();
            ours.resize(int(out - ours.constData()));
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
