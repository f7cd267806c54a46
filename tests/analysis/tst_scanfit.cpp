// The road from a measured scan to numbers: the overlay's agreement on a real scan, the -meas
// file, and fits that recover known structures (synthetic scans with Poisson noise) and land
// near a peer's answer for the real scan.

#include "analysis/comparison.h"
#include "analysis/fitroad.h"
#include "analysis/fitstart.h"
#include "analysis/instrument.h"
#include "analysis/scanroad.h"
#include "measured/measuredscan.h"
#include "simulation/calculation.h"
#include "simulation/expansion.h"
#include "simulation/model.h"
#include "simulation/physicsstack.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "structure/fitparameters.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

namespace {

const QString kRealScan = QStringLiteral(XRD_TEST_DATA_DIR "/measured/gaasp-on-gaas-004.x00");
// The real 3-period InGaAs/GaAs superlattice; a peer fitted In 0.2545 and a period of 254.6 Å
// (7.41 nm of InGaAs, 18.05 nm of GaAs).
const QString kRealSuperlattice =
    QStringLiteral(XRD_TEST_DATA_DIR "/measured/ingaas-gaas-sl-004.x00");

QByteArray superlatticeStructure(const char* model, const char* wells, const char* barriers) {
    return QByteArray("WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER ") + wells + "\nLAYER " + barriers +
           "\nREPEAT 3\nMODEL " + model + "\nMEASURED " + kRealSuperlattice.toUtf8() +
           "\nFIT LAYER 1 N 12 40\nFIT LAYER 1 X 0.1 0.4\nFIT LAYER 2 N 40 90\n"
           "FIT OFFSET -0.02 0.02\n";
}

// The peer's structure for the real scan (see its README): GaAs(0.637)P(0.363), 53.5 nm.
QByteArray realStructure(const char* model, const char* layer, const char* fits = "") {
    return QByteArray("WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER ") + layer + "\nREPEAT 1\nMODEL " +
           model + "\nMEASURED " + kRealScan.toUtf8() + "\n" + fits;
}

} // namespace

class TestScanFit : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(dir_.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(name));
        return f.fileName();
    }

    // A synthetic scan of `structure` at `points` angles from `low` to `high`: the model with
    // a 0.003° resolution scaled to 1e5 counts per second at its peak on 1 count per second of
    // background, counted for one second per point with Poisson noise.
    QString synthesize(const QString& structure, double low, double high, int points, unsigned seed,
                       double offset = 0.0) {
        Config c;
        if (!c.load(structure) || !c.valid)
            qFatal("bad structure");
        MeasuredScan scan;
        scan.fileName = QStringLiteral("synthetic");
        for (int i = 0; i < points; ++i) {
            scan.theta << low + (high - low) * i / (points - 1);
            scan.intensity << 1.0;
        }
        const ScanComparison comparison(c, scan, 0, 0, 0.003, 0.003);
        InstrumentSettings unit;
        unit.offset = offset;
        unit.scale = 1.0;
        unit.background = 0.0;
        ModelAtScan m;
        if (!comparison.evaluate(c, unit, m))
            qFatal("no model");
        const double peak = *std::max_element(m.model.begin(), m.model.end());
        std::mt19937 random(seed);
        QByteArray text;
        for (int i = 0; i < points; ++i) {
            std::poisson_distribution<long> counts(1e5 * m.model[i] / peak + 1.0);
            text += QByteArray::number(scan.theta[i], 'g', 10) + ' ' +
                    QByteArray::number(qlonglong(counts(random))) + '\n';
        }
        return write(QStringLiteral("synthetic-%1-%2.txt").arg(seed).arg(offset), text);
    }

    // A scan made without the comparison the fit uses: the structure's curve computed on its
    // own grid, smoothed by a Gaussian of 0.003° FWHM summed here, read at theta + `offset`
    // and written at theta (a scan measured with its angles `offset` short), as Poisson
    // counts of 1e5 per second at the top on 1 of background.
    QString synthesizeOutside(const QString& structure, double low, double high, int points,
                              unsigned seed, double offset) {
        Config c;
        if (!c.load(structure) || !c.valid)
            qFatal("bad structure");
        const Calculation calculation(c, AngleRange{low - 0.05, high + 0.05});
        ResultArrays curve;
        if (!calculation.refusal().isEmpty() || !calculation.compute(curve))
            qFatal("no curve");
        const double sd = 0.003 / 2.354820045;
        const auto smoothed = [&](double theta) {
            double sum = 0, weights = 0;
            for (int i = 0; i < curve.theta.size(); ++i) {
                const double d = (curve.theta[i] - theta) / sd;
                if (std::fabs(d) < 6) {
                    sum += std::exp(-0.5 * d * d) * curve.intensity[i];
                    weights += std::exp(-0.5 * d * d);
                }
            }
            return weights > 0 ? sum / weights : 0.0;
        };
        std::vector<double> model;
        for (int i = 0; i < points; ++i)
            model.push_back(smoothed(low + (high - low) * i / (points - 1) + offset));
        const double peak = *std::max_element(model.begin(), model.end());
        std::mt19937 random(seed);
        QByteArray text;
        for (int i = 0; i < points; ++i) {
            std::poisson_distribution<long> counts(1e5 * model[std::size_t(i)] / peak + 1.0);
            text += QByteArray::number(low + (high - low) * i / (points - 1), 'g', 10) + ' ' +
                    QByteArray::number(qlonglong(counts(random))) + '\n';
        }
        return write(QStringLiteral("outside-%1-%2.txt").arg(seed).arg(offset), text);
    }

