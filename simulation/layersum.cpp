#include "simulation/layersum.h"

#include "structure/constants.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <utility>

namespace {

// 2π split in two for an exact argument reduction (Cody and Waite): kTwoPiHigh carries 30
// significant bits, so n * kTwoPiHigh is exact for |n| < 2^23, and kTwoPiHigh + kTwoPiLow
// equals 2π to about 1e-25.
constexpr double kTwoPiHigh = 6.283185303211212;
constexpr double kTwoPiLow = 3.968374318722162e-09;
constexpr double kExactReductionLimit = 8388608.0; // 2^23

// Points between exact re-seeds of the phase recurrence. Each complex multiplication adds
// about one rounding error to a phasor; after 256 steps that is still below 3e-14.
constexpr int kMaxBlock = 256;

// Below this |sin(u)| the kernel's closed form from recurrent phasors loses digits (the
// phasors carry absolute errors near 3e-14), so it is evaluated directly instead.
constexpr double kKernelDirectBelow = 1e-2;

struct Phasor {
    double re;
    double im;
};

Phasor expI(double phase) {
    return {std::cos(phase), std::sin(phase)};
}

void set(std::vector<double>& re, std::vector<double>& im, std::size_t i, Phasor p) {
    re[i] = p.re;
    im[i] = p.im;
}

// Planes of single monolayers (graded material) in structure-of-arrays form, so the inner
// loop over them vectorises. Their phasors e^(i q z) advance from point to point by one
// complex multiplication with e^(i dq z).
struct SingleTerms {
    std::vector<double> zIII, zV, x, x1, y, y1;
    std::vector<double> pIIIr, pIIIi, pVr, pVi; // phasors at the current point
    std::vector<double> mIIIr, mIIIi, mVr, mVi; // multipliers for one grid step

    void resize(std::size_t n) {
        for (auto* v :
             {&zIII, &zV, &x, &x1, &y, &y1, &pIIIr, &pIIIi, &pVr, &pVi, &mIIIr, &mIIIi, &mVr, &mVi})
            v->resize(n);
    }
};

// Runs of several identical monolayers: like the single terms, plus the phasors e^(i u) and
// e^(i N u) with u = q h / 2 from which K_N(q h) = sin(N u) / sin(u) e^(i (N - 1) u) follows.
struct RunTerms {
    std::vector<double> zIII, zV, x, x1, y, y1, h, n;
    std::vector<double> pIIIr, pIIIi, pVr, pVi, e1r, e1i, eNr, eNi; // phasors at the point
    std::vector<double> mIIIr, mIIIi, mVr, mVi, m1r, m1i, mNr, mNi; // multipliers for a step
    // Runs whose kernel has to be evaluated directly at the current point, with their terms.
    std::vector<double> termRe, termIm;
    std::vector<double> nearPole; // 1 where the kernel is evaluated directly

