#!/usr/bin/python3
"""Reference curves of materials named by formula (AlGaAs, AlInAs, GaAsSb, SiGe, Ge on Si), made
with xrayutilities.

Run with Debian's python3 (python3-xrayutilities 1.7.4 and libxrl11 installed; only needed to
make these files again, not to build or test the program):

    /usr/bin/python3 tools/reference/make_material_reference.py tests/data/reference

The program's own material numbers are fed in, so that the comparison measures the
diffraction physics and not the tables: the lattice constants and C11, C12 of the binaries of
simulation/materials.cpp (TABLE below), Vegard's rule and bilinear C11, C12 of the two
fractions, the program's Cromer-Mann f0 of every element, xraylib's f' and f'', B = 0.45 A^2.
A material is a zinc-blende crystal (space group 216) with the group-III (or group-IV)
elements on 4a and the group-V (or the same group-IV) elements on 4c with their fractions as
occupations: with the same atoms on both sites it is the diamond structure, whose (002) is
forbidden. The dynamical model, its patches (each layer's own in-plane reciprocal lattice
vector, chi_h with its phase), the geometry and the peak search are those of
make_relaxed_reference.py beside it.

Every reference peak is checked against Bragg's law by hand (the strained lattices of each
layer from Vegard's rule and C11, C12, plus the refraction shift of two-beam theory), and
material-peaks.txt lists the peaks in the format of relaxed-peaks.txt. The script also prints
the program's lattice and elastic constants against xrayutilities' own material database.
"""

import math
import os
import sys

import numpy as np
import xrayutilities as xu
from xrayutilities import config as xu_config
from xrayutilities.materials.atom import Atom

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_relaxed_reference as rr  # noqa: E402
from make_reference import ENERGY, WAVELENGTH, xraylib_dispersion  # noqa: E402

B_FACTOR = 0.45
C44 = 60.0  # GPa; does not enter the (001) strain

# The binary table of simulation/materials.cpp: lattice constant (A), C11, C12 (GPa).
TABLE = {
    ('Ga', 'As'): (5.6535, 119.0, 53.4), ('In', 'As'): (6.0585, 83.4, 45.4),
    ('In', 'P'): (5.869, 101.1, 56.1), ('Ga', 'P'): (5.4505, 140.5, 62.0),
    ('Al', 'As'): (5.6611, 125.0, 53.4), ('Al', 'P'): (5.4672, 133.0, 63.0),
    ('Ga', 'Sb'): (6.0959, 88.42, 40.26), ('Al', 'Sb'): (6.1355, 87.69, 43.41),
    ('In', 'Sb'): (6.4794, 68.47, 37.35), ('Ga', 'N'): (4.50, 293.0, 159.0),
    ('Al', 'N'): (4.38, 304.0, 160.0), ('In', 'N'): (4.98, 187.0, 125.0),
    ('Si', 'Si'): (5.431, 165.77, 63.93), ('Ge', 'Ge'): (5.658, 128.5, 48.3),
    ('C', 'C'): (3.567, 1076.4, 125.2),
}
GROUP_IV = ('Si', 'Ge', 'C')

