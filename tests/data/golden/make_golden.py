#!/usr/bin/env python3
"""Reference values for the golden tests, computed from the physics alone.

Writes, beside this script:

  ingaas-inp-superlattice.txt  selected lines of the profile file and the curve file of
                               examples/ingaas-inp-superlattice.txt, as the program must
                               print them (6 significant digits, tab-separated);
  scattering-factors.txt       X-ray form factors f0(s) of P, As, In and Ga.

The curve is the literal kinematical sum over every plane of every period, evaluated with
mpmath at 40 digits, with the semi-infinite substrate as its geometric series in closed form:
  I(q) = (|A_S| + |A_L|)^2,
  A_L  = sum over monolayers n: fIII(x_n) e^(i q z_n) + fV(y_n) e^(i q (z_n + z_n+1)/2),
  A_S  = (fV e^(i q aS/4) + fIII e^(i q aS/2)) / (1 - e^(i q aS/2)).
Only the grid of q values is formed in double precision, as the program forms it (q0 = 2 pi/D,
steps of q0/10 accumulated by repeated addition up to 4 pi/lambda), so that line n of the file
is the same point here and there. Every printed field is checked to lie at least 1e-7
(relative; 1e-10 for depths, compositions, angles and q) away from a rounding
boundary of its 6-digit form, so the program's double arithmetic must print exactly these
digits; an intensity closer than that is written as ~VALUE, to be compared as a number.

The form factors are the five-Gaussian fits of D. Waasmaier & A. Kirfel, Acta Cryst. A51
(1995) 416-431, to the values of International Tables for Crystallography Vol. C (1992),
Table 6.1.1.1: an independent representation of the table the program's Cromer-Mann
coefficients approximate.

Run with python3 and mpmath (Debian: python3-mpmath); the output is committed.
"""

import math
import os

import mpmath as mp

mp.mp.dps = 40
HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "..", "..", "..", "examples", "ingaas-inp-superlattice.txt")

# Model constants: lattice constants of the binaries (angstrom), Cromer-Mann coefficients of
# International Tables Vol. C Table 6.1.1.4 (a1..a4, b1..b4, c), Debye-Waller B = 0.45 A^2.
A_GAAS, A_INAS, A_INP, A_GAP = (mp.mpf(v) for v in ("5.6535", "6.0585", "5.869", "5.4505"))
CROMER_MANN = {
    "P": ("6.4345 4.1791 1.78 1.4908", "1.9067 27.157 0.526 68.1645", "1.1149"),
    "As": ("16.6723 6.0701 3.4313 4.2779", "2.6345 0.2647 12.9479 47.7972", "2.531"),
    "In": ("19.1624 18.5596 4.2948 2.0396", "0.5476 6.3776 25.8499 92.8029", "4.9391"),
    "Ga": ("15.2354 6.7006 4.3591 2.9623", "3.0669 0.2412 10.7805 61.4135", "1.7189"),
}
WAASMAIER_KIRFEL = {  # a1..a5, b1..b5, c
    "P": ("1.950541 4.146930 1.494560 1.522042 5.729711",
          "0.908139 27.044952 0.071280 67.520187 1.981173", "0.155233"),
    "As": ("17.025642 4.503441 3.715904 3.937200 6.790175",
           "2.597739 0.003012 14.272119 50.437996 0.193015", "-2.984117"),
    "In": ("6.196477 18.816183 4.050479 1.638929 17.962912",
           "0.042072 6.695665 31.009790 103.284348 0.610714", "0.333097"),
    "Ga": ("15.758946 6.841123 4.121016 2.714681 2.395246",
           "3.121754 0.226057 12.482196 66.203621 0.007238", "-0.847395"),
}


def gaussians(table, element, s):
    a, b, c = table[element]
    return sum(mp.mpf(ai) * mp.exp(-mp.mpf(bi) * s * s)
               for ai, bi in zip(a.split(), b.split())) + mp.mpf(c)


