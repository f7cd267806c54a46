#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

class Config;
struct ResultArrays;

// Limits that keep every accepted structure within about 10 s and 1 GB on a two-core
// desktop. A structure beyond them is refused before anything is computed.
struct CalculationLimits {
    // Monolayers in one period: the profile holds three doubles per monolayer, and the
    // composition plot draws a boundary line for each.
    static constexpr qint64 maxMonolayers = 1'000'000;
    // Curve points: three doubles each in memory, one text line each in the curve file.
    static constexpr qint64 maxCurvePoints = 5'000'000;
    // Curve points times the cost of each in single-monolayer terms (curveCostPerPoint):
    // about 6 s of summing.
    static constexpr double maxWork = 8e9;
};

// Why the loaded (valid) structure cannot be computed, as a line for the log; empty when it
// can. Checks the number of monolayers, the period thickness (a positive, finite number of
// Å or exactly 0), the number of curve points and the cost of the sum, without touching
// anything the caller owns.
QString refusalReason(const Config& config);

struct CalculationOutcome {
    int points = 0;
    QString profileFile;
    QString curveFile;
    bool profileWritten = false;
    bool curveWritten = false;
};

// The whole calculation after a valid load: the depth profile, `profileReady`, the profile
// file, the curve, `curveReady`, the number of curve points as a debug message, the curve
// file. Result files go beside the structure file, or into `outputDir` when given.
CalculationOutcome runCalculation(const Config& config, ResultArrays& results,
                                  const std::function<void()>& profileReady = {},
                                  const std::function<void()>& curveReady = {},
                                  const QString& outputDir = QString());