# Cromer-Mann a1..a4, b1..b4, c (the program's table).
CROMER_MANN = {
    'P': ((6.4345, 4.1791, 1.78, 1.4908), (1.9067, 27.157, 0.526, 68.1645), 1.1149),
    'As': ((16.6723, 6.0701, 3.4313, 4.2779), (2.6345, 0.2647, 12.9479, 47.7972), 2.531),
    'In': ((19.1624, 18.5596, 4.2948, 2.0396), (0.5476, 6.3776, 25.8499, 92.8029), 4.9391),
    'Ga': ((15.2354, 6.7006, 4.3591, 2.9623), (3.0669, 0.2412, 10.7805, 61.4135), 1.7189),
    'Al': ((6.4202, 1.9002, 1.5936, 1.9646), (3.0387, 0.7426, 31.5472, 85.0886), 1.1151),
    'N': ((12.2126, 3.1322, 2.0125, 1.1663), (0.0057, 9.8933, 28.9975, 0.5826), -11.529),
    'Sb': ((19.6418, 19.0455, 5.0371, 2.6827), (5.3034, 0.4607, 27.9074, 75.2825), 4.5909),
    'Si': ((6.2915, 3.0353, 1.9891, 1.541), (2.4386, 32.3337, 0.6785, 81.6937), 1.1407),
    'Ge': ((16.0816, 6.3747, 3.7068, 3.683), (2.8509, 0.2516, 11.4468, 54.7625), 2.1313),
    'C': ((2.31, 1.02, 1.5886, 0.865), (20.8439, 10.2075, 0.5687, 51.6512), 0.2156),
}
Z = {'Ga': 31, 'Al': 13, 'In': 49, 'P': 15, 'As': 33, 'N': 7, 'Sb': 51, 'Si': 14, 'Ge': 32,
     'C': 6}


def make_atom(symbol):
    atom = Atom(symbol, Z[symbol])
    a, b, c = CROMER_MANN[symbol]
    f1, f2 = xraylib_dispersion(Z[symbol], ENERGY / 1000)

    def f0(q):
        s2 = (np.asarray(q) / (4 * math.pi)) ** 2
        return sum(ai * np.exp(-bi * s2) for ai, bi in zip(a, b)) + c

    atom.f0 = f0
    atom.f1 = lambda en='config': f1
    atom.f2 = lambda en='config': f2
    return atom


ATOMS = {s: make_atom(s) for s in Z}


def pair(a, b, column):
    """A binary's value; for two group-IV elements the mean of the two crystals'."""
    if a in GROUP_IV and a != b:
        return 0.5 * (TABLE[(a, a)][column] + TABLE[(b, b)][column])
    return TABLE[(a, b)][column]


# A material: ((a0, a1, x), (b0, b1, y)): x of a1 on the first sublattice, y of b1 on the
# second; a diamond alloy has the same elements and fraction on both.
def bilinear(m, column):
    (a0, a1, x), (b0, b1, y) = m
    return (pair(a0, b1, column) * y * (1 - x) + pair(a1, b1, column) * x * y
            + pair(a1, b0, column) * x * (1 - y) + pair(a0, b0, column) * (1 - x) * (1 - y))


def lattice(m):
    return bilinear(m, 0)


def ratio(m):
    return 2 * bilinear(m, 2) / bilinear(m, 1)


def crystal(m):
    (a0, a1, x), (b0, b1, y) = m
    c11, c12 = bilinear(m, 1), bilinear(m, 2)
    cij = np.zeros((6, 6))
    cij[:3, :3] = c12
    for i in range(3):
        cij[i, i] = c11
        cij[i + 3, i + 3] = C44
    atoms, pos, occ = [], [], []
    for (e0, e1, f), site in (((a0, a1, x), '4a'), ((b0, b1, y), '4c')):
        for e, o in ((e0, 1 - f), (e1, f)) if e0 != e1 else ((e0, 1.0),):
            atoms.append(ATOMS[e])
            pos.append(site)
            occ.append(o)
    lat = xu.materials.SGLattice(216, lattice(m), atoms=atoms, pos=pos, occ=occ,
                                 b=[B_FACTOR] * len(atoms))
    return xu.materials.Crystal(name(m), lat, cij=cij * 1e9)


def name(m):
    (a0, a1, x), (b0, b1, y) = m
    def site(e0, e1, f):
        return e0 if e0 == e1 or f == 0 else e1 if f == 1 else '%s%g%s%g' % (e0, 1 - f, e1, f)
    if a0 in GROUP_IV:
        return site(a0, a1, x)
    return site(a0, a1, x) + site(b0, b1, y)


def iii_v(a0, a1, x, b0, b1, y):
    return ((a0, a1, x), (b0, b1, y))