def lattice(x, y):  # Vegard's rule on both sublattices
    return A_GAAS * y * (1 - x) + A_INAS * x * y + A_INP * x * (1 - y) + A_GAP * (1 - x) * (1 - y)


def f_iii(x, s):
    t = mp.exp(-mp.mpf("0.45") * s * s)
    return ((1 - x) * gaussians(CROMER_MANN, "Ga", s) + x * gaussians(CROMER_MANN, "In", s)) * t


def f_v(y, s):
    t = mp.exp(-mp.mpf("0.45") * s * s)
    return ((1 - y) * gaussians(CROMER_MANN, "P", s) + y * gaussians(CROMER_MANN, "As", s)) * t


def graded(nominal, end, start, n, j, shape_end, t1, shape_start, t2):
    """Composition of monolayer j of n: the end zone counts d = n - j from the far boundary
    (the last monolayer has d = 1), the start zone j from the near one and wins."""
    d = n - j
    value = nominal
    if t1 > 0 and t1 >= d:
        value = {"L": d * (nominal - end) / t1 + end,
                 "P": nominal + (end - nominal) * ((d - t1) / t1) ** 2,
                 "H": mp.sin(d * mp.pi / 2 / t1) * (nominal - end) + end}.get(shape_end, nominal)
    if t2 > j:
        value = {"L": (nominal - start) * j / t2 + start,
                 "P": nominal + (start - nominal) * ((j - t2) / t2) ** 2,
                 "H": mp.sin(j * mp.pi / 2 / t2) * (nominal - start) + start}.get(shape_start,
                                                                                 nominal)
    return value


def read_structure(path):
    """The statements of a plain structure file (no quotes): wavelength, substrate, layers, repeat."""
    s = {"wavelength": mp.mpf(1), "repeat": 20, "layers": [], "with_substrate": True}
    for line in open(path):
        tokens = line.split("#")[0].split()
        if not tokens:
            continue
        key, args = tokens[0].upper(), tokens[1:] + [""] * 11
        if key == "WAVELENGTH":
            s["wavelength"] = mp.mpf(args[0])
        elif key == "SUBSTRATE":
            s["substrate"] = (mp.mpf(args[0]), mp.mpf(args[1]))
            s["with_substrate"] = args[2] != "1"
        elif key == "REPEAT":
            s["repeat"] = int(args[0])
        elif key == "LAYER":
            x, y = mp.mpf(args[1]), mp.mpf(args[2])
            half = lambda v, own: (mp.mpf(v or 0) + own) / 2  # stored boundary composition
            s["layers"].append(dict(
                n=int(args[0]), x=x, y=y,
                end_shape=args[3][:1].upper(), t1=mp.mpf(args[4] or 0),
                end_x=half(args[5], x), end_y=half(args[6], y),
                start_shape=args[7][:1].upper(), t2=mp.mpf(args[8] or 0),
                start_x=half(args[9], x), start_y=half(args[10], y)))
    return s


def profile(s):
    a_s = lattice(*s["substrate"])
    rows, z = [], mp.mpf(0)
    for layer in s["layers"]:
        for j in range(layer["n"]):
            g = lambda nom, end, start: graded(nom, end, start, layer["n"], j, layer["end_shape"],
                                               layer["t1"], layer["start_shape"], layer["t2"])
            x = g(layer["x"], layer["end_x"], layer["start_x"])
            y = g(layer["y"], layer["end_y"], layer["start_y"])
            rows.append((z, x, y))
            z += (2 * lattice(x, y) - a_s) / 2  # a_perp = 2a - aS, a monolayer is half of it
    rows.append((z, rows[0][1], rows[0][2]))  # closing entry: the period, the next start
    return rows