    void resize(std::size_t size) {
        for (auto* v : {&zIII,  &zV,  &x,   &x1,  &y,   &y1,  &h,      &n,     &pIIIr,
                        &pIIIi, &pVr, &pVi, &e1r, &e1i, &eNr, &eNi,    &mIIIr, &mIIIi,
                        &mVr,   &mVi, &m1r, &m1i, &mNr, &mNi, &termRe, &termIm})
            v->resize(size);
        nearPole.resize(size);
    }
};

// Sum over the runs at one point whose kernel follows from the recurrent phasors, advancing
// every phasor to the next point. Runs near a pole of the closed form (sin u close to 0) are
// only marked, with their terms, for a direct evaluation afterwards.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) &&                             \
    !defined(XRD_NO_TARGET_CLONES)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void sumRunsAndAdvance(RunTerms& m, ElementFactors f, double& sumRe, double& sumIm) {
    const std::size_t count = m.zIII.size();
    const double* x = m.x.data();
    const double* x1 = m.x1.data();
    const double* y = m.y.data();
    const double* y1 = m.y1.data();
    double* pIIIr = m.pIIIr.data();
    double* pIIIi = m.pIIIi.data();
    double* pVr = m.pVr.data();
    double* pVi = m.pVi.data();
    double* e1r = m.e1r.data();
    double* e1i = m.e1i.data();
    double* eNr = m.eNr.data();
    double* eNi = m.eNi.data();
    const double* mIIIr = m.mIIIr.data();
    const double* mIIIi = m.mIIIi.data();
    const double* mVr = m.mVr.data();
    const double* mVi = m.mVi.data();
    const double* m1r = m.m1r.data();
    const double* m1i = m.m1i.data();
    const double* mNr = m.mNr.data();
    const double* mNi = m.mNi.data();
    double* termRe = m.termRe.data();
    double* termIm = m.termIm.data();
    double* nearPole = m.nearPole.data();

    double re = 0.0;
    double im = 0.0;
#pragma omp simd reduction(+ : re, im)
    for (std::size_t r = 0; r < count; ++r) {
        const double fIII = x1[r] * f.ga + x[r] * f.in;
        const double fV = y1[r] * f.p + y[r] * f.as;
        const double vr = pVr[r], vi = pVi[r], tr = pIIIr[r], ti = pIIIi[r];
        const double tRe = fV * vr + fIII * tr;
        const double tIm = fV * vi + fIII * ti;
        const double ar = e1r[r], ai = e1i[r], br = eNr[r], bi = eNi[r];

        // e^(i (N - 1) u) = e^(i N u) * conj(e^(i u))
        // Every value is computed unconditionally and then selected, so the loop has no
        // branches and vectorises.
        const bool pole = std::fabs(ai) < kKernelDirectBelow;
        const double ratio = bi / (pole ? 1.0 : ai);
        const double kr = ratio * (br * ar + bi * ai);
        const double ki = ratio * (bi * ar - br * ai);
        const double cr = tRe * kr - tIm * ki;
        const double ci = tRe * ki + tIm * kr;
        re += pole ? 0.0 : cr;
        im += pole ? 0.0 : ci;
        termRe[r] = tRe;
        termIm[r] = tIm;
        nearPole[r] = pole ? 1.0 : 0.0;

        pVr[r] = vr * mVr[r] - vi * mVi[r];
        pVi[r] = vr * mVi[r] + vi * mVr[r];
        pIIIr[r] = tr * mIIIr[r] - ti * mIIIi[r];
        pIIIi[r] = tr * mIIIi[r] + ti * mIIIr[r];
        e1r[r] = ar * m1r[r] - ai * m1i[r];
        e1i[r] = ar * m1i[r] + ai * m1r[r];
        eNr[r] = br * mNr[r] - bi * mNi[r];
        eNi[r] = br * mNi[r] + bi * mNr[r];
    }
    sumRe = re;
    sumIm = im;
}

// Points whose single-plane sums are formed in one pass over the planes: each plane's
// weights, phasor and multiplier are loaded once for all of them, which matters because
// the pass is bound by memory traffic, not arithmetic.
constexpr int kGroup = 4;

// Sums over the single planes at kGroup consecutive grid points (factors f[0..3]),
// advancing every phasor by kGroup steps. Built for AVX-512 and AVX2 besides the baseline
// where the compiler supports it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) &&                             \
    !defined(XRD_NO_TARGET_CLONES)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void sumSinglesAndAdvance(std::size_t count, const double* x, const double* x1, const double* y,
                          const double* y1, double* pIIIr, double* pIIIi, double* pVr,
                          double* pVi, const double* mIIIr, const double* mIIIi,
                          const double* mVr, const double* mVi, const ElementFactors* f,
                          double* sumRe, double* sumIm) {
    static_assert(kGroup == 4, "the accumulators below are written out for four points");
    double re0 = 0.0, im0 = 0.0, re1 = 0.0, im1 = 0.0;
    double re2 = 0.0, im2 = 0.0, re3 = 0.0, im3 = 0.0;
    const ElementFactors f0 = f[0], f1 = f[1], f2 = f[2], f3 = f[3];
#pragma omp simd reduction(+ : re0, im0, re1, im1, re2, im2, re3, im3)
    for (std::size_t r = 0; r < count; ++r) {
        const double wx = x[r], wx1 = x1[r], wy = y[r], wy1 = y1[r];
        const double aIIIr = mIIIr[r], aIIIi = mIIIi[r], aVr = mVr[r], aVi = mVi[r];
        double vr = pVr[r], vi = pVi[r], tr = pIIIr[r], ti = pIIIi[r];
        double fIII = wx1 * f0.ga + wx * f0.in;
        double fV = wy1 * f0.p + wy * f0.as;
        re0 += fV * vr + fIII * tr;
        im0 += fV * vi + fIII * ti;
#define XRD_ADVANCE                                                                                \
    {                                                                                              \
        const double nvr = vr * aVr - vi * aVi;                                                    \
        vi = vr * aVi + vi * aVr;                                                                  \
        vr = nvr;                                                                                  \
        const double ntr = tr * aIIIr - ti * aIIIi;                                                \
        ti = tr * aIIIi + ti * aIIIr;                                                              \
        tr = ntr;                                                                                  \
    }
        XRD_ADVANCE
        fIII = wx1 * f1.ga + wx * f1.in;
        fV = wy1 * f1.p + wy * f1.as;
        re1 += fV * vr + fIII * tr;
        im1 += fV * vi + fIII * ti;
        XRD_ADVANCE
        fIII = wx1 * f2.ga + wx * f2.in;
        fV = wy1 * f2.p + wy * f2.as;
        re2 += fV * vr + fIII * tr;
        im2 += fV * vi + fIII * ti;
        XRD_ADVANCE
        fIII = wx1 * f3.ga + wx * f3.in;
        fV = wy1 * f3.p + wy * f3.as;
        re3 += fV * vr + fIII * tr;
        im3 += fV * vi + fIII * ti;
        XRD_ADVANCE
#undef XRD_ADVANCE
        pVr[r] = vr;
        pVi[r] = vi;
        pIIIr[r] = tr;
        pIIIi[r] = ti;
    }
    sumRe[0] = re0;
    sumIm[0] = im0;
    sumRe[1] = re1;
    sumIm[1] = im1;
    sumRe[2] = re2;
    sumIm[2] = im2;
    sumRe[3] = re3;
    sumIm[3] = im3;
}

class FastSum {
public:
    FastSum(const QVector<double>& depth, const QVector<double>& inProfile,
            const QVector<double>& asProfile, const std::vector<MonolayerRun>& runs) {
        std::size_t singles = 0;
        for (const MonolayerRun& r : runs)
            singles += r.count == 1;
        single_.resize(singles);
        multi_.resize(runs.size() - singles);

        std::size_t s = 0;
        std::size_t m = 0;
        for (const MonolayerRun& r : runs) {
            const int n = r.first;
            const double zIII = depth[n];
            const double zV = (depth[n] + depth[n + 1]) * 0.5;
            const double x = inProfile[n];
            const double y = asProfile[n];
            if (r.count == 1) {
                single_.zIII[s] = zIII;
                single_.zV[s] = zV;
                single_.x[s] = x;
                single_.x1[s] = 1 - x;
                single_.y[s] = y;
                single_.y1[s] = 1 - y;
                ++s;
            } else {
                multi_.zIII[m] = zIII;
                multi_.zV[m] = zV;
                multi_.x[m] = x;
                multi_.x1[m] = 1 - x;
                multi_.y[m] = y;
                multi_.y1[m] = 1 - y;
                multi_.h[m] = depth[n + 1] - depth[n];
                multi_.n[m] = r.count;
                ++m;
            }
        }
    }

