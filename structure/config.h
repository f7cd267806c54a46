#pragma once

#include "structure/constants.h"
#include "structure/extensions.h"
#include "structure/layer.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include <cstdint>

class QIODevice;
class StructureFile;

// The structure held in memory: a plain value, so a copy for a worker thread or a fit is
// `Structure copy = config;`. The simulation, the comparison and the fit read it.
struct Structure {
    // 2π, the constant by which the wavenumber is derived from the wavelength.
    static constexpr double twoPi = kTwoPi;

    bool valid = false;
    QString fileName;             // name of the last file that could be opened, as passed to load
    double wavelength = 1.0;      // Å
    bool wavelengthGiven = false; // a WAVELENGTH line set it
    double k = twoPi;             // 1/Å, always twoPi / wavelength
    bool withSubstrate = true;
    Layer substrate;
    QVector<Layer> layers; // one period, in file order
    std::int32_t repeat = 20;
    qint64 ignoredLayers = 0; // LAYER lines beyond Config::maxLayers
    // Lines the reader skipped or read leniently (an unknown keyword, a number that does not
    // convert, a missing argument, a value out of its range, a statement given again); the
    // loader logs a note for each of the first Config::maxNotes of them.
    qint64 notedLines = 0;
    StructureExtensions ext; // MEASURED, instrument, MODEL, REFLECTION and FIT lines
};

// The loader of a structure file and the structure it read. Owned by value by the main window
// (and by the batch tool); it reports what it does through `log`.
class Config : public QObject, public Structure {
    Q_OBJECT
public:
    Config();
    ~Config() override;

    // Every field but fileName back to its value before any load.
    void reset();

    // Reads the structure file `name`. Returns false only when the file cannot be opened;
    // whether its content gave a usable structure is told by `valid`.
    bool load(const QString& name);
    // The same from a file already read (StructureFile::read): the one read of an open.
    bool load(const StructureFile& file);

    // LAYER lines beyond this many are counted in ignoredLayers but not stored, so that a
    // huge file cannot fill the memory; such a structure is refused before any calculation.
    static constexpr int maxLayers = 1'000'000;

    // Notes logged per file; the rest are counted in one closing line.
    static constexpr int maxNotes = 20;

signals:
    void log(QString logMsg);

private:
    bool loadFrom(const QString& name, QIODevice& file);
    void readFrom(QIODevice& file);
    void handleLine(const QString& line, qint64 lineNumber);
    // Records that `statement` is given on line `lineNumber`; returns the line on which it
    // was given before, or 0.
    qint64 given(const QString& statement, qint64 lineNumber);
    void note(qint64 lineNumber, const QString& text);
    // Refuses the structure for the reason of line `lineNumber` (the first such line is
    // logged; the load then gives no structure).
    void refuse(qint64 lineNumber, const QString& reason);

    // Per load: where each statement of which only the last one counts was last given.
    QHash<QString, qint64> lastGiven_;
    QString refusal_; // the first refused line of this load, as logged
};
