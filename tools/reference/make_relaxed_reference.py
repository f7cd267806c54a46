#!/usr/bin/python3
"""Reference curves of relaxed layers and asymmetric reflections, made with xrayutilities.

Run with Debian's python3 (python3-xrayutilities 1.7.4 and libxrl11 installed; only needed to
make these files again, not to build or test the program):

    /usr/bin/python3 tools/reference/make_relaxed_reference.py tests/data/reference

The material model is that of make_reference.py beside it (lattice constants and Vegard's
rule, C11 and C12 interpolated bilinearly, the program's Cromer-Mann f0, xraylib's f' and
f'', B = 0.45 A^2), so that the comparison measures the diffraction physics only. Each
structure is an xrayutilities PseudomorphicStack001 whose layers carry their relaxation: a
layer's in-plane lattice is a_below + r (a_bulk - a_below), a_below the in-plane lattice of
the layer under it, and its perpendicular lattice follows from C11 and C12 for (001). The
curve is the unpolarised reflectivity (the mean of sigma and pi) of its 4-tie-point
DynamicalModel.

Geometry. DynamicalModel.simulate takes the glancing angle of the incident beam to the
surface, alpha_i, and a geometry: 'lo_hi' is grazing incidence (the diffracted beam leaves
steeper than the incident beam: k0 + h has the smaller component along the surface) and
'hi_lo' is grazing exit (the script checks this from the exit angles xrayutilities returns).
The curves here are given against theta of the omega-2theta scan, 2theta / 2, as the program
gives them: alpha_i = theta - phi at grazing incidence and theta + phi at grazing exit, phi
the inclination of the substrate's (hkl) planes to the surface (35.26 degrees for (224),
15.79 degrees for (115)). A symmetric (00l) reflection has alpha_i = theta.

Two faults of xrayutilities 1.7.4 are patched here (monkey-patched, for this script only):
  1. In an asymmetric reflection its DynamicalModel takes the in-plane component of the
     reciprocal lattice vector of the substrate for every layer (_prepare_dyncalculation),
     so a relaxed layer is computed with its own perpendicular but the substrate's in-plane
     lattice: its (224) peak lands 0.036 degrees off Bragg's law at grazing incidence and
     is lost at grazing exit. The patched simulate gives each layer its own in-plane
     component in its dispersion equation; the beam that leaves the surface has the
     in-plane component of k0 + h of the top layer.
  2. Crystal.chih returns only the magnitudes of the real and imaginary parts of chi_h,
     so that the phase of the structure factor is lost; that is wrong wherever it differs
     between layers (a sign change, as at (002), or a phase, as at (115) of InGaAs against
     InP). The patched set_hkl computes the complex chi_h and chi_-h (in xrayutilities'
     convention chi = chi_r + i chi_i with chi_i > 0 for absorption, waves e^(i k.r)):
     chi_h = -(r_e lambda^2 / (pi V)) sum_j (f0 + f' - i f'')_j exp(-i h.r_j) exp(-B s^2),
     the cations at (0 0 0), the anions at (1/4 1/4 1/4), h the (hkl) vector with its
     positive l (the diffracted beam k0 + h leaves through the surface). Its phase decides
     the sign of the Bijvoet difference: the script prints the (115) superlattice with the
     phases conjugated (as for the anion at -(1/4 1/4 1/4)), whose peaks are 10 to 20 %
     higher.
The script prints what the unpatched code gives for the relaxed layer at (224).

Every reference peak is checked against Bragg's law by hand: the script computes a_par and
a_perp of each layer from Vegard's rule and C11, C12, the (hkl) spacing 1 / d^2 = (h^2 +
k^2) / a_par^2 + l^2 / a_perp^2, theta_B = asin(lambda / 2d), the inclination phi_L of the
layer's (hkl) planes, tan phi_L = sqrt(h^2 + k^2) a_perp / (l a_par), and the position of
the peak on the scan's theta: theta_B - phi_L + phi at grazing incidence, theta_B + phi_L -
phi at grazing exit, and the shift of refraction (up to 0.009 degrees at grazing incidence
of (224)). It prints that against the peak found in the curve. The height of the substrate's
peak under a single layer is checked against the bare substrate's peak times the layer's
absorption on the substrate's own beam paths: the substrate's diffracted beam keeps its
direction through a layer that does not diffract at that angle, so a relaxed layer
attenuates it as a coherent one does.

Grazing exit: the diffracted beam leaves the surface at alpha_f = 2 theta - alpha_i = theta
- phi, so below theta = phi no beam leaves; there the diffracted wave runs along or into the
surface and xrayutilities returns exactly 0 (its mask on the exit angle). The script prints
the curve just above and below that angle for the GaAs substrate at (224).

Files: for each case <name>.txt, the structure file (MODEL dynamical, RELAXATION,
REFLECTION and GEOMETRY lines), and <name>-ref.dat, theta (degrees) and the dynamical
reflectivity. The angles are a coarse grid over the whole window (0.002 degrees, which does
not resolve the thickness fringes of the 1 um layer) and a fine one around each peak, 25
points per FWHM over 6 FWHM, found from a first look at 0.00025 degrees. relaxed-peaks.txt
lists the peaks: the window that holds each peak and its half-maximum points (2.5 FWHM
either side of its centre), and the Bragg hand values without and with refraction.
"""