def intensity(s, rows, q):
    q = mp.mpf(q)
    sv = q / (4 * mp.pi)
    period = rows[-1][0]
    amp = mp.mpc(0)
    for m in range(max(s["repeat"], 0)):
        for (z, x, y), (z_next, _, _) in zip(rows, rows[1:]):
            off = m * period
            amp += f_iii(x, sv) * mp.expj(q * (z + off))
            amp += f_v(y, sv) * mp.expj(q * ((z + z_next) / 2 + off))
    sub = mp.mpf(0)
    if s["with_substrate"]:
        xs, ys = s["substrate"]
        h = lattice(xs, ys) / 4
        e1, e2 = mp.expj(q * h), mp.expj(2 * q * h)
        sub = abs((f_v(ys, sv) * e1 + f_iii(xs, sv) * e2) / (1 - e2))
    return (sub + abs(amp)) ** 2


def printed(value, margin=1e-10):
    """The 6-digit text of value, refused when a value within the relative margin (the
    program's rounding errors) would print otherwise."""
    v = float(value)
    text = "%g" % v
    for nudge in (1 - margin, 1 + margin):
        if "%g" % (v * nudge) != text:
            return None
    return text


def golden_example():
    s = read_structure(EXAMPLE)
    rows = profile(s)
    k = 2 * mp.pi / s["wavelength"]
    q0 = float(2 * mp.pi / rows[-1][0])
    step, qmax, grid = q0 / 10, float(2 * k), []
    q = q0
    while qmax >= q:
        grid.append(q)
        q = q + step
    assert (qmax - grid[-1]) / qmax > 1e-9 and (q - qmax) / qmax > 1e-9, "last point ambiguous"

    a_s = lattice(*s["substrate"])
    wanted = {0, 1, len(grid) - 1}
    wanted |= set(range(97, len(grid) - 1, 211))
    for order in (2, 4, 6):  # beside the substrate's (002), (004), (006) poles
        bragg = float(2 * mp.pi * order / a_s)
        nearest = min(range(len(grid)), key=lambda i: abs(grid[i] - bragg))
        wanted |= {nearest - 1, nearest + 1}
    out = ["# Made by tests/data/golden/make_golden.py from examples/ingaas-inp-superlattice.txt.",
           "# points P: lines of the curve file; profile L: lines of the profile file;",
           "# cmp/dif LINE FIELD1 FIELD2 FIELD3: line LINE (from 0) of that file, tab-separated;",
           "# ~VALUE: a field too close to a rounding boundary to be compared as text.",
           "points %d" % len(grid), "profile %d" % len(rows)]
    for i, (z, x, y) in enumerate(rows):
        if i in (0, 1, 2, 10, 18, 19, 20, 21, 22, 40, 57, 58, 59, 60):
            fields = [printed(v) for v in (z, x, y)]
            assert None not in fields, "profile line %d too close to a rounding boundary" % i
            out.append("cmp %d %s" % (i, " ".join(fields)))
    for i in sorted(wanted):
        q = grid[i]
        theta = mp.asin(mp.mpf(q) / 2 / k) * 180 / mp.pi
        value = intensity(s, rows, q)
        # An intensity too close to a rounding boundary is given as ~VALUE, to be compared
        # as a number.
        fields = [printed(theta), printed(value, 1e-7) or "~%.10g" % value, printed(q)]
        assert None not in fields, "curve line %d too close to a rounding boundary" % i
        out.append("dif %d %s" % (i, " ".join(fields)))
    return out


def golden_factors():
    out = ["# Made by tests/data/golden/make_golden.py: f0(s) of Waasmaier & Kirfel (1995), fits",
           "# to International Tables Vol. C Table 6.1.1.1. ELEMENT s f0 (electrons)."]
    for element in ("P", "As", "In", "Ga"):
        for s in ("0.05", "0.1", "0.15", "0.2", "0.25", "0.3", "0.4", "0.5", "0.6", "0.8", "1.0"):
            out.append("%s %s %.4f" % (element, s, gaussians(WAASMAIER_KIRFEL, element, mp.mpf(s))))
    return out


if __name__ == "__main__":
    for name, lines in (("ingaas-inp-superlattice.txt", golden_example()),
                        ("scattering-factors.txt", golden_factors())):
        with open(os.path.join(HERE, name), "w") as f:
            f.write("\n".join(lines) + "\n")
