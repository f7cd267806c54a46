#include "analysis/fit.h"

#include <QtTest>

#include <cmath>
#include <random>

using Vector = std::vector<double>;
Q_DECLARE_METATYPE(Vector)

namespace {

// y = a + b x + noise on n points evenly over [from, to].
struct Line {
    Vector x, y;
};

Line noisyLine(int n, double a, double b, double noise, double from, double to) {
    Line l;
    std::mt19937 rng(3);
    std::normal_distribution<double> gauss(0.0, noise);
    for (int i = 0; i < n; ++i) {
        l.x.push_back(from + (to - from) * i / (n - 1));
        l.y.push_back(a + b * l.x.back() + gauss(rng));
    }
    return l;
}

// A Gaussian peak of height A and width w centred on channel c of 300.
Vector peak(double a, int c, double w, double noise) {
    Vector y(300);
    std::mt19937 rng(5);
    std::normal_distribution<double> gauss(0.0, noise);
    for (int k = 0; k < 300; ++k)
        y[std::size_t(k)] =
            a * std::exp(-0.5 * std::pow((k - c) / w, 2)) + (noise > 0 ? gauss(rng) : 0);
    return y;
}

FitProblem peakProblem(const Vector& data) {
    FitProblem p;
    p.lower = {0.1, 0, 0.5};
    p.upper = {10, 299, 20};
    p.start = {1, 30, 3};
    p.integer = {false, true, false};
    p.residuals = [data](const Vector& v) {
        Vector r(data.size());
        for (std::size_t k = 0; k < data.size(); ++k)
            r[k] = data[k] - v[0] * std::exp(-0.5 * std::pow((double(k) - v[1]) / v[2], 2));
        return r;
    };
    return p;
}

} // namespace

class TestFit : public QObject {
    Q_OBJECT
private slots:
    void linearModel_data();
    void linearModel();
    void gaussianPeakWithIntegerCentre_data();
    void gaussianPeakWithIntegerCentre();
    void rosenbrock_data();
    void rosenbrock();
    void integerUncertaintyFromProfile_data();
    void integerUncertaintyFromProfile();
    void timeLimitEndsAtTheBest();
    void sameSeedSameResultAtOneAndTwoThreads();
    void invalidPointsNeverLeak();
    void stopEndsEarly();
    void badProblems();
};

void TestFit::linearModel_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("noise");
    QTest::newRow("centred x, 40 points") << 40 << -1.0 << 1.0 << 0.1;
    QTest::newRow("x far from 0: a and b correlated") << 25 << 10.0 << 12.0 << 0.05;
    QTest::newRow("200 points, large noise") << 200 << 0.0 << 5.0 << 1.0;
}