import math
import os
import sys

import numpy as np
import xrayutilities as xu
from xrayutilities import config as xu_config
from xrayutilities.materials import material as xu_material
from xrayutilities.simpack import models as xu_models
from xrayutilities.simpack.models import solve_quartic

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_reference import (C11, C12, ENERGY, LATTICE, WAVELENGTH,  # noqa: E402
                            bilinear, material)

COARSE_STEP = 0.002
FINE_STEP = 0.00025
FINE_HALF_WIDTH = 0.03

# ---- the patches ---------------------------------------------------------------------------


def complex_chih(mat, q, en):
    """chi_h of `mat` at q with its phase, in xrayutilities' convention (sigma)."""
    q = np.asarray(q, dtype=float)
    qnorm = np.linalg.norm(q)
    f = mat._get_f(qnorm, en)
    sr = 0j
    si = 0j
    for (atom, pos, occ, b), fa in zip(mat.lattice.base(), f):
        r = mat.lattice.GetPoint(pos)
        dwf = np.exp(-b * qnorm ** 2 / (4 * np.pi) ** 2)
        phase = np.exp(-1j * np.dot(q, r)) * dwf * occ
        sr += np.real(fa) * phase
        si += np.imag(fa) * phase
    c = __import__('scipy').constants
    r_e = 1 / (4 * np.pi * c.epsilon_0) * c.e ** 2 / (c.electron_mass * c.speed_of_light ** 2)
    fact = -WAVELENGTH ** 2 * r_e * 1e10 / (np.pi * mat.lattice.UnitCellVolume())
    # The unpatched code has -|fact sr| + i |fact si|, which this is for a real positive
    # structure factor.
    return fact * (sr - 1j * si)


def patched_set_hkl(self, *hkl):
    if hkl != (None, ):
        if len(hkl) < 3:
            hkl = hkl[0]
        newhkl = np.asarray(hkl)
    else:
        newhkl = self.hkl
    if self.energy != self._init_en or np.any(newhkl != self.hkl):
        self.hkl = newhkl
        self._init_en = self.energy
        self.chih = {'S': [], 'P': []}
        self.chimh = {'S': [], 'P': []}
        for lay in self.lstack:
            q = lay.material.Q(self.hkl)
            theta_b = np.arcsin(np.linalg.norm(q) / 2 / self.exp.k0)
            cpol = abs(np.cos(2 * theta_b))
            ch = complex_chih(lay.material, q, self.energy)
            chm = complex_chih(lay.material, -q, self.energy)
            self.chih['S'].append(ch)
            self.chih['P'].append(ch * cpol)
            self.chimh['S'].append(chm)
            self.chimh['P'].append(chm * cpol)
        for pol in ('S', 'P'):
            self.chih[pol] = np.asarray(self.chih[pol])
            self.chimh[pol] = np.asarray(self.chimh[pol])


