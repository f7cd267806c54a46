#!/usr/bin/python3
"""Reference curves of the kinematical and dynamical models, made with xrayutilities.

Run with Debian's python3 (python3-xrayutilities 1.7.4 and libxrl11 installed):

    /usr/bin/python3 tools/reference/make_reference.py tests/data/reference

For each test structure it writes the structure file (<name>.txt, readable by the program)
and the reference curve (<name>-ref.dat): the Bragg angle in degrees, the reflectivity of
xrayutilities' DynamicalModel (4-tie-point two-beam theory, unpolarised beam: the mean of
sigma and pi) and of its KinematicalModel (with absorption and refraction). Two factors are
applied to the latter: the polarisation factor (1 + cos^2 2theta) / 2 of an unpolarised
beam, which it leaves out, and lambda^2: its amplitude r_e F / (V sin theta) times the
integral of e^(i q z) over the layer has the dimension of an inverse length, while the
kinematical reflection amplitude (the thin-layer limit of its own DynamicalModel) is
r_e lambda F t / (V sin theta). Its kinematical model references every layer's lattice to
one common origin instead of to the layer's own interface, so between layers (and between a
layer and the substrate) its relative phases are arbitrary: it serves as a reference only
for the peak of a single layer away from the substrate.

The angles are the substrate's (004) Bragg angle plus a window, in steps of 0.0004 degrees,
refined to 0.0001 degrees within 0.03 degrees of the substrate's peak (the structure with
the 2 um layer uses 0.0001 degrees throughout).

So that the comparison measures the diffraction physics and not the material tables,
xrayutilities is given this program's material model throughout:
  - lattice constants of the binaries and Vegard's rule on both sublattices,
  - C11 and C12 of the binaries, interpolated bilinearly (a pseudomorphic layer is made with
    relaxation=0; otherwise xrayutilities relaxes it fully),
  - the Cromer-Mann f0 of the program's table instead of xrayutilities' own f0,
  - f' and f'' from xraylib (Fi, -Fii, read through ctypes from libxrl),
  - the temperature factor exp(-0.45 s^2) (B = 0.45 A^2 for every atom).
Layer thicknesses are whole numbers of strained monolayers (a_perp / 2), as in the program.
"""

import ctypes
import math
import os
import sys

import numpy as np
import xrayutilities as xu
from xrayutilities.materials.atom import Atom

WAVELENGTH = 1.5405929  # A, Cu K alpha 1
HC_EV_A = 12398.419843320026  # eV A (CODATA 2018)
ENERGY = HC_EV_A / WAVELENGTH  # eV
B_FACTOR = 0.45  # A^2
REFLECTION = (0, 0, 4)

LATTICE = {'GaAs': 5.6535, 'InAs': 6.0585, 'InP': 5.869, 'GaP': 5.4505}
C11 = {'GaAs': 119.0, 'InAs': 83.4, 'InP': 101.1, 'GaP': 140.5}
C12 = {'GaAs': 53.4, 'InAs': 45.4, 'InP': 56.1, 'GaP': 62.0}
C44 = 60.0  # GPa; does not enter the (001) strain

# Cromer-Mann a1..a4, b1..b4, c (the program's table).
CROMER_MANN = {
    'P': ((6.4345, 4.1791, 1.78, 1.4908), (1.9067, 27.157, 0.526, 68.1645), 1.1149),
    'As': ((16.6723, 6.0701, 3.4313, 4.2779), (2.6345, 0.2647, 12.9479, 47.7972), 2.531),
    'In': ((19.1624, 18.5596, 4.2948, 2.0396), (0.5476, 6.3776, 25.8499, 92.8029), 4.9391),
    'Ga': ((15.2354, 6.7006, 4.3591, 2.9623), (3.0669, 0.2412, 10.7805, 61.4135), 1.7189),
}
Z = {'P': 15, 'Ga': 31, 'As': 33, 'In': 49}


def xraylib_dispersion(z, energy_kev):
    """f' and f'' of element z from xraylib (its Fii has the opposite sign)."""
    lib = ctypes.CDLL('libxrl.so.11')
    for name in ('Fi', 'Fii'):
        getattr(lib, name).restype = ctypes.c_double
        getattr(lib, name).argtypes = [ctypes.c_int, ctypes.c_double, ctypes.c_void_p]
    return lib.Fi(z, energy_kev, None), -lib.Fii(z, energy_kev, None)


def make_atom(symbol):
    """An xrayutilities atom that scatters with the program's f0 and xraylib's f', f''."""
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


def bilinear(table, x, y):
    return (table['GaAs'] * y * (1 - x) + table['InAs'] * x * y + table['InP'] * x * (1 - y)
            + table['GaP'] * (1 - x) * (1 - y))


def material(x, y):
    """In(x)Ga(1-x)As(y)P(1-y) as a zincblende crystal with mixed site occupations."""
    a = bilinear(LATTICE, x, y)
    c11, c12 = bilinear(C11, x, y), bilinear(C12, x, y)
    cij = np.zeros((6, 6))
    cij[:3, :3] = c12
    for i in range(3):
        cij[i, i] = c11
        cij[i + 3, i + 3] = C44
    lattice = xu.materials.SGLattice(
        216, a, atoms=[ATOMS['Ga'], ATOMS['In'], ATOMS['As'], ATOMS['P']],
        pos=['4a', '4a', '4c', '4c'], occ=[1 - x, x, y, 1 - y], b=[B_FACTOR] * 4)
    return xu.materials.Crystal('In%.3fGa%.3fAs%.3fP%.3f' % (x, 1 - x, y, 1 - y), lattice,
                                cij=cij * 1e9)