private slots:
    // Honest uncertainties, the OFFSET's sign and each uncertainty in its own row: scans made
    // outside the fit's own comparison (synthesizeOutside) with known offsets, fitted for
    // thickness, composition and offset together over several noise realisations. Each
    // row's scatter about the truth, in units of its reported uncertainty (the root mean
    // square of (fitted - truth) / sigma), lies between 0.5 and 2; an integer's within its
    // whole monolayer.
    void honestUncertainties_data() {
        QTest::addColumn<QByteArray>("truth");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("fits");
        QTest::addColumn<QVector<double>>("values"); // the truth of each FIT line
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("InGaAs on InP, offset +0.006°")
            << QByteArray("LAYER 200 0.6 1\nREPEAT 1\n")
            << QByteArray("LAYER 190 0.62 1\nREPEAT 1\n")
            << QByteArray("FIT LAYER 1 N 150 250\nFIT LAYER 1 X 0.5 0.7\nFIT OFFSET -0.02 0.02\n")
            << QVector<double>{200, 0.6, 0.006} << 31.0 << 32.5;
        QTest::newRow("InGaAs on InP, offset -0.004°")
            << QByteArray("LAYER 200 0.6 1\nREPEAT 1\n")
            << QByteArray("LAYER 210 0.58 1\nREPEAT 1\n")
            << QByteArray("FIT LAYER 1 N 150 250\nFIT LAYER 1 X 0.5 0.7\nFIT OFFSET -0.02 0.02\n")
            << QVector<double>{200, 0.6, -0.004} << 31.0 << 32.5;
    }
    void honestUncertainties() {
        QFETCH(QByteArray, truth);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, fits);
        QFETCH(QVector<double>, values);
        QFETCH(double, low);
        QFETCH(double, high);
        const QByteArray head("WAVELENGTH 1.5406\nSUBSTRATE 1 0\nMODEL kinematical\n");
        const QString truthFile = write("honest-truth.txt", head + truth);
        const int realisations = 8;
        std::vector<double> squares(std::size_t(values.size()), 0.0);
        for (int seed = 1; seed <= realisations; ++seed) {
            const QString scan =
                synthesizeOutside(truthFile, low, high, 500, unsigned(seed), values.last());
            Config c;
            QVERIFY(c.load(
                write("honest-fit.txt", head + start + "MEASURED " + scan.toUtf8() + "\n" + fits)));
            FitSettings settings;
            settings.peakStart = true;
            const FitReport report = StructureFit(c, settings).run();
            QVERIFY2(report.ok, qPrintable(report.log.join('\n')));
            for (int k = 0; k < values.size(); ++k) {
                const FitRow& r = report.rows[k];
                QVERIFY2(r.sigma > 0, qPrintable(r.target));
                squares[std::size_t(k)] +=
                    std::pow((r.value - values[k]) / r.sigma, 2) / realisations;
            }
            // The sign of the offset: never the mirror of the truth.
            QVERIFY2(report.rows.last().value * values.last() > 0,
                     qPrintable(report.log.join('\n')));
        }
        for (int k = 0; k < values.size(); ++k) {
            const double rms = std::sqrt(squares[std::size_t(k)]);
            const bool integer = k == 0;
            QVERIFY2((integer || rms >= 0.5) && rms <= (integer ? 1.0 : 2.0),
                     qPrintable(QStringLiteral("row %1: scatter %2 sigma").arg(k).arg(rms)));
        }
    }

    // The trap of a short superlattice: moving one monolayer from the well to the barrier,
    // with the well's composition shifted, keeps the period and nearly the mean mismatch.
    // Scans made from a 25/64 model of the real InGaAs/GaAs superlattice with Poisson noise,
    // fitted from the measurement's peaks: the fit never ends above the cost of the truth
    // itself, and comes back on 25/64.
    void periodKeepingTrap_data() {
        QTest::addColumn<unsigned>("seed");
        QTest::newRow("noise 1") << 1u;
        QTest::newRow("noise 2") << 2u;
        QTest::newRow("noise 3") << 3u;
    }
    void periodKeepingTrap() {
        QFETCH(unsigned, seed);
        const QByteArray head("WAVELENGTH 1.54056\nSUBSTRATE 0 1\n");
        const QByteArray tail("REPEAT 3\nMODEL dynamical\n");
        const QString truth =
            write("trap-truth.txt", head + "LAYER 25 0.2577 1\nLAYER 64 0 1\n" + tail);
        const QString scan = synthesizeOutside(truth, 31.0, 33.8, 1400, seed, 0.0);
        const QByteArray rest =
            tail + "MEASURED " + scan.toUtf8() +
            "\nFIT LAYER 1 N 12 40\nFIT LAYER 1 X 0.1 0.4\nFIT LAYER 2 N 40 90\n"
            "FIT OFFSET -0.02 0.02\n";
        Config c;
        QVERIFY(c.load(write("trap-fit.txt", head + "LAYER 22 0.22 1\nLAYER 60 0 1\n" + rest)));
        FitSettings settings;
        settings.peakStart = true;
        const StructureFit fit(c, settings);
        const FitReport report = fit.run();
        QVERIFY2(report.ok, qPrintable(report.log.join('\n')));
        ModelAtScan m;
        QVERIFY(fit.modelFor({25, 0.2577, 64, 0.0}, m));
        const std::vector<double> r = logResiduals(m.measured, m.model, 0.0);
        double truthCost = 0;
        for (double e : r)
            truthCost += e * e / double(r.size());
        QVERIFY2(report.agreementAfter <= truthCost * (1 + 1e-6),
                 qPrintable(QStringLiteral("%1 above the truth's %2\n")
                                .arg(report.agreementAfter)
                                .arg(truthCost) +
                            report.log.join('\n')));
        QCOMPARE(report.rows[0].value, 25.0);
        QCOMPARE(report.rows[2].value, 64.0);
    }

    // The overlay tells the peer's structure from a clearly wrong one, and the -meas file holds
    // one line per measured point after its header.
    void realScanAgreement_data() {
        QTest::addColumn<QByteArray>("layer");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("peer's structure") << QByteArray("194 0 0.637") << 0.0 << 0.30;
        QTest::newRow("As 0.8 instead") << QByteArray("194 0 0.8") << 0.45 << 10.0;
        QTest::newRow("In 0.1 as well") << QByteArray("194 0.1 0.637") << 0.45 << 10.0;
    }
    void realScanAgreement() {
        QFETCH(QByteArray, layer);
        QFETCH(double, low);
        QFETCH(double, high);
        Config c;
        QVERIFY(c.load(write("real.txt", realStructure("basic", layer.constData()))));
        const ScanOutcome out = compareWithScan(c, scanRequestsFor(c).value(0),
                                                readScanFor(c, scanRequestsFor(c).value(0)));
        QVERIFY2(out.ok && out.measWritten, qPrintable(out.log.join('\n')));
        QVERIFY2(out.model.agreement >= low && out.model.agreement <= high,
                 qPrintable(QString::number(out.model.agreement)));
        QFile meas(out.measFile);
        QVERIFY(meas.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(meas.readAll()).split('\n', Qt::SkipEmptyParts);
        const QStringList data =
            lines.filter(QRegularExpression("^[0-9.]+\\t[0-9.e+-]+\\t[0-9.e+-]+$"));
        QCOMPARE(data.size(), 879);
        // The second column is the scan's own intensity, point by point, as the file gives it.
        QFile x00(kRealScan);
        QVERIFY(x00.open(QIODevice::ReadOnly));
        const QList<QByteArray> raw = x00.readAll().split('\n');
        const int first = raw.indexOf("ScanData\r") + 1;
        QVERIFY(first > 0);
        for (int i = 0; i < data.size(); ++i) {
            const double counts = raw[first + i].trimmed().toDouble();
            const double column = data[i].split('\t')[1].toDouble();
            QVERIFY2(std::fabs(column - counts) <= 1e-6 * counts + 1e-9,
                     qPrintable(QString("%1: %2 vs %3").arg(i).arg(column).arg(counts)));
        }
        for (const char* key : {"scan", "format", "axis", "points", "offset", "resolution", "scale",
                                "background", "agreement", "measured substrate peak",
                                "model zeroth-order peak", "measured mismatch"})
            QVERIFY2(
                !lines.filter(QRegularExpression(QStringLiteral("^# %1: ").arg(key))).isEmpty(),
                key);
    }

    // The measurement's figures come from the scan alone: whatever structure is loaded with
    // it (another layer, a superlattice, another model), the "# measured" lines of the -meas
    // file are the same, and its thickness is the peer's 53.5 nm within twice its stated
    // uncertainty, in Å and nm.
    void measuredFiguresOwnToTheScan_data() {
        QTest::addColumn<QByteArray>("structure");
        QTest::newRow("another layer") << realStructure("basic", "120 0.2 1");
        QTest::newRow("a superlattice")
            << QByteArray("WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER "
                          "30 0.2 1\nLAYER 60 0 1\nREPEAT 5\nMEASURED ") +
                   kRealScan.toUtf8() + "\n";
    }
    void measuredFiguresOwnToTheScan() {
        QFETCH(QByteArray, structure);
        auto measuredLines = [&](const QByteArray& bytes) {
            Config c;
            if (!c.load(write("own.txt", bytes)))
                return QStringList();
            const ScanOutcome out = compareWithScan(c, scanRequestsFor(c).value(0),
                                                    readScanFor(c, scanRequestsFor(c).value(0)));
            QFile meas(out.measFile);
            if (!out.ok || !meas.open(QIODevice::ReadOnly))
                return QStringList();
            return QString::fromUtf8(meas.readAll())
                .split('\n')
                .filter(QRegularExpression("^# measured "));
        };
        const QStringList peer = measuredLines(realStructure("dynamical", "194 0 0.637"));
        QCOMPARE(peer.size(), 6);
        QCOMPARE(measuredLines(structure), peer);
        const QRegularExpressionMatch m =
            QRegularExpression("^# measured thickness: ([0-9.]+) ± ([0-9.]+) Å \\(([0-9.]+) ± "
                               "([0-9.]+) nm\\) from [0-9]+ fringes$")
                .match(peer.filter("thickness").value(0));
        QVERIFY2(m.hasMatch(), qPrintable(peer.join('\n')));
        QVERIFY(std::fabs(m.captured(1).toDouble() - 535.0) <= 2.0 * m.captured(2).toDouble());
        QVERIFY(std::fabs(m.captured(3).toDouble() * 10.0 - m.captured(1).toDouble()) < 0.1);
        QVERIFY(peer.filter("period").value(0).contains("not determined"));
    }

    // Fitted to the real scan, the realistic models land within 1 nm and 0.01 of the peer;
    // the basic model, whose strain factor 1 + 2 C12/C11 is 2 where the peer's is about 1.9,
    // lands about 0.02 high in the As fraction.
    void realScanFit_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<double>("arsenic");
        QTest::newRow("dynamical") << QByteArray("dynamical") << 0.637;
        QTest::newRow("basic") << QByteArray("basic") << 0.657;
    }
    void realScanFit() {
        QFETCH(QByteArray, model);
        QFETCH(double, arsenic);
        Config c;
        QVERIFY(c.load(
            write("realfit.txt", realStructure(model.constData(), "180 0 0.7",
                                               "FIT LAYER 1 N 100 300\nFIT LAYER 1 Y 0.4 0.95\n"
                                               "FIT OFFSET -0.02 0.02\n"))));
        const FitReport report = StructureFit(c, FitSettings()).run();
        QVERIFY2(report.ok, qPrintable(report.log.join('\n')));
        QCOMPARE(report.rows.size(), 3);
        QVERIFY2(std::fabs(report.rows[1].value - arsenic) < 0.01,
                 qPrintable(QString::number(report.rows[1].value)));
        Config fitted;
        QVERIFY(fitted.load(report.fittedFile) && fitted.valid);
        ResultArrays profile;
        expandLayersElastic(fitted, profile);
        QVERIFY2(std::fabs(profile.depth.last() - 535.0) < 10.0,
                 qPrintable(QString::number(profile.depth.last())));
    }

    // Fitted to the real superlattice from starts off the answer, both realistic models land
    // on the peer's period within 1.5 % and its In fraction within 0.01, with or without the
    // start from the measurement's peaks.
    void realSuperlatticeFit_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("wells");
        QTest::addColumn<QByteArray>("barriers");
        QTest::addColumn<bool>("peakStart");
        QTest::newRow("kinematical")
            << QByteArray("kinematical") << QByteArray("22 0.22 1") << QByteArray("60 0 1") << true;
        QTest::newRow("dynamical")
            << QByteArray("dynamical") << QByteArray("30 0.3 1") << QByteArray("75 0 1") << true;
        QTest::newRow("dynamical, global search")
            << QByteArray("dynamical") << QByteArray("22 0.22 1") << QByteArray("60 0 1") << false;
    }
    void realSuperlatticeFit() {
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, wells);
        QFETCH(QByteArray, barriers);
        QFETCH(bool, peakStart);
        Config c;
        QVERIFY(
            c.load(write("slfit.txt", superlatticeStructure(model.constData(), wells.constData(),
                                                            barriers.constData()))));
        FitSettings settings;
        settings.peakStart = peakStart;
        const FitReport report = StructureFit(c, settings).run();
        QVERIFY2(report.ok, qPrintable(report.log.join('\n')));
        QCOMPARE(report.rows.size(), 4);
        const double period = 10 * (std::round(report.rows[0].value) * report.rows[0].nmPerUnit +
                                    std::round(report.rows[2].value) * report.rows[2].nmPerUnit);
        QVERIFY2(std::fabs(period / 254.6 - 1) < 0.015, qPrintable(report.log.join('\n')));
        QVERIFY2(std::fabs(report.rows[1].value - 0.2545) < 0.01,
                 qPrintable(report.log.join('\n')));
    }

    // The starts read from the real scans' peaks: the superlattice's satellites give a start
    // with the peer's period, the GaAsP layer's peak and fringes one near the peer's
    // composition and thickness (194 monolayers), and the substrate peak an offset below a
    // hundredth of a degree (the peer's are about 0.0025° and 0.00001°).
    void startsFromPeaks_data() {
        QTest::addColumn<QByteArray>("structure");
        QTest::addColumn<QString>("scan");
        QTest::newRow("superlattice")
            << superlatticeStructure("dynamical", "22 0.22 1", "60 0 1") << kRealSuperlattice;
        QTest::newRow("GaAsP") << realStructure("dynamical", "180 0 0.7",
                                                "FIT LAYER 1 N 100 300\nFIT LAYER 1 Y 0.4 0.95\n"
                                                "FIT OFFSET -0.02 0.02\n")
                               << kRealScan;
    }
    void startsFromPeaks() {
        QFETCH(QByteArray, structure);
        QFETCH(QString, scan);
        Config c;
        QVERIFY(c.load(write("start.txt", structure)) && c.valid);
        const ScanReadResult read = readScanFor(c, scanRequestsFor(c, scan).value(0));
        QVERIFY(read.ok);
        const PeakStart start = peakStart(c, read.scan, fitStartValues(c), false);
        QVERIFY2(!start.starts.empty(), qPrintable(start.notes.join('\n')));
        QVERIFY(start.noiseFloor > 0.0);
        const std::unique_ptr<Model> model = makeModel(c.ext.model);
        bool matched = false;
        for (const std::vector<double>& v : start.starts) {
            QCOMPARE(v.size(), std::size_t(c.ext.fits.size()));
            const double offset = v.back();
            QVERIFY2(std::fabs(offset) < 0.01, qPrintable(QString::number(offset)));
            if (c.repeat > 1) {
                const double period = v[0] * model->monolayerHeight(c, v[1], 1.0) +
                                      v[2] * model->monolayerHeight(c, 0.0, 1.0);
                matched = matched || std::fabs(period / 254.6 - 1) < 0.015;
            } else {
                matched = matched || (std::fabs(v[0] - 194) <= 6 && std::fabs(v[1] - 0.637) < 0.02);
            }
        }
        QVERIFY2(matched, qPrintable(start.notes.join('\n')));
    }

    // The noise floor of log intensities: Gaussian noise of a known spread in log10 on a
    // smooth curve comes back as its variance, whatever the curve's height.
    void noiseFloor_data() {
        QTest::addColumn<double>("spread");
        QTest::addColumn<double>("height");
        QTest::newRow("0.05 on a flat curve") << 0.05 << 0.0;
        QTest::newRow("0.1 on a peak") << 0.1 << 3.0;
        QTest::newRow("0.2 on a peak") << 0.2 << 5.0;
    }
    void noiseFloor() {
        QFETCH(double, spread);
        QFETCH(double, height);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, spread);
        std::vector<double> intensity;
        for (int i = 0; i < 4000; ++i) {
            const double x = (i - 2000) / 400.0;
            intensity.push_back(std::pow(10.0, 1.0 + height * std::exp(-x * x) + noise(random)));
        }
        const double floor = logNoiseFloor(intensity);
        QVERIFY2(std::fabs(floor / (spread * spread) - 1) < 0.15,
                 qPrintable(QString::number(floor)));
        QCOMPARE(logNoiseFloor({1.0, 2.0, 0.0}), 0.0);
    }

    // A scan measured with a known angle offset (the model at the measured angles plus the
    // offset), fitted back over several noise seeds: the offset comes back with its sign, and
    // the reported uncertainties of the offset and the composition are those of the spread of
    // the fitted values over the seeds within a factor of 3.
    void offsetAndUncertainties_data() {
        QTest::addColumn<double>("offset");
        QTest::newRow("+0.006°") << 0.006;
        QTest::newRow("-0.004°") << -0.004;
    }
    void offsetAndUncertainties() {
        QFETCH(double, offset);
        const QByteArray structure("WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 200 0.6 1\nREPEAT 1\n");
        const QString truth = write("offset-truth.txt", structure);
        const int seeds = 5;
        QVector<double> values[2], sigmas[2];
        for (int seed = 1; seed <= seeds; ++seed) {
            const QString scan = synthesize(truth, 31.0, 32.5, 500, unsigned(seed), offset);
            Config c;
            QVERIFY(c.load(write("offset-fit.txt",
                                 "WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 200 0.62 1\nREPEAT 1\n"
                                 "MEASURED " +
                                     scan.toUtf8() +
                                     "\nFIT LAYER 1 X 0.5 0.7\nFIT OFFSET -0.02 0.02\n")));
            const FitReport report = StructureFit(c, FitSettings()).run();
            QVERIFY2(report.ok, qPrintable(report.log.join('\n')));
            for (int k = 0; k < 2; ++k) {
                values[k] << report.rows[k].value;
                sigmas[k] << report.rows[k].sigma;
            }
            const FitRow& o = report.rows[1];
            QVERIFY2(std::fabs(o.value - offset) < std::max(3 * o.sigma, 5e-4),
                     qPrintable(QString("%1 ± %2").arg(o.value).arg(o.sigma)));
        }
        for (int k = 0; k < 2; ++k) {
            double mean = 0, square = 0, sigma = 0;
            for (int i = 0; i < seeds; ++i) {
                mean += values[k][i] / seeds;
                sigma += sigmas[k][i] / seeds;
            }
            for (int i = 0; i < seeds; ++i)
                square += std::pow(values[k][i] - mean, 2) / (seeds - 1);
            const double spread = std::sqrt(square);
            QVERIFY2(
                sigma < 3 * spread && spread < 3 * sigma,
                qPrintable(
                    QString("parameter %1: reported %2, spread %3").arg(k).arg(sigma).arg(spread)));
        }
    }

    // Scans made from known structures with noise at realistic counts: a fit from the middle
    // of wide bounds brings every parameter back within twice its uncertainty, or within one
    // monolayer and 0.002 in composition.
    void syntheticRecovery_data() {
        QTest::addColumn<QByteArray>("structure");
        QTest::addColumn<QByteArray>("fits");
        QTest::addColumn<QVector<double>>("truth");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("200-monolayer In0.6Ga0.4As on InP")
            << QByteArray("WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 200 0.6 1\nREPEAT 1\n")
            << QByteArray("FIT LAYER 1 N 140 280\nFIT LAYER 1 X 0.45 0.7\n")
            << QVector<double>{200, 0.6} << 31.0 << 32.5;
        QTest::newRow("10-period superlattice")
            << QByteArray("WAVELENGTH 1.5406\nSUBSTRATE 1 0\nLAYER 30 0.6 1\n"
                          "LAYER 60 1 0.1\nREPEAT 10\n")
            << QByteArray("FIT LAYER 1 N 20 44\nFIT LAYER 1 X 0.5 0.8\n"
                          "FIT LAYER 2 N 40 76\nFIT LAYER 2 Y 0 0.3\n"
                          "FIT OFFSET -0.01 0.01\nFIT RESOLUTION 0.001 0.01\n")
            << QVector<double>{30, 0.6, 60, 0.1, 0, 0.003} << 30.5 << 33.0;
    }
    void syntheticRecovery() {
        QFETCH(QByteArray, structure);
        QFETCH(QByteArray, fits);
        QFETCH(QVector<double>, truth);
        QFETCH(double, low);
        QFETCH(double, high);
        const QString scan = synthesize(write("truth.txt", structure), low, high, 1400, 7);
        // Start every composition and thickness from the middle of its range: the LAYER
        // lines written anew with those values.
        Config parsed;
        QVERIFY(parsed.load(write("fits.txt", structure + fits)));
        QVector<Layer> layers = parsed.layers;
        for (const FitParameter& p : parsed.ext.fits) {
            Layer& l = layers[qMax(p.layer, 1) - 1];
            const double middle = (p.min + p.max) / 2;
            if (p.target == FitParameter::Thickness)
                l.monolayers = int(middle);
            else if (p.target == FitParameter::InFraction)
                l.inFraction = middle;
            else if (p.target == FitParameter::AsFraction)
                l.asFraction = middle;
        }
        QByteArray start;
        for (const QByteArray& line : structure.split('\n'))
            if (!line.startsWith("LAYER") && !line.isEmpty())
                start += line + '\n';
        for (const Layer& l : layers)
            start += QStringLiteral("LAYER %1 %2 %3\n")
                         .arg(l.monolayers)
                         .arg(l.inFraction)
                         .arg(l.asFraction)
                         .toUtf8();
        Config c;
        QVERIFY(c.load(write("fit.txt", start + "MEASURED " + scan.toUtf8() + "\n" + fits)));
        QVERIFY(c.valid);
        const FitReport report = StructureFit(c, FitSettings()).run();
        QVERIFY2(report.ok, qPrintable(report.log.join('\n')));
        for (int i = 0; i < truth.size(); ++i) {
            const FitRow& r = report.rows[i];
            const bool thickness = r.target.endsWith(QLatin1String(" N"));
            const double slack = thickness ? 1.0 : r.target.startsWith("LAYER") ? 0.002 : 0.0;
            QVERIFY2(std::fabs(r.value - truth[i]) <= std::max(2 * r.sigma, slack) + 1e-12,
                     qPrintable(QStringLiteral("%1: %2 ± %3, truth %4")
                                    .arg(r.target)
                                    .arg(r.value)
                                    .arg(r.sigma)
                                    .arg(truth[i])));
        }
    }
};

QTEST_MAIN(TestScanFit)
#include "tst_scanfit.moc"