def patched_simulate(self, alphai, hkl=None, geometry='hi_lo', rettype='intensity'):
    """DynamicalModel.simulate of xrayutilities 1.7.4 with the in-plane component hx of each
    layer's own reciprocal lattice vector (marked: hx[jL], hx_out); unchanged otherwise."""
    self.set_hkl(hkl)
    Ih = {'S': np.zeros(len(alphai)), 'P': np.zeros(len(alphai))}
    t = self.exp._transform
    sign = -1 if geometry == 'lo_hi' else 1
    hx = np.array([sign * np.hypot(*t(lay.material.Q(*self.hkl))[:2]) for lay in self.lstack])
    hz = np.array([t(lay.material.Q(*self.hkl))[2] for lay in self.lstack])
    hx_out = hx[-1]  # the beam leaving the surface: k0 + h of the top layer

    k = self.exp.k0
    kc = k * np.sqrt(1 + self.chi0)
    ai = np.radians(alphai)
    Kix = k * np.cos(ai)
    Kiz = -k * np.sin(ai)
    Khz = np.sqrt(k ** 2 - (Kix + hx_out) ** 2 + 0j)
    pp = np.real(Khz) / k
    mask = np.logical_and(np.abs(np.imag(Khz)) == 0, np.logical_and(pp > 0, pp < 1))
    Khz = np.real(Khz)
    ah = np.zeros(len(ai))
    ah[mask] = np.arcsin(pp[mask])
    self.last_exit_angles = np.degrees(ah)
    nal = len(ai)
    Ps = None
    for pol in self.get_polarizations():
        CC = np.ones(nal) if pol == 'S' else abs(np.cos(ai + ah))
        pom = k ** 4 * self.chih['S'] * self.chimh['S']
        M = np.zeros((nal, 4, 4), dtype=complex)
        for j in range(4):
            M[:, j, j] = np.ones(nal)
        for i, lay in enumerate(self.lstack[-1::-1]):
            jL = len(self.lstack) - 1 - i
            A4 = np.ones(nal)
            A3 = 2 * hz[jL] * np.ones(nal)
            A2 = (Kix + hx[jL]) ** 2 + hz[jL] ** 2 + Kix ** 2 - 2 * kc[jL] ** 2
            A1 = 2 * hz[jL] * (Kix ** 2 - kc[jL] ** 2)
            A0 = (Kix ** 2 - kc[jL] ** 2) * ((Kix + hx[jL]) ** 2 + hz[jL] ** 2 - kc[jL] ** 2) \
                - pom[jL] * CC ** 2
            X = np.asarray(solve_quartic(A4, A3, A2, A1, A0)).T
            kz = np.zeros((nal, 4), dtype=complex)
            kz[:, :2] = X[np.imag(X) <= 0].reshape(nal, 2)
            kz[:, 2:] = X[np.imag(X) > 0].reshape(nal, 2)
            P = np.zeros((nal, 4, 4), dtype=complex)
            phi = np.zeros((nal, 4, 4), dtype=complex)
            c = ((Kix ** 2)[:, np.newaxis] + kz ** 2 - kc[jL] ** 2) / k ** 2 / \
                self.chimh['S'][jL] / CC[:, np.newaxis]
            if jL > 0:
                for j in range(4):
                    phi[:, j, j] = np.exp(1j * kz[:, j] * lay.thickness)
            else:
                phi = np.tile(np.identity(4), (nal, 1, 1))
            P[:, 0, :] = np.ones((nal, 4))
            P[:, 1, :] = c
            P[:, 2, :] = kz
            P[:, 3, :] = c * (kz + hz[jL])
            R = np.copy(P) if i == 0 else np.matmul(np.linalg.inv(Ps), P)
            M = np.matmul(np.matmul(M, R), phi)
            Ps = np.copy(P)
        B = np.zeros((nal, 4, 4), dtype=complex)
        B[..., :2] = M[..., :2]
        B[:, 0, 2] = -np.ones(nal)
        B[:, 1, 3] = -np.ones(nal)
        B[:, 2, 2] = Kiz
        B[:, 3, 3] = -Khz
        C = np.zeros((nal, 4))
        C[:, 0] = np.ones(nal)
        C[:, 2] = Kiz
        E = np.einsum('...ij,...j', np.linalg.inv(B), C)
        Ih[pol] = np.abs(E[:, 3]) ** 2 * np.abs(Khz / Kiz) * mask
    return self.join_polarizations(Ih['S'], Ih['P'])


