#pragma once

#include "measured/measuredscan.h"
#include "structure/config.h"
#include "structure/structurefile.h"

#include <QString>
#include <QVector>

// The structure file on show as the document read it, once, for the views beside the plots:
// the layer table lists its text, the sliders fit its structure against the scans the road
// read; each edits its own copy of the file (the one writer). Shared read-only; a new open
// makes a new one.
struct ShownFile {
    StructureFile file;  // as read (not read: a file beyond StructureFile::maxBytes)
    Structure structure; // as loaded from it
    // The scan named instead of the MEASURED lines (scanOverrideWith), or empty.
    QString scanOverride;
    // The scans the road read and compared, in the order of scanRequestsFor (empty when one
    // could not be read), and the angles of the peaks found in the first.
    QVector<MeasuredScan> scans;
    QVector<double> measuredPeaks;

    const QString& path() const { return file.path(); }
};