void TestFit::linearModel() {
    QFETCH(int, n);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, noise);
    const Line l = noisyLine(n, 1.5, -0.7, noise, from, to);
    // Ordinary least squares in closed form, with the textbook standard errors.
    double mx = 0, my = 0, sxx = 0, sxy = 0, ss = 0;
    for (int i = 0; i < n; ++i) {
        mx += l.x[i] / n;
        my += l.y[i] / n;
    }
    for (int i = 0; i < n; ++i) {
        sxx += (l.x[i] - mx) * (l.x[i] - mx);
        sxy += (l.x[i] - mx) * (l.y[i] - my);
    }
    const double b = sxy / sxx, a = my - b * mx;
    for (int i = 0; i < n; ++i)
        ss += std::pow(l.y[i] - a - b * l.x[i], 2);
    const double s = std::sqrt(ss / (n - 2));
    const double sigmaB = s / std::sqrt(sxx);
    const double sigmaA = s * std::sqrt(1.0 / n + mx * mx / sxx);
    const double r = -mx / std::sqrt(mx * mx + sxx / n);

    FitProblem p;
    p.lower = {-10, -10};
    p.upper = {10, 10};
    p.start = {0, 0};
    p.residuals = [l](const Vector& v) {
        Vector res(l.x.size());
        for (std::size_t i = 0; i < l.x.size(); ++i)
            res[i] = l.y[i] - v[0] - v[1] * l.x[i];
        return res;
    };
    const FitOutcome f = runFit(p);
    QVERIFY2(f.problem.isEmpty(), qPrintable(f.problem));
    QVERIFY2(std::fabs(f.best[0] - a) < 1e-6 * (1 + std::fabs(a)),
             qPrintable(QString("a %1 vs %2").arg(f.best[0], 0, 'g', 12).arg(a, 0, 'g', 12)));
    QVERIFY(std::fabs(f.best[1] - b) < 1e-6 * (1 + std::fabs(b)));
    QVERIFY(std::fabs(f.bestCost - ss / n) <= 1e-9 * ss / n);
    QVERIFY2(std::fabs(f.sigma[0] / sigmaA - 1) < 1e-3,
             qPrintable(QString("sigma a %1 vs %2").arg(f.sigma[0]).arg(sigmaA)));
    QVERIFY(std::fabs(f.sigma[1] / sigmaB - 1) < 1e-3);
    QCOMPARE(f.atBound, std::vector<bool>({false, false}));
    if (std::fabs(r) > 0.9) {
        QCOMPARE(int(f.strongCorrelations.size()), 1);
        QCOMPARE(std::get<0>(f.strongCorrelations[0]), 0);
        QCOMPARE(std::get<1>(f.strongCorrelations[0]), 1);
        QVERIFY(std::fabs(std::get<2>(f.strongCorrelations[0]) - r) < 1e-4);
    } else {
        QVERIFY(f.strongCorrelations.empty());
    }
}

void TestFit::gaussianPeakWithIntegerCentre_data() {
    QTest::addColumn<double>("noise");
    QTest::newRow("exact data") << 0.0;
    QTest::newRow("noise 1 % of the peak") << 0.03;
}

void TestFit::gaussianPeakWithIntegerCentre() {
    QFETCH(double, noise);
    // The start is far off the peak, where the residuals do not change with the centre: a
    // local method alone would stay there.
    const FitOutcome f = runFit(peakProblem(peak(3.0, 171, 4.2, noise)));
    QVERIFY2(f.problem.isEmpty(), qPrintable(f.problem));
    QCOMPARE(f.best[1], 171.0);
    QVERIFY(f.bestCost < f.startCost);
    if (noise == 0.0) {
        QVERIFY2(
            std::fabs(f.best[0] - 3.0) < 1e-6 && std::fabs(f.best[2] - 4.2) < 1e-6,
            qPrintable(QString("%1 %2").arg(f.best[0], 0, 'g', 10).arg(f.best[2], 0, 'g', 10)));
        QVERIFY(f.bestCost < 1e-20);
    } else {
        // Within four standard deviations of the truth, and those about what the counting of
        // the points says: the height is an average over ~ sqrt(pi) w points around the peak.
        QVERIFY(std::fabs(f.best[0] - 3.0) < 4 * f.sigma[0]);
        QVERIFY(std::fabs(f.best[2] - 4.2) < 4 * f.sigma[2]);
        const double rough = noise / std::sqrt(std::sqrt(M_PI) * 4.2);
        QVERIFY2(f.sigma[0] > 0.5 * rough && f.sigma[0] < 3 * rough,
                 qPrintable(QString("%1 vs %2").arg(f.sigma[0]).arg(rough)));
        // The centre is pinned to a channel: an integer's uncertainty is one step at least.
        QCOMPARE(f.sigma[1], 1.0);
    }
    for (double s : f.sigma)
        QVERIFY(std::isfinite(s));
}

void TestFit::rosenbrock_data() {
    QTest::addColumn<Vector>("upper");
    QTest::addColumn<Vector>("expected");
    QTest::addColumn<double>("cost");
    QTest::addColumn<bool>("xAtBound");
    QTest::newRow("free minimum") << Vector{2, 2} << Vector{1, 1} << 0.0 << false;
    // x <= 0.5: the minimum moves to the bound, on the valley floor y = x^2,
    // cost (1 - 0.5)^2 / 2.
    QTest::newRow("minimum beyond a bound") << Vector{0.5, 2} << Vector{0.5, 0.25} << 0.125 << true;
}

