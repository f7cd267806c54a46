#pragma once

#include <QVector>

#include <cmath>
#include <random>

// Curves for the drawing tests, made from a fixed seed so every run draws the same pixels.
namespace testcurves {

struct Curve {
    QVector<double> theta;     // degrees
    QVector<double> intensity; // positive unless the case says otherwise
};

// What a diffraction curve looks like: Lorentzian peaks of very different heights and
// widths over a background that decays with the angle, with fast thickness fringes, so
// that one pixel column holds anything from a flat stretch to a full oscillation.
inline Curve lorentzianPeaks(int n) {
    Curve c;
    const double peaks[][3] = {// centre (deg), height, half width (deg)
                               {15.2, 3e5, 0.02},  {16.1, 4e3, 0.05}, {31.7, 2e6, 0.01},
                               {32.4, 8e4, 0.08},  {48.9, 5e2, 0.3},  {66.3, 1e5, 0.015},
                               {66.35, 5e4, 0.005}};
    c.theta.resize(n);
    c.intensity.resize(n);
    for (int i = 0; i < n; ++i) {
        const double t = 0.01 + 89.98 * i / (n - 1);
        double v = 50.0 * std::exp(-t / 12.0) + 0.5;
        for (const auto& p : peaks) {
            const double u = (t - p[0]) / p[2];
            v += p[1] / (1.0 + u * u);
        }
        v *= 1.0 + 0.6 * std::sin(t * 900.0) * std::sin(t * 900.0);
        c.theta[i] = t;
        c.intensity[i] = v;
    }
    return c;
}

// Independent random intensities, spread over `decades` decades: every column jumps up and
// down. On the linear scale most of them sit on the same few pixel rows near zero.
inline Curve randomNoise(int n, unsigned seed, double decades = 6.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> exponent(0.0, decades);
    Curve c;
    c.theta.resize(n);
    c.intensity.resize(n);
    for (int i = 0; i < n; ++i) {
        c.theta[i] = 90.0 * i / (n - 1);
        c.intensity[i] = std::pow(10.0, exponent(rng));
    }
    return c;
}

// The peaks with 20 % random noise on every point: on the logarithmic scale each column
// zigzags over a few pixels around the curve.
inline Curve noisyPeaks(int n, unsigned seed) {
    Curve c = lorentzianPeaks(n);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> factor(0.8, 1.2);
    for (double& v : c.intensity)
        v *= factor(rng);
    return c;
}

// A random walk in log intensity: long stretches inside one column with drifting extremes.
inline Curve randomWalk(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> step(0.0, 0.02);
    Curve c;
    c.theta.resize(n);
    c.intensity.resize(n);
    double logValue = 2.0;
    for (int i = 0; i < n; ++i) {
        logValue = std::max(-1.0, std::min(7.0, logValue + step(rng)));
        c.theta[i] = 90.0 * i / (n - 1);
        c.intensity[i] = std::pow(10.0, logValue);
    }
    return c;
}

// Angles that run back and forth (a Lissajous figure): columns are visited many times, so
// runs of one column are short and interleaved.
inline Curve backAndForth(int n) {
    Curve c;
    c.theta.resize(n);
    c.intensity.resize(n);
    for (int i = 0; i < n; ++i) {
        const double s = 6.283185307179586 * i / n;
        c.theta[i] = 45.0 + 44.0 * std::sin(7.0 * s);
        c.intensity[i] = std::pow(10.0, 3.0 + 2.5 * std::sin(11.0 * s + 0.3));
    }
    return c;
}

} // namespace testcurves
