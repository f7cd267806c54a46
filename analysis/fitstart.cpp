#include "analysis/fitstart.h"

#include "analysis/peaks.h"
#include "analysis/scanroad.h"
#include "measured/measuredscan.h"
#include "simulation/model.h"
#include "structure/config.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Fit", text);
}

// Compositions tried along the range when the peaks leave the composition open, and the grid
// on which the mean mismatch is matched when they fix it.
constexpr int kOpenCompositions = 7;
constexpr int kCompositionGrid = 41;
// Satellites on either side of the strongest one that may be the zeroth order.
constexpr int kOrdersAside = 2;
constexpr double kDegrees = 180.0 / 3.14159265358979323846;
// The median of a chi-square variable of one degree of freedom.
constexpr double kChiSquareMedian = 0.454936;

struct FreeThickness {
    std::size_t fit; // index among the FIT lines
    int layer;       // 0-based
};

} // namespace

double logNoiseFloor(const std::vector<double>& intensity) {
    std::vector<double> logs;
    logs.reserve(intensity.size());
    for (double v : intensity)
        if (v > 0.0 && std::isfinite(v))
            logs.push_back(std::log10(v));
    if (logs.size() < 8)
        return 0.0;
    // White noise of variance s^2 gives second differences of variance 6 s^2.
    std::vector<double> squares;
    squares.reserve(logs.size() - 2);
    for (std::size_t i = 1; i + 1 < logs.size(); ++i) {
        const double d = logs[i - 1] - 2.0 * logs[i] + logs[i + 1];
        squares.push_back(d * d);
    }
    const auto middle = squares.begin() + std::ptrdiff_t(squares.size() / 2);
    std::nth_element(squares.begin(), middle, squares.end());
    return *middle / kChiSquareMedian / 6.0;
}