def group_iv(x):  # Si(1-x)Ge(x)
    return (('Si', 'Ge', x), ('Si', 'Ge', x))


GAAS = iii_v('Ga', 'Ga', 0, 'As', 'As', 0)
INP = iii_v('In', 'In', 0, 'P', 'P', 0)
SI = group_iv(0.0)


def hand_lattices(substrate, layers):
    """(a_par, a_perp) of each layer ((monolayers, material, r, formula), bottom first)."""
    a_below = lattice(substrate)
    out = []
    for _, m, r, _ in layers:
        a = lattice(m)
        a_par = a_below + r * (a - a_below)
        out.append((a_par, a - ratio(m) * (a_par - a)))
        a_below = a_par
    return out


def monolayers(m, a_par, thickness_a):
    a = lattice(m)
    return int(round(thickness_a / ((a - ratio(m) * (a_par - a)) / 2)))


def build_stack(substrate, layers, repeat):
    lat = hand_lattices(substrate, layers)
    stack = xu.simpack.PseudomorphicStack001('stack',
                                             xu.simpack.Layer(crystal(substrate), np.inf))
    for _ in range(repeat):
        for (n, m, r, _), (_, a_perp) in zip(layers, lat):
            stack.append(xu.simpack.Layer(crystal(m), n * a_perp / 2, relaxation=r))
    return stack, lat


def expected_peaks(stack, substrate, layers, repeat, hkl, grazing, lat):
    a_sub = lattice(substrate)
    phi_sub = rr.inclination(hkl, a_sub, a_sub) if hkl[0] or hkl[1] else 0.0
    chi0 = [np.real(lay.material.chi0(en=ENERGY)) for lay in stack]
    sub = ('substrate', rr.scan_position(hkl, grazing, a_sub, a_sub, phi_sub),
           rr.scan_position(hkl, grazing, a_sub, a_sub, phi_sub, chi0[0]))
    peaks = [sub]
    if repeat == 1:
        for i, (a_par, a_perp) in enumerate(lat):
            peaks.append(('layer %d' % (i + 1),
                          rr.scan_position(hkl, grazing, a_par, a_perp, phi_sub),
                          rr.scan_position(hkl, grazing, a_par, a_perp, phi_sub, chi0[i + 1])))
        return peaks, phi_sub
    heights = [n * a_perp / 2 for (n, _, _, _), (_, a_perp) in zip(layers, lat)]
    period = sum(heights)
    mono = sum(n for n, _, _, _ in layers)
    chi0_mean = sum(c * t for c, t in zip(chi0[1:len(layers) + 1], heights)) / period
    l = hkl[2]
    for m in (-3, -2, -1, 1, 2):
        a_perp_m = l / (l * mono / (2 * period) + m / period)
        pos = rr.scan_position(hkl, grazing, a_sub, a_perp_m, phi_sub, chi0_mean)
        # Orders that fall on the substrate's peak cannot be measured apart from it.
        if abs(pos - sub[2]) > 0.012:
            peaks.append(('satellite %+d' % m,
                          rr.scan_position(hkl, grazing, a_sub, a_perp_m, phi_sub), pos))
    return peaks, phi_sub


def structure_text(description, substrate, layers, repeat, hkl, grazing):
    lines = ['# %s: test structure of materials by formula, made by '
             'tools/reference/make_material_reference.py' % description,
             'WAVELENGTH %.7f' % WAVELENGTH,
             'SUBSTRATE %s' % name(substrate)]
    lines += ['LAYER %d %s' % (n, formula) for n, _, _, formula in layers]
    lines.append('REPEAT %d' % repeat)
    lines.append('MODEL dynamical')
    lines.append('REFLECTION %d %d %d' % hkl)
    if hkl[0] or hkl[1]:
        lines.append('GEOMETRY %s' % grazing)
    for i, (_, _, r, _) in enumerate(layers):
        if r != 0:
            lines.append('RELAXATION %d %g' % (i + 1, r))
    return '\n'.join(lines) + '\n'


