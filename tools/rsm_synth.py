#!/usr/bin/env python3
"""Synthetic reciprocal-space maps of InGaAs layers on GaAs at (224), for the map tests.

Each map is measured as lines of 2theta-omega scans at stepped omega offsets, as a grower's
diffractometer does; every point's intensity is a sum of Gaussian spots placed in Q by the
same elastic rules the program uses (Vegard's lattice constants, 2 C12 / C11 interpolated
linearly between GaAs and InAs), plus a flat background, with Poisson noise of a fixed seed.

    python3 tools/rsm_synth.py OUTDIR            # the small maps of tests/data/rsm
    python3 tools/rsm_synth.py OUTDIR --big N    # one XRDML map of about N points (bench)

Writes for each geometry (exit, incidence): NAME.xrdml, NAME.ras and NAME.txt (omega, 2theta,
counts per second), and prints the true Qx, Qz of every spot.
"""
import math
import sys

import numpy as np

WAVELENGTH = 1.5405929  # Å, Cu K-alpha1
A_GAAS, A_INAS = 5.6535, 6.0585
C11 = (119.0, 83.4)  # GaAs, InAs, GPa
C12 = (53.4, 45.4)
H, K, L = 2, 2, 4

# (In fraction, relaxation): coherent, half relaxed, fully relaxed.
LAYERS = [(0.05, 0.0), (0.10, 0.5), (0.15, 1.0)]


def lattice(x):
    return A_GAAS * (1 - x) + A_INAS * x


def ratio(x):
    return 2 * (C12[0] * (1 - x) + C12[1] * x) / (C11[0] * (1 - x) + C11[1] * x)


def layer_q(x, r, sign):
    a0 = lattice(x)
    a_par = A_GAAS + r * (a0 - A_GAAS)
    a_perp = a0 - ratio(x) * (a_par - a0)
    return (sign * 2 * math.pi * math.hypot(H, K) / a_par, 2 * math.pi * L / a_perp)


def to_q(omega, two_theta):
    k = 2 * math.pi / WAVELENGTH
    w = np.radians(omega)
    t = np.radians(two_theta)
    return k * (np.cos(t - w) - np.cos(w)), k * (np.sin(w) + np.sin(t - w))


def spots(sign, graded):
    """(qx, qz, peak cps, sigma_x, sigma_z) of the substrate and the layers."""
    out = [(*layer_q(0.0, 0.0, sign), 2e5, 0.0012, 0.0012)]
    if graded:
        # A linearly graded buffer up to x = 0.15, relaxing as it grows: a streak of spots.
        for i in range(1, 41):
            x = 0.15 * i / 40
            out.append((*layer_q(x, 0.8 * i / 40, sign), 300.0, 0.002, 0.002))
    else:
        for x, r in LAYERS:
            out.append((*layer_q(x, r, sign), 2e4, 0.0015, 0.0015))
    return out


def measure(sign, lines, points, graded=False, seed=7):
    """omega, 2theta and counts of `lines` 2theta-omega scans of `points` points each."""
    s = spots(sign, graded)
    qx = np.array([p[0] for p in s])
    qz = np.array([p[1] for p in s])
    k = 2 * math.pi / WAVELENGTH
    # The angles of the corners of the Q box, with a margin.
    lo_x, hi_x = qx.min() - 0.012, qx.max() + 0.012
    lo_z, hi_z = qz.min() - 0.012, qz.max() + 0.012
    offsets, tths = [], []
    for cx in (lo_x, hi_x):
        for cz in (lo_z, hi_z):
            q = math.hypot(cx, cz)
            theta = math.asin(q / (2 * k))
            omega = theta + math.atan2(cx, cz)
            offsets.append(math.degrees(omega - theta))
            tths.append(math.degrees(2 * theta))
    offset = np.linspace(min(offsets), max(offsets), lines)
    tth = np.linspace(min(tths), max(tths), points)
    two_theta = np.tile(tth, (lines, 1))
    omega = two_theta / 2 + offset[:, None]
    mx, mz = to_q(omega, two_theta)
    rate = np.full(omega.shape, 2.0)
    for x0, z0, peak, sx, sz in s:
        rate += peak * np.exp(-0.5 * (((mx - x0) / sx) ** 2 + ((mz - z0) / sz) ** 2))
    counts = np.random.default_rng(seed).poisson(rate).astype(float)
    return omega, two_theta, counts


