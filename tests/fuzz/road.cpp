#include "tests/fuzz/road.h"

#include "plot/chcoord.h"
#include "simulation/calculation.h"
#include "simulation/curve.h"
#include "simulation/expansion.h"
#include "simulation/materials.h"
#include "simulation/resultarrays.h"
#include "structure/config.h"
#include "structure/structuretext.h"
#include "tests/views/recordingdevice.h"
#include "views/compositionview.h"
#include "views/diffractionview.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextCodec>

#include <cmath>
#include <utility>

namespace {

// Curves above this cost are not computed here: the fuzzer would slow to a crawl. The
// limits of the program itself are still checked on every input.
constexpr double kMaxFuzzWork = 2e6;
constexpr double kMaxDirectTerms = 3e4;
// Profiles longer than this are not painted: every monolayer gets a labelled boundary, and
// text layout is the slowest thing on the road.
constexpr int kMaxPaintedMonolayers = 2000;

QString inputPath() {
    static QTemporaryDir dir;
    return dir.filePath(QStringLiteral("structure.txt"));
}

QString loaderProblem(const Structure& c) {
    if (c.valid) {
        if (!(c.wavelength > 0) || !c.substrate.defined || c.layers.isEmpty())
            return QStringLiteral("valid structure without wavelength, substrate or layer");
        if (c.k != Config::twoPi / c.wavelength)
            return QStringLiteral("k is not 2π / wavelength");
        return QString();
    }
    if (c.wavelength != 1.0 || c.k != Config::twoPi || !c.withSubstrate || c.substrate.defined ||
        !c.layers.isEmpty() || c.repeat != 20 || c.ignoredLayers != 0)
        return QStringLiteral("invalid structure not reset");
    return QString();
}

// Compositions, wavelength and repeat of ordinary structures, where the fast sum has to
// agree with the literal one to rounding.
bool physical(const Structure& c) {
    auto fraction = [](double v) { return v >= -1 && v <= 2; };
    if (!(c.wavelength >= 0.5 && c.wavelength <= 10) || c.repeat < 1 || c.repeat > 50)
        return false;
    if (!fraction(c.substrate.inFraction) || !fraction(c.substrate.asFraction))
        return false;
    for (const Layer& l : c.layers) {
        for (double v : {l.inFraction, l.asFraction, l.endInFraction, l.endAsFraction,
                         l.startInFraction, l.startAsFraction})
            if (!fraction(v))
                return false;
        if (!(std::fabs(l.endWidth) <= 1e6) || !(std::fabs(l.startWidth) <= 1e6))
            return false;
    }
    return true;
}

// The largest amplitude the layers could reach at any point of the curve: every plane in
// phase.
double coherentAmplitude(const Structure& c, const ResultArrays& r) {
    double bound = 0;
    for (double q : r.q) {
        const double s = q / 12.566370614359172;
        double sum = 0;
        for (int n = 0; n + 1 < r.depth.size(); ++n)
            sum += std::fabs(groupIIIFactor(r.inProfile[n], s)) +
                   std::fabs(groupVFactor(r.asProfile[n], s));
        bound = std::max(bound, sum * std::max(c.repeat, 0));
    }
    return bound;
}

// The fast sum must agree with the literal one to rounding: within 1e-12 of the largest
// intensity everywhere and 1e-9 relative wherever the intensity exceeds 1e-6 of the
// largest. Where the planes cancel far below their coherent sum, neither sum is known that
// well: every phase q z carries a rounding error of about 1e-16 q z, so the amplitude is
// uncertain by up to noise = 1e-15 (1 + largest phase) coherent, and a difference within
// 2 sqrt(I) noise + noise^2 is accepted too.
QString curveDisagreement(const ResultArrays& fast, const ResultArrays& direct, double coherent,
                          double largestPhase) {
    double largest = 0;
    for (double v : direct.intensity)
        if (std::isfinite(v))
            largest = std::max(largest, v);
    const double noise = 1e-15 * (1 + largestPhase) * coherent;
    for (int i = 0; i < fast.intensity.size(); ++i) {
        const double a = fast.intensity[i];
        const double b = direct.intensity[i];
        if (!std::isfinite(b) || !std::isfinite(a)) {
            if (!(a == b || (std::isnan(a) && std::isnan(b))))
                return QStringLiteral("point %1: fast %2, direct %3").arg(i).arg(a).arg(b);
            continue;
        }
        const double diff = std::fabs(a - b);
        const bool digitsAgree =
            diff <= 1e-12 * largest && (b <= 1e-6 * largest || diff <= 1e-9 * b);
        const bool withinNoise = diff <= 2 * std::sqrt(b) * noise + noise * noise;
        if (!digitsAgree && !withinNoise)
            return QStringLiteral("point %1: fast %2, direct %3 (largest %4, noise %5)")
                .arg(i)
                .arg(a, 0, 'g', 17)
                .arg(b, 0, 'g', 17)
                .arg(largest)
                .arg(noise);
    }
    return QString();
}

// Paints both views as the window would, at the derived scale and then zoomed by a factor
// taken from the input, onto a recording device and a real image.
QString paintProblem(const ResultArrays& r, unsigned seed) {
    for (bool logScale : {false, true}) {
        RecordingDevice device(200, 150);
        QImage image(200, 150, QImage::Format_RGB32);
        ChCoord comp;
        ChCoord kspace;
        setDiffractionMargins(kspace);
        bool neverComp = true;
        bool neverKSpace = true;
        for (int pass = 0; pass < 2; ++pass) {
            for (QPaintDevice* target :
                 {static_cast<QPaintDevice*>(&device), static_cast<QPaintDevice*>(&image)}) {
                QPainter p(target);
                comp.setArea(0, 150, 200, 0);
                if (!r.depth.isEmpty()) {
                    comp.applyMargins();
                    if (std::exchange(neverComp, false))
                        if (const std::optional<PlotRange> range = compositionRange(r))
                            showRange(comp, *range);
                    drawComposition(p, comp, r);
                }
                kspace.setArea(0, 150, 200, 0);
                if (!r.theta.isEmpty()) {
                    kspace.applyMargins();
                    if (std::exchange(neverKSpace, false))
                        if (const std::optional<PlotRange> range =
                                diffractionRange(r.theta, r.intensity, logScale))
                            showRange(kspace, *range);
                    drawDiffraction(p, kspace, r.theta, r.intensity, logScale);
                }
            }
            if (device.badCoordinates > 0)
                return QStringLiteral("%1 bad coordinates reached the painter (%2 scale, pass %3)")
                    .arg(device.badCoordinates)
                    .arg(logScale ? "log" : "linear")
                    .arg(pass);
            // Zoom about a point of the data by 10^-12 .. 10^12, as far as the mouse could.
            const double factor = std::pow(10.0, int(seed % 25) - 12);
            for (ChCoord* c : {&comp, &kspace}) {
                const double cx = c->scaleX0 + (c->scaleX1 - c->scaleX0) * ((seed >> 5) % 7) / 6;
                const double cy = c->scaleY0 + (c->scaleY1 - c->scaleY0) * ((seed >> 8) % 7) / 6;
                c->setScale(cx + (c->scaleX0 - cx) * factor, cy + (c->scaleY0 - cy) * factor,
                            cx + (c->scaleX1 - cx) * factor, cy + (c->scaleY1 - cy) * factor);
            }
        }
    }
    return QString();
}

// The table's in-place edit of a loaded structure: the editor finds every LAYER line the
// reader read, and the first one's thickness, written by the editor, is what the reader reads
// back, every other layer as it was. Only for UTF-8 text, which editor and reader decode
// alike.
QString editProblem(const QByteArray& input, const Structure& before) {
    // In any encoding, a text the writer may write from gives back exactly its bytes.
    const StructureText any(input);
    if (any.exact() && any.bytes() != input)
        return QStringLiteral("the editor would change bytes it did not edit");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QTextCodec::codecForName("UTF-8")->toUnicode(input.constData(), int(input.size()), &state);
    if (state.invalidChars != 0 || state.remainingChars != 0 || !before.valid)
        return QString();
    StructureText text(input);
    if (text.layerCount() != before.layers.size() + before.ignoredLayers)
        return QStringLiteral("the editor finds %1 LAYER lines, the reader %2")
            .arg(text.layerCount())
            .arg(before.layers.size() + before.ignoredLayers);
    const int monolayers = before.layers.first().monolayers == 7 ? 8 : 7;
    if (!text.setLayerNumber(0, StructureText::Monolayers, monolayers))
        return QStringLiteral("the editor refuses the first layer's thickness");
    const QString path = inputPath() + QStringLiteral(".edited");
    QFile f(path);
    const QByteArray edited = text.bytes();
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(edited) != edited.size())
        return QStringLiteral("cannot write the edited file");
    f.close();
    Config after;
    after.load(path);
    if (!after.valid || after.layers.size() != before.layers.size())
        return QStringLiteral("the edited file reads as another structure");
    for (int j = 0; j < after.layers.size(); ++j) {
        const Layer& a = after.layers.at(j);
        const Layer& b = before.layers.at(j);
        if ((j == 0 ? a.monolayers != monolayers : a.monolayers != b.monolayers) ||
            !(a.inFraction == b.inFraction ||
              (std::isnan(a.inFraction) && std::isnan(b.inFraction))) ||
            !(a.asFraction == b.asFraction ||
              (std::isnan(a.asFraction) && std::isnan(b.asFraction))))
            return QStringLiteral("layer %1 reads otherwise after the edit of the first")
                .arg(j + 1);
    }
    return QString();
}

} // namespace