def single(m, formula, substrate, thickness_a, r):
    a_sub = lattice(substrate)
    a_par = a_sub + r * (lattice(m) - a_sub)
    return [(monolayers(m, a_par, thickness_a), m, r, formula)]


def cases():
    algaas = iii_v('Ga', 'Al', 0.8, 'As', 'As', 0)
    alas = iii_v('Al', 'Al', 0, 'As', 'As', 0)
    inalas = iii_v('Al', 'In', 0.52, 'As', 'As', 0)
    gaassb = iii_v('Ga', 'Ga', 0, 'As', 'Sb', 0.1)
    sige = group_iv(0.3)
    ge = group_iv(1.0)
    mirror = [(290, alas, 0.0, 'AlAs'), (246, GAAS, 0.0, 'GaAs')]
    out = [('algaas-1um-004', '1 um Al0.8Ga0.2As on GaAs', GAAS,
            single(algaas, 'Al0.8Ga0.2As', GAAS, 1e4, 0.0), 1, (0, 0, 4), 'incidence'),
           ('mirror-10x-004', '10 x (AlAs 290 ML / GaAs 246 ML) on GaAs', GAAS, mirror, 10,
            (0, 0, 4), 'incidence'),
           ('mirror-10x-224ge', '10 x (AlAs 290 ML / GaAs 246 ML) on GaAs', GAAS, mirror, 10,
            (2, 2, 4), 'exit'),
           ('inalas-on-inp-004', '1 um In0.52Al0.48As on InP', INP,
            single(inalas, 'In0.52Al0.48As', INP, 1e4, 0.0), 1, (0, 0, 4), 'incidence')]
    gaassb_layer = single(gaassb, 'GaAs0.9Sb0.1', GAAS, 5e3, 0.5)
    out += [('gaassb-r05-004', '500 nm GaAs0.9Sb0.1 on GaAs, relaxation 0.5', GAAS,
             gaassb_layer, 1, (0, 0, 4), 'incidence'),
            ('gaassb-r05-115gi', '500 nm GaAs0.9Sb0.1 on GaAs, relaxation 0.5', GAAS,
             gaassb_layer, 1, (1, 1, 5), 'incidence')]
    sige_layer = single(sige, 'Si0.7Ge0.3', SI, 5e3, 0.5)
    out += [('sige-r05-004', '500 nm Si0.7Ge0.3 on Si, relaxation 0.5', SI, sige_layer, 1,
             (0, 0, 4), 'incidence'),
            ('sige-r05-224gi', '500 nm Si0.7Ge0.3 on Si, relaxation 0.5', SI, sige_layer, 1,
             (2, 2, 4), 'incidence'),
            ('ge-on-si-r1-004', '1 um Ge on Si, fully relaxed', SI,
             single(ge, 'Ge', SI, 1e4, 1.0), 1, (0, 0, 4), 'incidence')]
    return out


