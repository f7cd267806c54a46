#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Keeps a run from writing over what it reads or over what the user owns elsewhere: every
// result path is checked against every input of the run before anything is written.

// NAME-plot.png for the structure file `structureFile`, beside it or in `outputDir`.
QString plotFileName(const QString& structureFile, const QString& outputDir = QString());

// Every file the road of `structureFile` may write: NAME-cmp.EXT and NAME-dif.EXT; with a
// scan NAME-meas.EXT; with `plot` NAME-plot.png; with `fit` NAME-fitted.EXT and the same
// results of that file (which is then computed with the same scan).
QStringList resultPaths(const QString& structureFile, const QString& outputDir, bool scan,
                        bool plot, bool fit);
// The same with one -meas file per tag ("meas", "meas-224-exit"...): a structure with several
// scans writes one for each.
QStringList resultPaths(const QString& structureFile, const QString& outputDir,
                        const QStringList& measTags, bool plot, bool fit);

// What a path names, for comparing paths: its canonical path when it exists, else the
// canonical path of its folder with its name (so that two spellings of one file that is not
// written yet compare equal); a path in a missing folder is only made absolute and clean.
QString pathIdentity(const QString& path);

// One structure file of a run: what it reads and what it may write.
struct RunFiles {
    QString structure;   // as the user named it
    QStringList inputs;  // the structure file itself, its scan
    QStringList outputs; // resultPaths()
};

// For each file of a run, in order, the log lines that refuse it (empty when it may run):
// a result that is an input of any file of the run, a result that is a symbolic link, or a
// result an earlier file of the run writes too (two files of one name into one folder; a
// file named twice is simply computed twice). A refused file must write nothing.
QVector<QStringList> refuseClashes(const QVector<RunFiles>& run);

// The log lines that refuse an output of the whole run (a summary of every file): it may not
// be written (writeRefusal), it is an input of the run, or a file of the run writes it as a
// result. Empty when it may be written; checked before any work, as the results are.
QStringList refuseRunOutput(const QString& output, const QVector<RunFiles>& run);