UNPATCHED_SET_HKL = xu_models.SimpleDynamicalCoplanarModel.set_hkl
UNPATCHED_SIMULATE = xu_models.DynamicalModel.simulate


def use_patches(on):
    xu_models.SimpleDynamicalCoplanarModel.set_hkl = patched_set_hkl if on else UNPATCHED_SET_HKL
    xu_models.DynamicalModel.simulate = patched_simulate if on else UNPATCHED_SIMULATE


# ---- lattices by hand ----------------------------------------------------------------------


def hand_lattices(substrate, layers):
    """(a_par, a_perp) of each layer ((monolayers, x, y, r), bottom first) by hand."""
    a_below = bilinear(LATTICE, *substrate)
    out = []
    for _, x, y, r in layers:
        a = bilinear(LATTICE, x, y)
        a_par = a_below + r * (a - a_below)
        a_perp = a - 2 * bilinear(C12, x, y) / bilinear(C11, x, y) * (a_par - a)
        out.append((a_par, a_perp))
        a_below = a_par
    return out


def inclination(hkl, a_par, a_perp):
    h, k, l = hkl
    return math.degrees(math.atan2(math.hypot(h, k) / a_par, l / a_perp))


def bragg(hkl, a_par, a_perp):
    h, k, l = hkl
    inv_d = math.sqrt((h * h + k * k) / a_par ** 2 + l * l / a_perp ** 2)
    return math.degrees(math.asin(WAVELENGTH * inv_d / 2))


def scan_position(hkl, grazing, a_par, a_perp, phi_sub, chi0_real=0.0):
    """Where a lattice's (hkl) peak sits on the scan's theta: Bragg's law, and with chi0_real
    (the real part of chi_0, negative) the shift of refraction of two-beam theory,
    -chi0_real (1 + sin(alpha_f) / sin(alpha_i)) / (2 sin 2theta_B), which grows as the
    incident beam grazes the surface."""
    theta = bragg(hkl, a_par, a_perp)
    phi = inclination(hkl, a_par, a_perp) if hkl[0] or hkl[1] else 0.0
    incidence = theta - phi if grazing == 'incidence' else theta + phi
    exit_angle = 2 * theta - incidence
    shift = math.degrees(-chi0_real * (1 + math.sin(math.radians(exit_angle))
                                       / math.sin(math.radians(incidence)))
                         / (2 * math.sin(math.radians(2 * theta))))
    if hkl[0] == 0 and hkl[1] == 0:
        return theta + shift
    return (theta - phi + phi_sub if grazing == 'incidence' else theta + phi - phi_sub) + shift


# ---- the cases -----------------------------------------------------------------------------

# 3490 monolayers of In0.1Ga0.9As: 1000.1 nm coherent on GaAs, 993.6 nm fully relaxed.
LAYER_1UM = [(3490, 0.10, 1.0)]
# Two steps of a metamorphic buffer: In0.08Ga0.92As 1400 ML (400 nm) relaxed 80 % on GaAs,
# then In0.16Ga0.84As 1750 ML (505 nm) relaxed 40 % on the first step.
BUFFER = [(1400, 0.08, 1.0, 0.8), (1750, 0.16, 1.0, 0.4)]
# The superlattice of make_reference.py, coherent on InP.
SUPERLATTICE = [(100, 0.60, 1.0, 0.0), (200, 1.0, 0.0, 0.0)]


def cases():
    out = []
    for r, tag in ((0.0, 'r0'), (0.5, 'r05'), (1.0, 'r1')):
        layers = [LAYER_1UM[0] + (r,)]
        desc = '1 um In0.10Ga0.90As on GaAs, relaxation %g' % r
        for hkl, grazing, gtag in (((0, 0, 4), 'incidence', '004'),
                                   ((2, 2, 4), 'incidence', '224gi'),
                                   ((2, 2, 4), 'exit', '224ge')):
            out.append(('ingaas-1um-%s-%s' % (tag, gtag), desc, (0.0, 1.0), layers, 1, hkl,
                        grazing))
    desc = 'two-step InGaAs buffer on GaAs (400 nm In0.08 relaxed 0.8, 505 nm In0.16 relaxed 0.4)'
    out.append(('buffer-2step-004', desc, (0.0, 1.0), BUFFER, 1, (0, 0, 4), 'incidence'))
    out.append(('buffer-2step-224gi', desc, (0.0, 1.0), BUFFER, 1, (2, 2, 4), 'incidence'))
    desc = '10 x (In0.60Ga0.40As 100 ML / InP 200 ML) on InP, coherent'
    out.append(('superlattice-10x-115gi', desc, (1.0, 0.0), SUPERLATTICE, 10, (1, 1, 5),
                'incidence'))
    return out