void TestFit::rosenbrock() {
    QFETCH(Vector, upper);
    QFETCH(Vector, expected);
    QFETCH(double, cost);
    QFETCH(bool, xAtBound);
    FitProblem p;
    p.lower = {-2, -2};
    p.upper = upper;
    p.start = {-1.2, 1};
    p.residuals = [](const Vector& v) { return Vector{10 * (v[1] - v[0] * v[0]), 1 - v[0]}; };
    const FitOutcome f = runFit(p);
    QVERIFY2(f.problem.isEmpty(), qPrintable(f.problem));
    QVERIFY2(std::fabs(f.best[0] - expected[0]) < 1e-6 && std::fabs(f.best[1] - expected[1]) < 1e-6,
             qPrintable(QString("%1 %2").arg(f.best[0], 0, 'g', 10).arg(f.best[1], 0, 'g', 10)));
    QVERIFY(std::fabs(f.bestCost - cost) < 1e-10);
    QCOMPARE(bool(f.atBound[0]), xAtBound);
    QCOMPARE(bool(f.atBound[1]), false);
}

void TestFit::integerUncertaintyFromProfile_data() {
    QTest::addColumn<double>("from"); // x range of the points
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("noise"); // of each point
    // y = a + b x with the slope b searched as an integer. Least squares gives b the standard
    // deviation noise / sqrt(sum (x - mean x)^2) with the intercept free (textbook); far from
    // x = 0 the intercept follows the slope closely, and holding it fixed instead would make
    // the slope look 25 times better determined.
    QTest::newRow("centred x, sigma 4") << -1.0 << 1.0 << 23.4;
    QTest::newRow("x far from 0, sigma 4") << 10.0 << 12.0 << 23.4;
    QTest::newRow("sigma 0.3: one step") << -1.0 << 1.0 << 1.76;
}

void TestFit::integerUncertaintyFromProfile() {
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, noise);
    const Line l = noisyLine(100, 2.0, 20.0, noise, from, to);
    FitProblem p;
    p.lower = {-200, -100};
    p.upper = {200, 100};
    p.start = {0, 0};
    p.integer = {false, true};
    p.residuals = [l](const Vector& v) {
        Vector r(l.x.size());
        for (std::size_t k = 0; k < r.size(); ++k)
            r[k] = l.y[k] - v[0] - v[1] * l.x[k];
        return r;
    };
    const FitOutcome f = runFit(p);
    QVERIFY2(f.problem.isEmpty(), qPrintable(f.problem));
    double mean = 0, spread = 0;
    for (double x : l.x)
        mean += x / double(l.x.size());
    for (double x : l.x)
        spread += (x - mean) * (x - mean);
    const double expected = std::max(1.0, noise / std::sqrt(spread));
    QVERIFY2(f.sigma[1] >= 1.0 && std::fabs(f.sigma[1] - expected) < 0.25 * expected,
             qPrintable(QString("%1 vs %2").arg(f.sigma[1]).arg(expected)));
}

void TestFit::timeLimitEndsAtTheBest() {
    // A residual function slow enough that the limit ends the search long before its end.
    FitProblem p = peakProblem(peak(3.0, 171, 4.2, 0.0));
    const auto fast = p.residuals;
    p.residuals = [fast](const Vector& v) {
        QThread::usleep(200);
        return fast(v);
    };
    p.threads = 1;
    p.maxSeconds = 0.05;
    const FitOutcome f = runFit(p);
    QVERIFY(f.timedOut && f.stopped);
    QVERIFY(f.bestCost <= f.startCost);
    QVERIFY(f.evaluations < 2000);
    QCOMPARE(f.sigma.size(), std::size_t(3));
}