def monolayer_height(x, y, a_sub):
    a = bilinear(LATTICE, x, y)
    ratio = 2 * bilinear(C12, x, y) / bilinear(C11, x, y)
    return (a + ratio * (a - a_sub)) / 2


def simulate(substrate, layers, repeat, theta):
    """Dynamical and kinematical reflectivity (unpolarised) of `repeat` periods of `layers`
    ((monolayers, x, y), bottom first) on the semi-infinite substrate (x, y)."""
    a_sub = bilinear(LATTICE, *substrate)
    stack = xu.simpack.PseudomorphicStack001('stack',
                                             xu.simpack.Layer(material(*substrate), np.inf))
    for _ in range(repeat):
        for n, x, y in layers:
            stack.append(xu.simpack.Layer(material(x, y), n * monolayer_height(x, y, a_sub),
                                          relaxation=0))
    exp = xu.HXRD((1, 1, 0), (0, 0, 1), en=ENERGY)
    dyn = xu.simpack.DynamicalModel(stack, experiment=exp, polarization='both', Cmono=1)
    r_dyn = dyn.simulate(theta, hkl=REFLECTION)
    kin = xu.simpack.KinematicalModel(stack, experiment=exp)
    qz = 4 * math.pi * np.sin(np.radians(theta)) / WAVELENGTH
    cos2 = np.cos(2 * np.radians(theta))
    r_kin = kin.simulate(qz, hkl=REFLECTION, absorption=True, refraction=True)
    return r_dyn, r_kin * (1 + cos2 ** 2) / 2 * WAVELENGTH ** 2


def bragg_angle(a):
    return math.degrees(math.asin(4 * WAVELENGTH / (2 * a)))


# name, description, substrate (x, y), layers ((monolayers, x, y), bottom first), repeat,
# angle window relative to the substrate's Bragg angle (degrees), step (degrees). 1745
# monolayers of In0.1Ga0.9As on GaAs are 500.0 nm, 6815 of In0.53Ga0.47As on InP 1999.7 nm;
# the superlattice's period (300 monolayers, 88 nm) puts its satellites 0.058 degrees apart,
# clear of the substrate's peak.
STRUCTURES = [
    ('ingaas-500nm-on-gaas', '500 nm In0.10Ga0.90As on GaAs', (0.0, 1.0),
     [(1745, 0.10, 1.0)], 1, (-0.75, 0.25), 0.0004),
    ('ingaas-2um-on-inp', '2 um In0.53Ga0.47As on InP', (1.0, 0.0),
     [(6815, 0.53, 1.0)], 1, (-0.05, 0.05), 0.0001),
    ('superlattice-10x-ingaas-inp', '10 x (In0.60Ga0.40As 100 ML / InP 200 ML) on InP',
     (1.0, 0.0), [(100, 0.60, 1.0), (200, 1.0, 0.0)], 10, (-0.45, 0.2), 0.0004),
]
FINE_HALF_WIDTH = 0.03
FINE_STEP = 0.0001


def angles(centre, window, step):
    """The window in steps of `step`, refined near the substrate's peak (which refraction
    moves about 0.002 degrees above the Bragg angle)."""
    coarse = centre + np.arange(window[0], window[1] + step / 2, step)
    peak = centre + 0.002
    fine = peak + np.arange(-FINE_HALF_WIDTH, FINE_HALF_WIDTH + FINE_STEP / 2, FINE_STEP)
    return np.unique(np.round(np.concatenate((coarse, fine)), 6))


def structure_text(description, substrate, layers, repeat):
    lines = ['# %s: test structure of the realistic models, made by '
             'tools/reference/make_reference.py' % description,
             'WAVELENGTH %.7f' % WAVELENGTH,
             'SUBSTRATE %g %g' % substrate]
    lines += ['LAYER %d %g %g' % layer for layer in layers]
    lines.append('REPEAT %d' % repeat)
    return '\n'.join(lines) + '\n'


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else '.'
    for name, description, substrate, layers, repeat, window, step in STRUCTURES:
        a_sub = bilinear(LATTICE, *substrate)
        centre = bragg_angle(a_sub)
        theta = angles(centre, window, step)
        r_dyn, r_kin = simulate(substrate, layers, repeat, theta)
        with open(os.path.join(out_dir, name + '.txt'), 'w') as f:
            f.write(structure_text(description, substrate, layers, repeat))
        with open(os.path.join(out_dir, name + '-ref.dat'), 'w') as f:
            f.write('# Made by tools/reference/make_reference.py with xrayutilities %s: %s, '
                    '(004), %.7f A\n' % (xu.__version__, description, WAVELENGTH))
            f.write('# theta (deg)\tdynamical reflectivity\tkinematical reflectivity\n')
            for t, d, k in zip(theta, r_dyn, r_kin):
                f.write('%.6f\t%.5e\t%.5e\n' % (t, d, k))
        print(name, len(theta), 'points')


if __name__ == '__main__':
    main()