    // The exponentials e^(i v z) of every plane, and e^(i u), e^(i N u) with u = v h / 2 of
    // every run: with v = q the phasors at q (exact, from sines and cosines), with v = dq the
    // multipliers that advance the phasors by one grid step dq.
    enum class Target { Phasors, Multipliers };
    void exponentials(double v, Target target) {
        const bool step = target == Target::Multipliers;
        SingleTerms& s = single_;
        std::vector<double>& sIIIr = step ? s.mIIIr : s.pIIIr;
        std::vector<double>& sIIIi = step ? s.mIIIi : s.pIIIi;
        std::vector<double>& sVr = step ? s.mVr : s.pVr;
        std::vector<double>& sVi = step ? s.mVi : s.pVi;
        for (std::size_t r = 0; r < s.zIII.size(); ++r) {
            set(sIIIr, sIIIi, r, expI(v * s.zIII[r]));
            set(sVr, sVi, r, expI(v * s.zV[r]));
        }
        RunTerms& m = multi_;
        std::vector<double>& mIIIr = step ? m.mIIIr : m.pIIIr;
        std::vector<double>& mIIIi = step ? m.mIIIi : m.pIIIi;
        std::vector<double>& mVr = step ? m.mVr : m.pVr;
        std::vector<double>& mVi = step ? m.mVi : m.pVi;
        std::vector<double>& m1r = step ? m.m1r : m.e1r;
        std::vector<double>& m1i = step ? m.m1i : m.e1i;
        std::vector<double>& mNr = step ? m.mNr : m.eNr;
        std::vector<double>& mNi = step ? m.mNi : m.eNi;
        for (std::size_t r = 0; r < m.zIII.size(); ++r) {
            const double u = (v * m.h[r]) * 0.5;
            set(mIIIr, mIIIi, r, expI(v * m.zIII[r]));
            set(mVr, mVi, r, expI(v * m.zV[r]));
            set(m1r, m1i, r, expI(u));
            set(mNr, mNi, r, expI(m.n[r] * u));
        }
    }