def monolayer_height(x, y, a_par):
    a = bilinear(LATTICE, x, y)
    return (a - 2 * bilinear(C12, x, y) / bilinear(C11, x, y) * (a_par - a)) / 2


def build_stack(substrate, layers, repeat):
    lat = hand_lattices(substrate, layers)
    stack = xu.simpack.PseudomorphicStack001('stack',
                                             xu.simpack.Layer(material(*substrate), np.inf))
    for _ in range(repeat):
        for (n, x, y, r), (a_par, _) in zip(layers, lat):
            stack.append(xu.simpack.Layer(material(x, y), n * monolayer_height(x, y, a_par),
                                          relaxation=r))
    return stack, lat


def check_lattices(stack, lat, substrate):
    """xrayutilities' strained lattices against the hand values."""
    a_sub = bilinear(LATTICE, *substrate)
    q_sub = stack[0].material.Q(1, 1, 1)
    assert abs(2 * math.pi / q_sub[2] - a_sub) < 1e-9
    for layer, (a_par, a_perp) in zip(stack[1:], lat):
        q = layer.material.Q(1, 0, 1)
        assert abs(2 * math.pi / q[0] - a_par) < 1e-6, (2 * math.pi / q[0], a_par)
        assert abs(2 * math.pi / q[2] - a_perp) < 1e-6, (2 * math.pi / q[2], a_perp)


def model(stack):
    exp = xu.HXRD((1, 1, 0), (0, 0, 1), en=ENERGY)
    return xu.simpack.DynamicalModel(stack, experiment=exp, polarization='both', Cmono=1)


def reflectivity(dyn, theta, hkl, grazing, phi_sub):
    if hkl[0] == 0 and hkl[1] == 0:
        alphai = theta
    else:
        alphai = theta - phi_sub if grazing == 'incidence' else theta + phi_sub
    geometry = 'lo_hi' if grazing == 'incidence' else 'hi_lo'
    return np.asarray(dyn.simulate(alphai, hkl=hkl, geometry=geometry))


def local_peak(theta, r, centre, half=0.025):
    """Highest point within `half` of `centre` and its FWHM (linear interpolation)."""
    sel = np.where(np.abs(theta - centre) <= half)[0]
    top = sel[np.argmax(r[sel])]
    half_max = r[top] / 2
    lo = top
    while lo > sel[0] and r[lo] > half_max:
        lo -= 1
    hi = top
    while hi < sel[-1] and r[hi] > half_max:
        hi += 1
    if r[lo] > half_max or r[hi] > half_max:
        return theta[top], r[top], float('nan'), float('nan')
    t_lo = theta[lo] + (half_max - r[lo]) * (theta[lo + 1] - theta[lo]) / (r[lo + 1] - r[lo])
    t_hi = theta[hi - 1] + (half_max - r[hi - 1]) * (theta[hi] - theta[hi - 1]) / \
        (r[hi] - r[hi - 1])
    return theta[top], r[top], (t_lo + t_hi) / 2, t_hi - t_lo