def write_xrdml(path, omega, two_theta, counts):
    with open(path, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<xrdMeasurements xmlns="http://www.xrdml.com/XRDMeasurement/1.5" '
                'status="Completed">\n'
                ' <xrdMeasurement measurementType="Area measurement" status="Completed">\n'
                '  <usedWavelength intended="K-Alpha 1">\n'
                f'   <kAlpha1 unit="Angstrom">{WAVELENGTH}</kAlpha1>\n'
                '  </usedWavelength>\n')
        for i in range(omega.shape[0]):
            f.write('  <scan appendNumber="%d" mode="Continuous" scanAxis="2Theta-Omega" '
                    'status="Completed">\n   <dataPoints>\n' % i)
            for axis, v in (("2Theta", two_theta[i]), ("Omega", omega[i])):
                f.write(f'    <positions axis="{axis}" unit="deg">'
                        f'<startPosition>{v[0]:.6f}</startPosition>'
                        f'<endPosition>{v[-1]:.6f}</endPosition></positions>\n')
            f.write('    <commonCountingTime unit="seconds">1.00</commonCountingTime>\n'
                    '    <intensities unit="counts">')
            f.write(" ".join("%d" % c for c in counts[i]))
            f.write('</intensities>\n   </dataPoints>\n  </scan>\n')
        f.write(' </xrdMeasurement>\n</xrdMeasurements>\n')


def write_ras(path, omega, two_theta, counts):
    step = two_theta[0, 1] - two_theta[0, 0]
    with open(path, "w", newline="\r\n") as f:
        f.write("*RAS_DATA_START\n")
        for i in range(omega.shape[0]):
            f.write('*RAS_HEADER_START\n*MEAS_SCAN_AXIS_X "TwoThetaOmega"\n'
                    '*MEAS_SCAN_UNIT_Y "counts"\n'
                    f'*MEAS_SCAN_START "{two_theta[i, 0]:.6f}"\n'
                    f'*MEAS_SCAN_STEP "{step:.8f}"\n'
                    f'*MEAS_SCAN_SPEED "{step * 60:.8f}"\n'
                    '*MEAS_COND_AXIS_NAME-0 "TwoTheta"\n'
                    f'*MEAS_COND_AXIS_POSITION-0 "{two_theta[i, 0]:.6f}"\n'
                    '*MEAS_COND_AXIS_NAME-1 "Omega"\n'
                    f'*MEAS_COND_AXIS_POSITION-1 "{omega[i, 0]:.6f}"\n'
                    f'*HW_XG_WAVE_LENGTH_ALPHA1 "{WAVELENGTH}"\n'
                    "*RAS_HEADER_END\n*RAS_INT_START\n")
            for t, c in zip(two_theta[i], counts[i]):
                f.write(f"{t:.6f} {c:.0f} 1.0000\n")
            f.write("*RAS_INT_END\n")
        f.write("*RAS_DATA_END\n")


def write_text(path, omega, two_theta, counts):
    with open(path, "w") as f:
        f.write("# omega 2theta counts/s\n")
        for i in range(omega.shape[0]):
            for w, t, c in zip(omega[i], two_theta[i], counts[i]):
                f.write(f"{w:.6f} {t:.6f} {c:.0f}\n")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    if "--big" in sys.argv:
        n = int(sys.argv[sys.argv.index("--big") + 1])
        lines = int(math.sqrt(n / 4))
        omega, two_theta, counts = measure(+1, lines, n // lines)
        write_xrdml(f"{out}/big-exit.xrdml", omega, two_theta, counts)
        print(omega.size, "points")
        return
    for name, sign in (("exit", +1), ("incidence", -1)):
        omega, two_theta, counts = measure(sign, 61, 161)
        write_xrdml(f"{out}/ingaas224-{name}.xrdml", omega, two_theta, counts)
        write_ras(f"{out}/ingaas224-{name}.ras", omega, two_theta, counts)
        write_text(f"{out}/ingaas224-{name}.txt", omega, two_theta, counts)
        for qx, qz, *_ in spots(sign, False):
            print(f"{name}: Qx {qx:.6f} Qz {qz:.6f}")
    omega, two_theta, counts = measure(+1, 61, 161, graded=True)
    write_xrdml(f"{out}/graded224-exit.xrdml", omega, two_theta, counts)


if __name__ == "__main__":
    main()
