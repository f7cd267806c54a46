#pragma once

#include <QVector>

// The results of one calculation, owned by the main window (or the batch tool): the depth
// profile of one period and the diffraction curve. Entry i of the first three vectors
// describes monolayer i (plus one closing entry), entry i of the last three curve point i.
struct ResultArrays {
    QVector<double> depth;     // Å, height at which each monolayer starts; last = period
    QVector<double> inProfile; // In fraction of each monolayer's group-III plane
    QVector<double> asProfile; // As fraction of each monolayer's group-V plane
    QVector<double> theta;     // degrees, Bragg angle of each curve point
    QVector<double> q;         // 1/Å, scattering-vector length
    QVector<double> intensity; // electrons², unnormalised
};
