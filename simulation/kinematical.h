#pragma once

#include <QVector>

#include <atomic>

struct PhysicsStack;
struct Reflection;

// The kinematical model with realistic physics: the sum over every atomic plane of the basic
// model (group-III plane at a monolayer's start, group-V plane half-way up), with
//  - the strained monolayer heights of the stack (elastic constants),
//  - scattering factors (f0 + f' - i f'') T with xraylib's dispersion corrections,
//  - refraction and absorption: inside a layer the scattering vector is q + k chi0 / sin(theta)
//    (chi0 complex), so a plane at depth t adds its factor times e^(i q t) damped by
//    e^(-mu t / sin(theta)), mu = k Im chi0 the linear absorption coefficient,
//  - substrate and layers summed as complex amplitudes with their true relative phase: the
//    substrate's top monolayer lies right below the first layer, and its semi-infinite
//    series is summed in closed form with absorption, finite at its Bragg positions,
//  - absolute units: the amplitude of a plane of atomic factor f with one atom per area
//    A = aSubstrate^2 / 2 is r_e lambda C f / (A sin(theta)), the thin-layer limit of the
//    dynamical model, so the two models give the same reflectivity for thin layers,
//  - the polarisation factor (1 + cos^2 2theta) / 2 of an unpolarised beam.
// Returns the reflectivity at each Bragg angle of `thetaDegrees` (angles outside
// 0 < theta < 90 degrees give 0). Empty when the stack carries an error or `cancel` was set
// during the calculation. Re-entrant: reads the stack only.
QVector<double> kinematicalReflectivity(const PhysicsStack& stack,
                                        const QVector<double>& thetaDegrees,
                                        const std::atomic<bool>* cancel = nullptr);

// The same sum for any reflection. A symmetric one is the function above (the curve holds
// every (00l) order). For an asymmetric one, to first order in the geometry of
// dynamicalReflectivity: the incident beam meets the surface at omega (theta -/+ phi), each
// slab's diffracted beam leaves with the component along the surface of k0 + h of its own
// in-plane lattice, the normal component of the scattering vector k (sin(in) + sin(out))
// sets the phase of each monolayer (refraction and absorption on both paths), the group-V
// plane carries the phase of its offset along the surface, and the intensity is
// |amplitude|^2 / (sin(in) sin(out)) in the units above. 0 where no beam leaves the surface.
QVector<double> kinematicalReflectivity(const PhysicsStack& stack, const Reflection& reflection,
                                        const QVector<double>& thetaDegrees,
                                        const std::atomic<bool>* cancel = nullptr);