QString checkRoad(const QByteArray& input) {
    const QString path = inputPath();
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(input) != input.size())
            return QStringLiteral("cannot write the input file");
    }
    Config c;
    const LoadedStructure loaded = loadStructure(c, path);
    if (loaded.status == LoadedStructure::NotOpened)
        return QStringLiteral("an existing regular file could not be opened");
    QString problem = loaderProblem(c);
    if (problem.isEmpty())
        problem = editProblem(input, c);
    if (!problem.isEmpty() || loaded.status != LoadedStructure::Ready)
        return problem;
    const Calculation& calculation = *loaded.calculation;

    ResultArrays r = calculation.profile();
    const int entries = r.depth.size();
    if (entries < 1 || r.inProfile.size() != entries || r.asProfile.size() != entries)
        return QStringLiteral("profile arrays of unequal length");

    const double period = r.depth.last();
    if (calculation.work() <= kMaxFuzzWork) {
        calculation.compute(r);
        const int n = r.q.size();
        if (r.theta.size() != n || r.intensity.size() != n)
            return QStringLiteral("curve arrays of unequal length");
        for (int i = 0; i < n; ++i) {
            if (i > 0 && !(r.q[i] > r.q[i - 1]))
                return QStringLiteral("q does not increase at point %1").arg(i);
            if (!(r.theta[i] >= 0 && r.theta[i] <= 90))
                return QStringLiteral("theta %1 out of range at point %2").arg(r.theta[i]).arg(i);
        }
        const double terms = double(n) * std::max(c.repeat, 0) * (entries - 1);
        if (physical(c) && c.ext.model == ModelKind::Basic && terms <= kMaxDirectTerms) {
            ResultArrays direct = r;
            computeCurveDirect(c, direct);
            const double lastQ = r.q.isEmpty() ? 0.0 : r.q.last();
            const double phase = lastQ * (std::max(c.repeat, 0) + 1.0) * std::fabs(period);
            problem = curveDisagreement(r, direct, coherentAmplitude(c, r), phase);
            if (!problem.isEmpty())
                return problem;
        }
    }
    if (entries > kMaxPaintedMonolayers)
        return QString();
    return paintProblem(r, qHash(input));
}