PeakStart peakStart(const Structure& base, const MeasuredScan& scan,
                    const std::vector<double>& values, bool weighted) {
    PeakStart out;
    const QVector<FitParameter>& fits = base.ext.fits;
    if (values.size() != std::size_t(fits.size()) || scan.theta.size() < 8 ||
        scan.theta.size() != scan.intensity.size())
        return out;
    out.noiseFloor =
        weighted ? 1.0
                 : logNoiseFloor(std::vector<double>(scan.intensity.begin(), scan.intensity.end()));
    const std::unique_ptr<Model> model = makeModel(base.ext.model);
    if (!model || base.layers.isEmpty())
        return out;

    double bragg = std::numeric_limits<double>::quiet_NaN();
    for (double t : substrateReflections(base))
        if (t >= scan.theta.first() && t <= scan.theta.last()) {
            bragg = t;
            break;
        }
    const PeakAnalysis peaks = analysePeaks(scan.theta, scan.intensity, base.wavelength, bragg);

    std::vector<double> start = values;
    const auto clampTo = [&](std::size_t i, double v) {
        return std::clamp(v, fits[int(i)].min, fits[int(i)].max);
    };
    bool founded = false;
    int composition = -1;      // FIT line of the free composition
    int otherCompositions = 0; // further free compositions, which the peaks cannot tell apart
    std::vector<FreeThickness> thicknesses;
    for (int i = 0; i < fits.size(); ++i) {
        const FitParameter& p = fits[i];
        if (!(p.min < p.max))
            continue;
        const std::size_t k = std::size_t(i);
        if (p.target == FitParameter::Offset && std::isfinite(bragg) &&
            std::isfinite(peaks.substrate.theta)) {
            start[k] = clampTo(k, bragg - peaks.substrate.theta);
            out.notes
                << tr("Fit start: OFFSET %1 from the substrate peak.").arg(start[k], 0, 'f', 4);
            founded = true;
        } else if ((p.target == FitParameter::InFraction || p.target == FitParameter::AsFraction) &&
                   composition < 0 && p.layer >= 1 && p.layer <= base.layers.size()) {
            composition = i;
        } else if (p.target == FitParameter::InFraction || p.target == FitParameter::AsFraction) {
            ++otherCompositions;
        } else if (p.target == FitParameter::Thickness && p.layer >= 1 &&
                   p.layer <= base.layers.size()) {
            thicknesses.push_back({k, p.layer - 1});
        }
    }

    const int layerCount = base.layers.size();
    const double substrateHeight = model->layerMonolayerHeight(base, base.substrate);
    if (!(substrateHeight > 0.0) || !std::isfinite(substrateHeight)) {
        if (founded)
            out.starts.push_back(start);
        return out;
    }
    // The mean mismatch of the period: the main peak's. The strongest satellite need not be
    // the zeroth order, though (a strained period's envelope peaks off it), so the satellites
    // of orders up to kOrdersAside on either side of it are tried as the zeroth order too.
    double mismatch = peaks.strongestMismatch.value;
    const bool mismatchKnown = peaks.strongestMismatch.known();
    const bool periodKnown = base.repeat > 1 && peaks.period.known() && peaks.period.value > 0.0;
    if (base.repeat > 1 && !periodKnown && !thicknesses.empty())
        out.notes << tr("Fit start: no period from the satellites (%1).").arg(peaks.period.why);
    const bool thicknessKnown = base.repeat == 1 && layerCount == 1 && peaks.thickness.known() &&
                                peaks.thickness.value > 0.0;

    // Monolayer heights of the layers with the free composition at c.
    const auto heights = [&](double c) {
        std::vector<double> h(std::size_t(layerCount), substrateHeight);
        for (int i = 0; i < layerCount; ++i) {
            double x = base.layers[i].inFraction, y = base.layers[i].asFraction;
            if (composition >= 0 && fits[composition].layer - 1 == i) {
                if (fits[composition].target == FitParameter::InFraction)
                    x = c;
                else
                    y = c;
            }
            const double v = model->monolayerHeight(base, base.layers[i].system, x, y);
            if (v > 0.0 && std::isfinite(v))
                h[std::size_t(i)] = v;
        }
        return h;
    };
    const auto monolayersOf = [&](const std::vector<double>& v) {
        std::vector<double> n(static_cast<std::size_t>(layerCount));
        for (int i = 0; i < layerCount; ++i)
            n[std::size_t(i)] = std::max(base.layers[i].monolayers, 0);
        for (const FreeThickness& t : thicknesses)
            n[std::size_t(t.layer)] = v[t.fit];
        return n;
    };
    // The free thicknesses that the peaks fix for composition c; false when they fix none.
    const auto setThicknesses = [&](double c, std::vector<double>& v) {
        if (thicknesses.empty())
            return false;
        const std::vector<double> h = heights(c);
        if (thicknessKnown && thicknesses.size() == 1) {
            const FreeThickness& t = thicknesses[0];
            v[t.fit] = clampTo(t.fit, std::round(peaks.thickness.value / h[std::size_t(t.layer)]));
            return true;
        }
        if (!periodKnown)
            return false;
        const double period = peaks.period.value;
        std::vector<double> n = monolayersOf(v);
        double fixedHeight = 0.0, fixedCount = 0.0;
        for (int i = 0; i < layerCount; ++i) {
            const bool free = std::any_of(thicknesses.begin(), thicknesses.end(),
                                          [&](const FreeThickness& t) { return t.layer == i; });
            if (!free) {
                fixedHeight += n[std::size_t(i)] * h[std::size_t(i)];
                fixedCount += n[std::size_t(i)];
            }
        }
        if (thicknesses.size() == 1) {
            const FreeThickness& t = thicknesses[0];
            v[t.fit] = clampTo(t.fit, std::round((period - fixedHeight) / h[std::size_t(t.layer)]));
            return true;
        }
        if (thicknesses.size() != 2 || !mismatchKnown)
            return false;
        // N1 h1 + N2 h2 = period - fixed height; N1 + N2 = period / mean height - fixed count.
        const FreeThickness& a = thicknesses[0];
        const FreeThickness& b = thicknesses[1];
        const double ha = h[std::size_t(a.layer)], hb = h[std::size_t(b.layer)];
        const double total = period / (substrateHeight * (1.0 + mismatch)) - fixedCount;
        const double height = period - fixedHeight;
        if (!(std::fabs(ha - hb) > 1e-9 * substrateHeight))
            return false;
        const double na = (height - hb * total) / (ha - hb);
        const double nb = total - na;
        if (!std::isfinite(na) || !std::isfinite(nb) || na < 0.0 || nb < 0.0)
            return false;
        v[a.fit] = clampTo(a.fit, std::round(na));
        v[b.fit] = clampTo(b.fit, std::round(nb));
        return true;
    };
    // Mean mismatch of the period the vector gives, less the measured one.
    const auto mismatchMiss = [&](double c, const std::vector<double>& v) {
        const std::vector<double> h = heights(c);
        const std::vector<double> n = monolayersOf(v);
        double count = 0.0, height = 0.0;
        for (std::size_t i = 0; i < h.size(); ++i) {
            count += n[i];
            height += n[i] * h[i];
        }
        if (!(count > 0.0))
            return std::numeric_limits<double>::quiet_NaN();
        return height / count / substrateHeight - 1.0 - mismatch;
    };

    if (composition < 0 || !mismatchKnown) {
        const bool fixed =
            setThicknesses(composition < 0 ? 0.0 : start[std::size_t(composition)], start);
        out.complete = otherCompositions == 0 && composition < 0 && (fixed || thicknesses.empty());
        if (fixed) {
            founded = true;
            out.notes << tr("Fit start: thicknesses from the %1.")
                             .arg(periodKnown ? tr("satellites") : tr("fringes"));
        }
        if (founded)
            out.starts.push_back(start);
        return out;
    }

    const std::size_t ci = std::size_t(composition);
    const double low = fits[composition].min, high = fits[composition].max;
    std::vector<double> zerothOrders{mismatch};
    if (periodKnown && std::isfinite(peaks.substrate.theta))
        for (int i = 0; i < peaks.satelliteTheta.size(); ++i) {
            const double m = std::sin(peaks.substrate.theta / kDegrees) /
                                 std::sin(peaks.satelliteTheta[i] / kDegrees) -
                             1.0;
            if (peaks.satelliteOrder[i] != 0 && std::abs(peaks.satelliteOrder[i]) <= kOrdersAside &&
                std::isfinite(m))
                zerothOrders.push_back(m);
        }
    // With two free thicknesses of a period both the period and the mean mismatch go into
    // them: the composition is left open.
    const bool open = periodKnown && thicknesses.size() == 2;
    bool fixed = thicknesses.empty(); // the peaks gave the free thicknesses of some start
    for (double zeroth : zerothOrders) {
        mismatch = zeroth;
        if (open) {
            for (int s = 0; s < kOpenCompositions; ++s) {
                const double c = low + (high - low) * (s + 0.5) / kOpenCompositions;
                std::vector<double> v = start;
                v[ci] = c;
                if (setThicknesses(c, v)) {
                    out.starts.push_back(v);
                    fixed = true;
                }
            }
            continue;
        }
        std::vector<double> grid(kCompositionGrid), miss(kCompositionGrid);
        std::vector<std::vector<double>> vectors(kCompositionGrid, start);
        for (int g = 0; g < kCompositionGrid; ++g) {
            const double c = low + (high - low) * g / double(kCompositionGrid - 1);
            std::vector<double>& v = vectors[std::size_t(g)];
            v[ci] = c;
            setThicknesses(c, v);
            grid[std::size_t(g)] = c;
            miss[std::size_t(g)] = mismatchMiss(c, v);
        }
        bool found = false;
        for (int g = 0; g + 1 < kCompositionGrid; ++g) {
            const double a = miss[std::size_t(g)], b = miss[std::size_t(g + 1)];
            if (!std::isfinite(a) || !std::isfinite(b) || (a > 0.0) == (b > 0.0))
                continue;
            const double c = grid[std::size_t(g)] +
                             (grid[std::size_t(g + 1)] - grid[std::size_t(g)]) * a / (a - b);
            std::vector<double> v = start;
            v[ci] = c;
            fixed = setThicknesses(c, v) || fixed;
            out.starts.push_back(v);
            found = true;
        }
        if (!found) {
            int bestAt = -1;
            for (int g = 0; g < kCompositionGrid; ++g)
                if (std::isfinite(miss[std::size_t(g)]) &&
                    (bestAt < 0 ||
                     std::fabs(miss[std::size_t(g)]) < std::fabs(miss[std::size_t(bestAt)])))
                    bestAt = g;
            if (bestAt >= 0)
                out.starts.push_back(vectors[std::size_t(bestAt)]);
        }
    }
    out.complete = otherCompositions == 0 && fixed && !out.starts.empty();
    if (open)
        out.notes << tr("Fit start: %1 points along %2 with the thicknesses that keep the "
                        "period of the satellites and the mean mismatch of one of %3 of them "
                        "taken as the zeroth order.")
                         .arg(out.starts.size())
                         .arg(fits[composition].text)
                         .arg(zerothOrders.size());
    else if (!out.starts.empty())
        out.notes << tr("Fit start: %1 %2 from the mean mismatch %3 of the main peak.")
                         .arg(fits[composition].text)
                         .arg(out.starts.front()[ci], 0, 'f', 4)
                         .arg(zerothOrders.front(), 0, 'g', 4);
    return out;
}