    // Sums of the single planes at the next kGroup grid points (phasors seeded or advanced
    // to the first of them), advancing their phasors past the group.
    void sumSingles(const ElementFactors* f, double* sumRe, double* sumIm) {
        SingleTerms& s = single_;
        sumSinglesAndAdvance(s.zIII.size(), s.x.data(), s.x1.data(), s.y.data(), s.y1.data(),
                             s.pIIIr.data(), s.pIIIi.data(), s.pVr.data(), s.pVi.data(),
                             s.mIIIr.data(), s.mIIIi.data(), s.mVr.data(), s.mVi.data(), f, sumRe,
                             sumIm);
    }

    // Sum of the runs of several monolayers at q (phasors seeded or advanced to q),
    // advancing their phasors to the next grid point.
    std::complex<double> sumRuns(double q, const ElementFactors& f) {
        RunTerms& m = multi_;
        double re = 0.0;
        double im = 0.0;
        sumRunsAndAdvance(m, f, re, im);
        for (std::size_t r = 0; r < m.zIII.size(); ++r) {
            if (m.nearPole[r] == 0.0)
                continue;
            const std::complex<double> kernel = dirichletKernel(q * m.h[r], m.n[r]);
            re += m.termRe[r] * kernel.real() - m.termIm[r] * kernel.imag();
            im += m.termRe[r] * kernel.imag() + m.termIm[r] * kernel.real();
        }
        return {re, im};
    }

    qint64 termCount() const { return qint64(single_.zIII.size() + multi_.zIII.size()); }

private:
    SingleTerms single_;
    RunTerms multi_;
};

} // namespace

// Libm calls run many times slower when a thread leaves the upper halves of the AVX
// registers dirty, which painting code in the same thread may do. vzeroupper clears them;
// it may only run on a CPU that has AVX.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
__attribute__((target("avx"))) static void vzeroupperAvx() {
    __builtin_ia32_vzeroupper();
}

void clearAvxUpperState() {
    if (__builtin_cpu_supports("avx"))
        vzeroupperAvx();
}
#else
void clearAvxUpperState() {}
#endif