def expected_peaks(stack, substrate, layers, repeat, hkl, grazing, lat):
    """Hand positions on the scan's theta, from Bragg's law alone and with refraction: the
    substrate, each layer (single layers and the buffer), or the superlattice's zero order
    and satellites -3..+1 (from the mean perpendicular lattice and the thickness of one
    period, and the mean chi_0 of the period)."""
    a_sub = bilinear(LATTICE, *substrate)
    phi_sub = inclination(hkl, a_sub, a_sub) if hkl[0] or hkl[1] else 0.0
    chi0 = [np.real(lay.material.chi0(en=ENERGY)) for lay in stack]
    peaks = [('substrate', scan_position(hkl, grazing, a_sub, a_sub, phi_sub),
              scan_position(hkl, grazing, a_sub, a_sub, phi_sub, chi0[0]))]
    if repeat == 1:
        for i, (a_par, a_perp) in enumerate(lat):
            peaks.append(('layer %d' % (i + 1),
                          scan_position(hkl, grazing, a_par, a_perp, phi_sub),
                          scan_position(hkl, grazing, a_par, a_perp, phi_sub, chi0[i + 1])))
        return peaks, phi_sub
    heights = [n * a_perp / 2 for (n, _, _, _), (_, a_perp) in zip(layers, lat)]
    period = sum(heights)
    mono = sum(n for n, _, _, _ in layers)
    chi0_mean = sum(c * t for c, t in zip(chi0[1:len(layers) + 1], heights)) / period
    h, k, l = hkl
    for m in (-3, -2, -1, 0, 1):
        # q_z of order m is l / a_mean + m / period (1/A, no 2 pi), a_mean = 2 period / mono;
        # the lattice with that q_z and the substrate's in-plane lattice diffracts there.
        a_perp_m = l / (l * mono / (2 * period) + m / period)
        label = 'satellite %+d' % m if m else 'zero order'
        peaks.append((label, scan_position(hkl, grazing, a_sub, a_perp_m, phi_sub),
                      scan_position(hkl, grazing, a_sub, a_perp_m, phi_sub, chi0_mean)))
    return peaks, phi_sub


def local_grid(centre, width):
    """Fine angles around a peak of FWHM `width`: 25 points per FWHM over 6 FWHM."""
    step = width / 25
    half = 3 * width
    return centre + np.arange(-half, half + step / 2, step)


def angles(centres, window):
    coarse = np.arange(window[0], window[1] + COARSE_STEP / 2, COARSE_STEP)
    parts = [coarse]
    for c in centres:
        parts.append(c + np.arange(-FINE_HALF_WIDTH, FINE_HALF_WIDTH + FINE_STEP / 2,
                                   FINE_STEP))
    return np.unique(np.round(np.concatenate(parts), 6))


def structure_text(description, substrate, layers, repeat, hkl, grazing):
    lines = ['# %s: test structure of relaxation and asymmetric reflections, made by '
             'tools/reference/make_relaxed_reference.py' % description,
             'WAVELENGTH %.7f' % WAVELENGTH,
             'SUBSTRATE %g %g' % substrate]
    lines += ['LAYER %d %g %g' % layer[:3] for layer in layers]
    lines.append('REPEAT %d' % repeat)
    lines.append('MODEL dynamical')
    lines.append('REFLECTION %d %d %d' % hkl)
    if hkl[0] or hkl[1]:
        lines.append('GEOMETRY %s' % grazing)
    for i, layer in enumerate(layers):
        if repeat == 1 or layer[3] != 0:
            lines.append('RELAXATION %d %g' % (i + 1, layer[3]))
    return '\n'.join(lines) + '\n'


def check_geometry_names():
    """'lo_hi' gives the steeper exit beam (grazing incidence), 'hi_lo' the flatter one."""
    stack, _ = build_stack((0.0, 1.0), [], 1)
    dyn = model(stack)
    use_patches(True)
    dyn.simulate(np.array([6.6]), hkl=(2, 2, 4), geometry='lo_hi')
    exit_lo_hi = dyn.last_exit_angles[0]
    dyn.simulate(np.array([77.1]), hkl=(2, 2, 4), geometry='hi_lo')
    exit_hi_lo = dyn.last_exit_angles[0]
    print('lo_hi at alpha_i = 6.6: exit %.2f deg: grazing incidence' % exit_lo_hi)
    print('hi_lo at alpha_i = 77.1: exit %.2f deg: grazing exit' % exit_hi_lo)
    assert exit_lo_hi > 70 and exit_hi_lo < 10


def exit_cutoff(hkl, a_par, phi_sub):
    """The scan's theta below which k0 + h of a lattice of in-plane constant a_par runs into
    the surface at grazing exit (no refraction): cos(alpha_i) = 1 - lambda |h_par|."""
    h, k, _ = hkl
    return math.degrees(math.acos(1 - WAVELENGTH * math.hypot(h, k) / a_par)) - phi_sub


