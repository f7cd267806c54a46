#include "simulation/anomalous.h"

#include "simulation/materials.h"

#include <xraylib.h>

#include <cmath>
#include <memory>
#include <mutex>

namespace {

constexpr double kHcKeVAngstrom = 12.398419843320026;

// xraylib 4 reports a failure through an allocated error record that the caller frees.
struct ErrorDeleter {
    void operator()(xrl_error* e) const { xrl_error_free(e); }
};
using ErrorHolder = std::unique_ptr<xrl_error, ErrorDeleter>;

// Serialises the calls into xraylib: its documentation promises nothing about threads, and
// the calls are few (eight per model set-up), so a lock costs nothing measurable.
std::mutex xraylibMutex;

// One xraylib call; false with xraylib's message when it fails.
bool call(double (*function)(int, double, xrl_error**), const char* name, int z, double energy,
          double& value, QString* error) {
    xrl_error* raw = nullptr;
    {
        const std::lock_guard<std::mutex> lock(xraylibMutex);
        value = function(z, energy, &raw);
    }
    const ErrorHolder holder(raw);
    if (holder || !std::isfinite(value)) {
        if (error)
            *error = QStringLiteral("xraylib %1 has no value for Z = %2 at %3 keV: %4")
                         .arg(QString::fromLatin1(name))
                         .arg(z)
                         .arg(energy)
                         .arg(holder && holder->message ? QString::fromUtf8(holder->message)
                                                        : QStringLiteral("not a number"));
        value = 0.0;
        return false;
    }
    return true;
}

} // namespace

double photonEnergyKeV(double wavelength) {
    return kHcKeVAngstrom / wavelength;
}

bool anomalousFactors(int z, double energyKeV, double& f1, double& f2, QString* error) {
    f1 = 0.0;
    f2 = 0.0;
    // xraylib accepts any double and says so when it cannot answer; a NaN would pass its
    // range test unnoticed, so it is refused here.
    if (!std::isfinite(energyKeV) || !(energyKeV > 0)) {
        if (error)
            *error = QStringLiteral("no anomalous scattering factors at a photon energy of "
                                    "%1 keV")
                         .arg(energyKeV);
        return false;
    }
    double fii = 0.0;
    if (!call(Fi, "Fi", z, energyKeV, f1, error) || !call(Fii, "Fii", z, energyKeV, fii, error)) {
        f1 = 0.0;
        return false;
    }
    f2 = -fii;
    return true;
}

unsigned systemElements(const MaterialSystem& s) {
    return elementBit(s.a0) | elementBit(s.a1) | elementBit(s.b0) | elementBit(s.b1);
}

bool elementDispersion(double wavelength, ElementDispersion& out, QString* error,
                       unsigned elements) {
    out = ElementDispersion();
    const double energy = photonEnergyKeV(wavelength);
    ElementDispersion d;
    if (!anomalousFactors(31, energy, d.gaF1, d.gaF2, error) ||
        !anomalousFactors(49, energy, d.inF1, d.inF2, error) ||
        !anomalousFactors(33, energy, d.asF1, d.asF2, error) ||
        !anomalousFactors(15, energy, d.pF1, d.pF2, error))
        return false;
    const auto set = [&d](Element e, double f1, double f2) {
        d.f1[int(e)] = f1;
        d.f2[int(e)] = f2;
    };
    set(Element::Ga, d.gaF1, d.gaF2);
    set(Element::In, d.inF1, d.inF2);
    set(Element::As, d.asF1, d.asF2);
    set(Element::P, d.pF1, d.pF2);
    const unsigned basic = elementBit(Element::Ga) | elementBit(Element::In) |
                           elementBit(Element::As) | elementBit(Element::P);
    for (int i = 0; i < kElementCount; ++i) {
        const Element e = Element(i);
        if ((elements & elementBit(e)) == 0 || (basic & elementBit(e)) != 0)
            continue;
        if (!anomalousFactors(atomicNumber(e), energy, d.f1[i], d.f2[i], error))
            return false;
    }
    out = d;
    return true;
}