double reduceTwoPi(double phi) {
    const double n = std::nearbyint(phi * (1.0 / kTwoPi));
    if (std::fabs(n) < kExactReductionLimit)
        return (phi - n * kTwoPiHigh) - n * kTwoPiLow;
    return std::remainder(phi, kTwoPi);
}

std::vector<MonolayerRun> findRuns(const QVector<double>& depth, const QVector<double>& inProfile,
                                   const QVector<double>& asProfile) {
    std::vector<MonolayerRun> runs;
    const int layers = int(depth.size()) - 1;
    for (int n = 0; n < layers; ++n) {
        const double step = depth[n + 1] - depth[n];
        if (!runs.empty()) {
            MonolayerRun& last = runs.back();
            const int p = n - 1;
            if (inProfile[n] == inProfile[p] && asProfile[n] == asProfile[p] &&
                step == depth[n] - depth[p]) {
                ++last.count;
                continue;
            }
        }
        runs.push_back({n, 1});
    }
    return runs;
}

std::complex<double> dirichletKernel(double phi, double n) {
    if (!(n >= 1))
        return 0.0;
    if (n == 1)
        return 1.0;
    const double u = reduceTwoPi(phi) * 0.5;
    if (u == 0)
        return n;
    const double ratio = std::sin(n * u) / std::sin(u);
    const double phase = (n - 1) * u;
    return {ratio * std::cos(phase), ratio * std::sin(phase)};
}

class LayerSum::Planes {
public:
    explicit Planes(FastSum s) : sum(std::move(s)) {}
    FastSum sum;
};

LayerSum::LayerSum(const QVector<double>& depth, const QVector<double>& inProfile,
                   const QVector<double>& asProfile, int repeat)
    : LayerSum(depth, inProfile, asProfile, repeat, findRuns(depth, inProfile, asProfile)) {}

LayerSum::LayerSum(const QVector<double>& depth, const QVector<double>& inProfile,
                   const QVector<double>& asProfile, int repeat, std::vector<MonolayerRun> runs)
    : runs_(std::move(runs)),
      planes_(std::make_unique<Planes>(FastSum(depth, inProfile, asProfile, runs_))),
      period_(depth.isEmpty() ? 0.0 : depth.last()), repeat_(repeat),
      hasLayers_(depth.size() > 1 && repeat >= 1) {}

LayerSum::~LayerSum() = default;

namespace {

// Where the phase recurrence restarts from exact sines and cosines: at every point where the
// q step changes, and after kMaxBlock points. A thread that starts at one of these points
// computes exactly what a single thread would.
std::vector<int> blockStarts(const QVector<double>& q) {
    std::vector<int> starts;
    const int n = q.size();
    int i = 0;
    while (i < n) {
        starts.push_back(i);
        const double step = i + 1 < n ? q[i + 1] - q[i] : 0.0;
        int end = i + 1;
        while (end < n && end - i < kMaxBlock && q[end] - q[end - 1] == step)
            ++end;
        i = end;
    }
    return starts;
}

// The sum over the points of blocks [firstBlock, lastBlock), with its own phasors.
bool sumBlocks(FastSum sum, const QVector<double>& q, const std::vector<ElementFactors>& factors,
               const std::vector<int>& starts, std::size_t firstBlock, std::size_t lastBlock,
               double period, int repeat, std::vector<std::complex<double>>& out,
               const SumControl& control) {
    clearAvxUpperState();
    double blockStep = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t b = firstBlock; b < lastBlock; ++b) {
        if (control.cancel && control.cancel->load(std::memory_order_relaxed))
            return false;
        const int begin = starts[b];
        const int blockEnd = b + 1 < starts.size() ? starts[b + 1] : q.size();
        sum.exponentials(q[begin], FastSum::Target::Phasors);
        const double step = begin + 1 < q.size() ? q[begin + 1] - q[begin] : 0.0;
        if (!(step == blockStep)) {
            sum.exponentials(step, FastSum::Target::Multipliers);
            blockStep = step;
        }
        for (int i = begin; i < blockEnd; i += kGroup) {
            // Groups are whole but for the last one of a block, whose surplus sums are not
            // used.
            const int groupSize = std::min(kGroup, blockEnd - i);
            ElementFactors f[kGroup];
            for (int j = 0; j < kGroup; ++j)
                f[j] = factors[std::size_t(i + std::min(j, groupSize - 1))];
            double singleRe[kGroup] = {};
            double singleIm[kGroup] = {};
            sum.sumSingles(f, singleRe, singleIm);
            for (int j = 0; j < groupSize; ++j) {
                const double qi = q[i + j];
                const std::complex<double> one =
                    std::complex<double>(singleRe[j], singleIm[j]) + sum.sumRuns(qi, f[j]);
                out[std::size_t(i + j)] = one * dirichletKernel(qi * period, repeat);
            }
        }
        if (control.pointsDone)
            control.pointsDone->fetch_add(blockEnd - begin, std::memory_order_relaxed);
    }
    return true;
}