void TestFit::sameSeedSameResultAtOneAndTwoThreads() {
    FitProblem p = peakProblem(peak(2.0, 88, 6.0, 0.02));
    p.seed = 42;
    int progressCalls = 0;
    p.progress = [&](int, double cost, const Vector& best) {
        ++progressCalls;
        QVERIFY(std::isfinite(cost) && best.size() == 3);
    };
    p.threads = 1;
    const FitOutcome one = runFit(p);
    p.threads = 2;
    const FitOutcome two = runFit(p);
    QVERIFY(progressCalls >= 2);
    QCOMPARE(one.best, two.best); // bit for bit
    QCOMPARE(one.sigma, two.sigma);
    QCOMPARE(one.bestCost, two.bestCost);
    QCOMPARE(one.evaluations, two.evaluations);
    QCOMPARE(one.generations, two.generations);
    QCOMPARE(one.best[1], 88.0);
}

void TestFit::invalidPointsNeverLeak() {
    // Half the box has no model (empty residuals), a stripe gives NaN, and the minimum of
    // (x - 0.7)^2 + (y + 0.2)^2 lies in what is left.
    FitProblem p;
    p.lower = {-1, -1};
    p.upper = {1, 1};
    p.start = {0.1, 0.5};
    p.residuals = [](const Vector& v) {
        if (v[0] < 0)
            return Vector{};
        if (v[1] > 0.3 && v[1] < 0.4)
            return Vector{qQNaN(), 1.0, 1.0};
        return Vector{v[0] - 0.7, v[1] + 0.2, 0.0};
    };
    FitOutcome f = runFit(p);
    QVERIFY2(f.problem.isEmpty(), qPrintable(f.problem));
    QVERIFY(std::fabs(f.best[0] - 0.7) < 1e-6 && std::fabs(f.best[1] + 0.2) < 1e-6);
    // From an invalid start the refinement still reaches the minimum.
    p.start = {-0.5, 0.5};
    f = runFit(p);
    QCOMPARE(f.startCost, kInvalidCost);
    QVERIFY2(std::fabs(f.best[0] - 0.7) < 1e-6 && std::fabs(f.best[1] + 0.2) < 1e-6,
             qPrintable(QString("%1 %2 cost %3").arg(f.best[0]).arg(f.best[1]).arg(f.bestCost)));
    // Nowhere valid: said so, and still no NaN.
    p.residuals = [](const Vector&) { return Vector{qQNaN()}; };
    f = runFit(p);
    QVERIFY(!f.problem.isEmpty());
    QCOMPARE(f.bestCost, kInvalidCost);
    for (double v : f.best)
        QVERIFY(std::isfinite(v));
    for (double v : f.sigma)
        QVERIFY(std::isfinite(v));
}

void TestFit::stopEndsEarly() {
    FitProblem p = peakProblem(peak(3.0, 171, 4.2, 0.0));
    const std::atomic<bool> stop{true};
    p.stop = &stop;
    const FitOutcome f = runFit(p);
    QVERIFY(f.stopped);
    QCOMPARE(f.generations, 0);
    QCOMPARE(f.best, p.start);
    QCOMPARE(f.bestCost, f.startCost);
    QVERIFY(f.evaluations < 20);
}

void TestFit::badProblems() {
    const auto residuals = [](const Vector& v) { return v; };
    FitProblem p;
    QVERIFY(!runFit(p).problem.isEmpty()); // no parameters
    p.lower = {0, 0};
    p.upper = {1};
    p.start = {0, 0};
    p.residuals = residuals;
    QVERIFY(!runFit(p).problem.isEmpty()); // lengths differ
    p.upper = {1, -1};
    QVERIFY(!runFit(p).problem.isEmpty()); // lower above upper
    p.upper = {1, 0.5};
    p.lower = {0, 0.2};
    p.integer = {false, true};
    QVERIFY(!runFit(p).problem.isEmpty()); // no integer in [0.2, 0.5]
    p.integer = {};
    p.start = {0, qInf()};
    QVERIFY(!runFit(p).problem.isEmpty());
    p.start = {0.5, 0.3};
    p.residuals = nullptr;
    QVERIFY(!runFit(p).problem.isEmpty());
}

QTEST_GUILESS_MAIN(TestFit)
#include "tst_fit.moc"