def grazing_exit_cutoff():
    """The GaAs substrate at (224), grazing exit, around the angle where no beam leaves."""
    stack, _ = build_stack((0.0, 1.0), [], 1)
    dyn = model(stack)
    a = bilinear(LATTICE, 0.0, 1.0)
    phi = inclination((2, 2, 4), a, a)
    cut = exit_cutoff((2, 2, 4), a, phi)
    theta = cut + np.array([-0.05, -0.01, -0.001, 0.001, 0.01, 0.05, 0.2])
    r = reflectivity(dyn, theta, (2, 2, 4), 'exit', phi)
    print('grazing exit, GaAs (224), Bragg angle %.4f: the exit beam k0 + h leaves the '
          'surface only above theta = %.4f deg' % (bragg((2, 2, 4), a, a), cut))
    for t, v, af in zip(theta, r, dyn.last_exit_angles):
        print('  theta %.4f  alpha_f %.4f  R %.3e' % (t, af, v))


def bijvoet_mate():
    """The superlattice at (115) with every chi_h conjugated in phase (h.r -> -h.r)."""
    global complex_chih
    as_written = complex_chih
    complex_chih = lambda mat, q, en: as_written(mat, -np.asarray(q), en)  # noqa: E731
    try:
        name, _, substrate, layers, repeat, hkl, grazing = cases()[-1]
        stack, lat = build_stack(substrate, layers, repeat)
        peaks, phi_sub = expected_peaks(stack, substrate, layers, repeat, hkl, grazing, lat)
        use_patches(True)
        dyn = model(stack)
        print('%s with the phases of chi_h conjugated:' % name)
        for label, _, pos in peaks:
            t = pos + np.arange(-0.02, 0.02, FINE_STEP)
            top, height, _, fwhm = local_peak(t, reflectivity(dyn, t, hkl, grazing, phi_sub),
                                              pos)
            print('  %-12s max %.4f height %.3e FWHM %.5f' % (label, top, height, fwhm))
    finally:
        complex_chih = as_written


