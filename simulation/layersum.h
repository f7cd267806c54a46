#pragma once

#include <QVector>
#include <QtGlobal>

#include <atomic>
#include <complex>
#include <memory>
#include <vector>

// The fast summation engine: the kinematical sum over the planes of a depth profile, repeated
// over the periods of a stack, at a list of scattering-vector lengths q. Runs of identical
// monolayers collapse into Dirichlet kernels, the periods into one more, and the phases of
// the planes advance from point to point by a complex multiplication wherever the q step
// stays the same, with exact re-seeds every few hundred points. Any list of q values is
// accepted; uniform stretches are the fast case.

// Scattering factors of the four elements at one point, temperature factor applied. The
// factor of a sublattice of composition x is (1 - x) * ga + x * in (and likewise for V).
struct ElementFactors {
    double in;
    double ga;
    double as;
    double p;
};

// Consecutive monolayers with the same In fraction, As fraction and depth step, compared
// exactly: their planes sit at z0 + j h, so their sum is one term times K_N(q h). The step
// is compared as computed, since the accumulated depth changes its step where it crosses a
// power of two.
struct MonolayerRun {
    int first;
    int count;
};

// The runs of a profile (depth, inProfile, asProfile as the expansion leaves them), in order.
std::vector<MonolayerRun> findRuns(const QVector<double>& depth, const QVector<double>& inProfile,
                                   const QVector<double>& asProfile);

// Libm calls run many times slower when a thread leaves the upper halves of the AVX registers
// dirty, which painting code in the same thread may do: long numeric loops start with this.
void clearAvxUpperState();

// phi reduced to [-π, π] about the nearest multiple of 2π, without a rounding error of its
// own for |phi| below about 5e7 (2π split in two, Cody and Waite); beyond, the library's exact
// remainder by the double nearest 2π.
double reduceTwoPi(double phi);

// Dirichlet kernel K_n(phi) = sum over j < n of e^(i j phi), evaluated stably near the
// multiples of 2π where the closed form is 0/0. 0 for n < 1.
std::complex<double> dirichletKernel(double phi, double n);

// How a long sum is run: threads (the result is the same to the bit for any count), a flag
// that ends it early, and a count of the points done so far for a progress display.
struct SumControl {
    int threads = 1;
    const std::atomic<bool>* cancel = nullptr;
    std::atomic<qint64>* pointsDone = nullptr;
};

// The sum of one depth profile, prepared once (runs found, planes laid out) and evaluated at
// any number of q lists, from several threads at once.
class LayerSum {
public:
    LayerSum(const QVector<double>& depth, const QVector<double>& inProfile,
             const QVector<double>& asProfile, int repeat);
    LayerSum(const QVector<double>& depth, const QVector<double>& inProfile,
             const QVector<double>& asProfile, int repeat, std::vector<MonolayerRun> runs);
    ~LayerSum();
    LayerSum(const LayerSum&) = delete;
    LayerSum& operator=(const LayerSum&) = delete;

    // Amplitude of the whole stack (every period) at each q[i], with the element factors
    // f[i] of that point. False when cancelled (out is then incomplete).
    bool amplitudes(const QVector<double>& q, const std::vector<ElementFactors>& f,
                    std::vector<std::complex<double>>& out, const SumControl& control = {}) const;

    // Distinct terms per point: runs of identical monolayers count once.
    qint64 termCount() const;
    // Cost of one point in units of one single-monolayer term (about 0.75 ns on a 2020s
    // desktop core): a run of several monolayers costs about five, the rest of a point
    // (factors, period kernel, substrate) about 400.
    double costPerPoint() const;

private:
    class Planes;
    std::vector<MonolayerRun> runs_;
    std::unique_ptr<Planes> planes_;
    double period_ = 0;
    int repeat_ = 0;
    bool hasLayers_ = false;
};

// Number of distinct terms per curve point for this profile (see LayerSum::termCount).
qint64 curveTermCount(const QVector<double>& depth, const QVector<double>& inProfile,
                      const QVector<double>& asProfile);

// Cost of one curve point (see LayerSum::costPerPoint).
double curveCostPerPoint(const QVector<double>& depth, const QVector<double>& inProfile,
                         const QVector<double>& asProfile);