def compare_database():
    """The program's lattice and elastic constants against xrayutilities' database."""
    print('binary  program a / C11 / C12   xrayutilities            differences > 0.1 %')
    for (a, b), (lat, c11, c12) in TABLE.items():
        key = a if a == b else a + b
        mat = getattr(xu.materials, key, None)
        if mat is None:
            print('%-6s  %.5f %7.2f %6.2f   (not in the database)' % (key, lat, c11, c12))
            continue
        xa, x11, x12 = mat.a, mat.cij[0, 0] / 1e9, mat.cij[0, 1] / 1e9
        diffs = ['%s %+.2f %%' % (n, 100 * (p / q - 1))
                 for n, p, q in (('a', lat, xa), ('C11', c11, x11), ('C12', c12, x12))
                 if abs(p / q - 1) > 1e-3]
        print('%-6s  %.5f %7.2f %6.2f   %.5f %7.2f %6.2f   %s'
              % (key, lat, c11, c12, xa, x11, x12, ', '.join(diffs)))


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else '.'
    xu_config.VERBOSITY = 0
    compare_database()
    table = []
    peak_lines = ['# Made by tools/reference/make_material_reference.py: the peaks of the curves '
                  'in the -ref.dat files beside it.',
                  '# name, peak, window lo and hi (deg): the peak and its half-maximum points '
                  'lie within; Bragg hand value without and with refraction (deg)']
    rr.use_patches(True)
    for case_name, desc, substrate, layers, repeat, hkl, grazing in cases():
        stack, lat = build_stack(substrate, layers, repeat)
        peaks, phi_sub = expected_peaks(stack, substrate, layers, repeat, hkl, grazing, lat)
        positions = [p for _, _, p in peaks]
        window = (min(positions) - 0.15, max(positions) + 0.12)
        first_look = rr.angles(positions, window)
        dyn = rr.model(stack)
        r = rr.reflectivity(dyn, first_look, hkl, grazing, phi_sub)
        parts = [np.arange(window[0], window[1] + rr.COARSE_STEP / 2, rr.COARSE_STEP)]
        for _, _, pos in peaks:
            _, _, centre, fwhm = rr.local_peak(first_look, r, pos, 0.012)
            if np.isfinite(fwhm):
                parts.append(rr.local_grid(centre, fwhm))
        theta = np.unique(np.round(np.concatenate(parts), 6))
        r = rr.reflectivity(dyn, theta, hkl, grazing, phi_sub)
        assert np.all(np.isfinite(r)) and np.all(r >= 0) and np.all(r <= 1.0001)
        with open(os.path.join(out_dir, case_name + '.txt'), 'w') as f:
            f.write(structure_text(desc, substrate, layers, repeat, hkl, grazing))
        with open(os.path.join(out_dir, case_name + '-ref.dat'), 'w') as f:
            f.write('# Made by tools/reference/make_material_reference.py with xrayutilities '
                    '%s (patched, see make_relaxed_reference.py): %s, (%d%d%d)%s, %.7f A\n'
                    % (xu.__version__, desc, *hkl,
                       (' grazing ' + grazing) if hkl[0] or hkl[1] else '', WAVELENGTH))
            f.write('# theta of the omega-2theta scan (deg)\tdynamical reflectivity\n')
            for t, v in zip(theta, r):
                f.write('%.6f\t%.4e\n' % (t, v))
        print('%s: %d points' % (case_name, len(theta)))
        for label, bragg_only, pos in peaks:
            top, height, centre, fwhm = rr.local_peak(theta, r, pos, 0.012)
            table.append([case_name, label, bragg_only, pos, top, centre, height, fwhm])
            # Only peaks that stand alone within their window and obey Bragg's law with
            # refraction become test rows.
            if np.isfinite(fwhm) and abs(centre - pos) < 0.001:
                half = 2.5 * fwhm
                peak_lines.append('%s\t%s\t%.5f\t%.5f\t%.4f\t%.4f' % (
                    case_name, label.replace(' ', '_'), centre - half, centre + half,
                    bragg_only, pos))
    with open(os.path.join(out_dir, 'material-peaks.txt'), 'w') as f:
        f.write('\n'.join(peak_lines) + '\n')
    print()
    print('%-20s %-12s %8s %8s %8s %8s %7s %8s %8s' % (
        'case', 'peak', 'Bragg', '+refr', 'ref max', 'ref ctr', 'ctr-hand', 'height', 'FWHM'))
    for row in table:
        case_name, label, bragg_only, pos, top, centre, height, fwhm = row
        print('%-20s %-12s %8.4f %8.4f %8.4f %8.4f %7.4f %8.2e %8.5f' % (
            case_name, label, bragg_only, pos, top, centre, centre - pos, height, fwhm))


if __name__ == '__main__':
    main()