def substrate_under_layer(name, substrate, layers, hkl, grazing, phi_sub, height):
    """The substrate's peak under one layer against the bare substrate's peak attenuated by
    the layer on both paths, exp(-mu t (1 / sin alpha_i + 1 / sin alpha_f)), mu = 2 pi
    Im(chi_0) / lambda, with the substrate's own beam angles: the substrate's diffracted
    beam keeps its direction through a layer that does not diffract at that angle, relaxed
    or not. A check of the heights by hand."""
    bare, _ = build_stack(substrate, [], 1)
    a = bilinear(LATTICE, *substrate)
    theta_b = bragg(hkl, a, a)
    t = theta_b + np.arange(-0.01, 0.02, 0.00002)
    r = reflectivity(model(bare), t, hkl, grazing, phi_sub)
    bare_height = np.max(r)
    stack, _ = build_stack(substrate, layers, 1)
    mu = 2 * math.pi * np.imag(stack[1].material.chi0(en=ENERGY)) / WAVELENGTH
    incidence = theta_b - phi_sub if grazing == 'incidence' else theta_b + phi_sub
    exit_angle = 2 * theta_b - incidence
    path = stack[1].thickness * (1 / math.sin(math.radians(incidence))
                                 + 1 / math.sin(math.radians(exit_angle)))
    hand = bare_height * math.exp(-mu * path)
    print('%-24s substrate %.4f, bare substrate %.4f x attenuation %.3f = %.4f (%+.1f %%)'
          % (name, height, bare_height, math.exp(-mu * path), hand, 100 * (height / hand - 1)))


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else '.'
    xu_config.VERBOSITY = 0
    check_geometry_names()
    grazing_exit_cutoff()
    table = []
    peak_lines = ['# Made by tools/reference/make_relaxed_reference.py: the peaks of the curves '
                  'in the -ref.dat files beside it.',
                  '# name, peak, window lo and hi (deg): the peak and its half-maximum points '
                  'lie within; Bragg hand value without and with refraction (deg)']
    for name, desc, substrate, layers, repeat, hkl, grazing in cases():
        stack, lat = build_stack(substrate, layers, repeat)
        check_lattices(stack, lat[:len(layers)], substrate)
        peaks, phi_sub = expected_peaks(stack, substrate, layers, repeat, hkl, grazing, lat)
        positions = [p for _, _, p in peaks]
        window = (min(positions) - 0.15, max(positions) + 0.12)
        first_look = angles(positions, window)
        use_patches(True)
        dyn = model(stack)
        r = reflectivity(dyn, first_look, hkl, grazing, phi_sub)
        # The coarse grid and fine ones where the peaks are, after a first look at them.
        parts = [np.arange(window[0], window[1] + COARSE_STEP / 2, COARSE_STEP)]
        for _, _, pos in peaks:
            top, _, centre, fwhm = local_peak(first_look, r, pos)
            if np.isfinite(fwhm):
                parts.append(local_grid(centre, fwhm))
        theta = np.unique(np.round(np.concatenate(parts), 6))
        r = reflectivity(dyn, theta, hkl, grazing, phi_sub)
        assert np.all(np.isfinite(r)) and np.all(r >= 0) and np.all(r <= 1.0001)
        unpatched = None
        if hkl[0] or hkl[1]:
            use_patches(False)
            try:
                with np.errstate(all='ignore'):
                    unpatched = reflectivity(model(stack), theta, hkl, grazing, phi_sub)
            except np.linalg.LinAlgError as e:
                print('%s: unpatched xrayutilities fails: %s' % (name, e))
            use_patches(True)
        with open(os.path.join(out_dir, name + '.txt'), 'w') as f:
            f.write(structure_text(desc, substrate, layers, repeat, hkl, grazing))
        with open(os.path.join(out_dir, name + '-ref.dat'), 'w') as f:
            f.write('# Made by tools/reference/make_relaxed_reference.py with xrayutilities '
                    '%s (patched, see there): %s, (%d%d%d)%s, %.7f A\n'
                    % (xu.__version__, desc, *hkl,
                       (' grazing ' + grazing) if hkl[0] or hkl[1] else '', WAVELENGTH))
            f.write('# theta of the omega-2theta scan (deg)\tdynamical reflectivity\n')
            for t, v in zip(theta, r):
                f.write('%.6f\t%.4e\n' % (t, v))
        print('%s: %d points' % (name, len(theta)))
        for label, bragg_only, pos in peaks:
            top, height, centre, fwhm = local_peak(theta, r, pos)
            row = [name, label, bragg_only, pos, top, centre, height, fwhm]
            if unpatched is not None and np.all(np.isfinite(unpatched)):
                utop, uheight, _, _ = local_peak(theta, unpatched, pos)
                row += [utop, uheight]
            table.append(row)
            if np.isfinite(fwhm):
                half = 2.5 * fwhm
                peak_lines.append('%s\t%s\t%.5f\t%.5f\t%.4f\t%.4f' % (
                    name, label.replace(' ', '_'), centre - half, centre + half, bragg_only,
                    pos))
        if len(layers) == 1 and repeat == 1:
            substrate_under_layer(name, substrate, layers, hkl, grazing, phi_sub,
                                  local_peak(theta, r, peaks[0][2])[1])
    with open(os.path.join(out_dir, 'relaxed-peaks.txt'), 'w') as f:
        f.write('\n'.join(peak_lines) + '\n')
    print()
    bijvoet_mate()
    print()
    print('%-24s %-12s %8s %8s %8s %8s %7s %8s %8s  %s' % (
        'case', 'peak', 'Bragg', '+refr', 'ref max', 'ref ctr', 'ctr-hand', 'height', 'FWHM',
        'unpatched max (height)'))
    for row in table:
        name, label, bragg_only, pos, top, centre, height, fwhm = row[:8]
        extra = '%8.4f (%.2e)' % tuple(row[8:]) if len(row) > 8 else ''
        print('%-24s %-12s %8.4f %8.4f %8.4f %8.4f %7.4f %8.2e %8.5f  %s' % (
            name, label, bragg_only, pos, top, centre, centre - pos, height, fwhm, extra))


if __name__ == '__main__':
    main()