// Measured: a run of several monolayers costs about five single terms, the rest of a point
// (factors, period kernel, substrate) about 400.
double costOfRuns(const std::vector<MonolayerRun>& runs) {
    double cost = 400;
    for (const MonolayerRun& r : runs)
        cost += r.count == 1 ? 1 : 5;
    return cost;
}

} // namespace

bool LayerSum::amplitudes(const QVector<double>& q, const std::vector<ElementFactors>& f,
                          std::vector<std::complex<double>>& out, const SumControl& control) const {
    out.assign(std::size_t(q.size()), std::complex<double>(0.0, 0.0));
    if (!hasLayers_ || q.isEmpty()) {
        if (control.pointsDone)
            control.pointsDone->fetch_add(q.size(), std::memory_order_relaxed);
        return !(control.cancel && control.cancel->load());
    }
    const std::vector<int> starts = blockStarts(q);
    const int threads =
        int(std::clamp<std::size_t>(std::size_t(std::max(control.threads, 1)), 1, starts.size()));
    if (threads == 1)
        return sumBlocks(planes_->sum, q, f, starts, 0, starts.size(), period_, repeat_, out,
                         control);

    // Contiguous ranges of whole blocks with about the same number of points each.
    std::vector<std::size_t> bounds{0};
    for (int t = 1; t < threads; ++t) {
        const qint64 target = qint64(q.size()) * t / threads;
        std::size_t b = bounds.back();
        while (b < starts.size() && starts[b] < target)
            ++b;
        bounds.push_back(b);
    }
    bounds.push_back(starts.size());
    std::vector<std::thread> workers;
    std::vector<int> completed(std::size_t(threads), 0);
    for (int t = 1; t < threads; ++t)
        workers.emplace_back([&, t] {
            completed[std::size_t(t)] = sumBlocks(planes_->sum, q, f, starts, bounds[t],
                                                  bounds[t + 1], period_, repeat_, out, control)
                                            ? 1
                                            : 0;
        });
    completed[0] =
        sumBlocks(planes_->sum, q, f, starts, bounds[0], bounds[1], period_, repeat_, out, control)
            ? 1
            : 0;
    for (std::thread& w : workers)
        w.join();
    return std::all_of(completed.begin(), completed.end(), [](int c) { return c != 0; });
}

qint64 LayerSum::termCount() const {
    return planes_->sum.termCount();
}

double LayerSum::costPerPoint() const {
    return costOfRuns(runs_);
}

qint64 curveTermCount(const QVector<double>& depth, const QVector<double>& inProfile,
                      const QVector<double>& asProfile) {
    return qint64(findRuns(depth, inProfile, asProfile).size());
}

double curveCostPerPoint(const QVector<double>& depth, const QVector<double>& inProfile,
                         const QVector<double>& asProfile) {
    return costOfRuns(findRuns(depth, inProfile, asProfile));
}
