#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

struct Structure;
class LineTokens;
class StructureText;

// The physics model a structure asks for; Basic is the calculation done without a MODEL line.
enum class ModelKind { Basic, Kinematical, Dynamical };

// The reflection (h k l) a curve is computed for and, for an asymmetric one (h or k not 0),
// on which side the beam grazes the surface: at incidence (the incident beam closer to the
// surface than the exit beam) or at exit.
struct Reflection {
    enum Grazing : unsigned char { Incidence, Exit };
    int h = 0, k = 0, l = 4;
    Grazing grazing = Incidence;
    bool symmetric() const { return h == 0 && k == 0; }
    bool operator==(const Reflection& o) const {
        return h == o.h && k == o.k && l == o.l && grazing == o.grazing;
    }
    bool operator!=(const Reflection& o) const { return !(*this == o); }
};

// One RELAXATION line: layer (1-based, file order) relaxed by `fraction` (0 coherent, 1 its
// own bulk lattice) of its mismatch to the in-plane lattice below it.
struct LayerRelaxation {
    int layer = 0;
    double fraction = 0.0;
    int lineNumber = 0;
};

// One MEASURED line: the scan file, how to take the scan from it, and the reflection it was
// measured at. The import choices (axis, angle window, which scan of several) are left to the
// reader when not given.
struct MeasuredSpec {
    enum Axis : unsigned char { AnyAxis, TwoTheta, Omega };
    QString file;        // as written
    Axis axis = AnyAxis; // 2theta or omega: which angle the file's scan moves
    double from = 0.0;   // the angle window, degrees of that axis; from < to when given
    double to = 0.0;
    bool windowGiven = false;
    int scanNumber = 0;    // 1-based scan of a file holding several; 0: the reader's choice
    Reflection reflection; // the structure's own REFLECTION unless the line names one
    bool reflectionGiven = false;
    int lineNumber = 0;
    bool hasChoices() const { return axis != AnyAxis || windowGiven || scanNumber > 0; }
};

// One FIT line: which value of the structure the fit may move, and within which range.
struct FitParameter {
    enum Target {
        Thickness,
        InFraction,
        AsFraction,
        Offset,
        Resolution,
        Scale,
        Background,
        Relaxation
    };
    Target target = Thickness;
    int layer = 0; // 1-based, layer targets only
    double min = 0, max = 0;
    QString text; // the target as written in canonical form: "LAYER 2 X", "LAYER 1 N", "OFFSET"
    int lineNumber = 0; // of the FIT line, for messages (at most INT_MAX)
    // A fraction named by its element ("FIT LAYER 2 Al"): the element's index (material.h),
    // the target then the X (group III or IV) or Y (group V) of the layer's system, counted
    // from the other end where the element is the system's first on its sublattice; -1 for
    // the targets named by a letter.
    int element = -1;
};

// The neighbour compositions of one LAYER line as written (arguments 6, 7, 10 and 11), before
// the reader averages them with the layer's own. Moving a fitted composition into the
// neighbours that were written equal to it, and recomputing the averages of a layer whose own
// composition moves, both need the written values to the last bit.
struct WrittenNeighbours {
    enum Present : unsigned char { EndIn = 1, EndAs = 2, StartIn = 4, StartAs = 8 };
    double endIn = 0, endAs = 0, startIn = 0, startAs = 0;
    unsigned char present = 0; // which of the four the line gave as a non-empty token
};

// The FITOPTIONS statement: how the fit searches. Zero (and seedGiven false) leaves the fit's
// own default; a later FITOPTIONS line replaces only the values it names.
struct FitSearchOptions {
    bool seedGiven = false;
    unsigned seed = 1;
    int population = 0;  // members of the search's population
    int generations = 0; // most generations of the global search
    double seconds = 0;  // wall-clock limit of the whole fit
    static constexpr int minPopulation = 8;
    static constexpr int maxPopulation = 1000;
    static constexpr int maxGenerations = 100'000;
    static constexpr double maxSeconds = 1e9;
};

// The statement's text for these options: "FITOPTIONS SEED 7 POPULATION 40 ...", naming only
// the values set; just "FITOPTIONS" when none is.
QString fitOptionsLine(const FitSearchOptions& options);

// Makes one FITOPTIONS line of `text` say `options`: the first such line becomes it (its line
// end kept) and later ones go; without one, it is added as the last line. Options that set
// nothing remove the lines. Every other byte stays.
void setFitOptionsLine(StructureText& text, const FitSearchOptions& options);
// The same on a file's bytes; empty when they cannot be written back byte for byte.
QByteArray withFitOptionsLine(const QByteArray& bytes, const FitSearchOptions& options);

// What the statements beyond WAVELENGTH, SUBSTRATE, LAYER and REPEAT say: the measured scan to
// compare with, the instrument, the model and the FIT lines. Held by Config as `ext`.
struct StructureExtensions {
    QString measuredFile; // the first scan's file as written; empty when there is no MEASURED line
    bool measuredTwoTheta = false; // the first scan's axis is 2theta
    // Every MEASURED line, one per reflection (and grazing side) in file order; a later line
    // for the same reflection replaces the earlier one in its place.
    QVector<MeasuredSpec> measured;
    int lastMeasured = -1;     // the entry the last MEASURED line read filled
    double resolution = 0.003; // Gaussian FWHM, degrees of theta
    double offset = 0.0;       // degrees, added to the measured angles
    bool scaleGiven = false;
    double scale = 1.0;
    bool backgroundGiven = false;
    double background = 0.0; // counts per second
    ModelKind model = ModelKind::Basic;
    Reflection reflection; // of the realistic models; (004) unless a REFLECTION line says
    // RELAXATION lines, one entry per layer named (the last line for a layer counts); empty
    // for a structure without them. A layer not named is coherent (0).
    QVector<LayerRelaxation> relaxations;
    QVector<FitParameter> fits;
    FitSearchOptions fitOptions;
    QStringList problems; // one line per malformed extension statement

    // One record per stored layer while a FIT line moves a composition; empty otherwise, so
    // that a file without such lines costs no memory after its load. Not kept for periods of
    // more than maxFitLayers layers, which no fit accepts: a file of a million layers loads
    // with no more memory than before.
    QVector<WrittenNeighbours> written;
    static constexpr int maxFitLayers = 10'000;
};

QString modelName(ModelKind kind); // "basic", "kinematical", "dynamical"
// The model a MODEL statement names by `word` (lower case); false when none.
bool modelKindOf(const QString& word, ModelKind& kind);
bool isModelName(const QString& word);

// Absolute path of the MEASURED file (relative names are taken from the structure file's
// folder), or empty when there is no MEASURED line.
QString measuredPath(const Structure& config);

// Reads the import choices and the reflection of a MEASURED line (everything after the file
// name): "2theta" or "omega", "SCAN n", "WINDOW from to", "REFLECTION h k l" (or "REFLECTION
// l") and "GEOMETRY incidence|exit", in any order, each at most once. False with `problem`
// (a phrase, no file or line) when the words are malformed; `spec` is then undefined.
bool readMeasuredChoices(const QStringList& words, MeasuredSpec& spec, QString& problem);

// The words of a MEASURED line that give the choices and the reflection of `spec` (the
// canonical form readMeasuredChoices reads back); empty when there are none.
QString measuredChoicesText(const MeasuredSpec& spec);

// "(004)", "(224) grazing exit": a reflection for the log.
QString reflectionText(const Reflection& r);

// Absolute path of one MEASURED file (relative names from the structure file's folder).
QString measuredPath(const Structure& config, const QString& name);

// How readExtensionStatement took a line: no extension statement (left alone), read and
// stored, or malformed and ignored (with a line in `problems`).
enum class ExtensionRead { NotExtension, Taken, Ignored };

// The reader's hooks. readExtensionStatement handles the line whose upper-cased keyword is
// `keyword` when it is an extension statement and leaves every other line alone; `tokens`
// stand behind the keyword. noteWrittenNeighbours records the neighbour
// compositions of the LAYER line just stored as layer `index` (0-based). finishExtensions runs
// after the last line of a valid structure.
ExtensionRead readExtensionStatement(StructureExtensions& ext, const QString& keyword,
                                     LineTokens& tokens, const QString& fileName,
                                     qint64 lineNumber);
void noteWrittenNeighbours(StructureExtensions& ext, int index, const WrittenNeighbours& w);
// `layerCount` (when not negative) drops, with a line in `problems`, every RELAXATION line
// that names a layer the structure does not have. The scans that name no reflection take the
// structure's; two scans left at one reflection keep the earlier, the later with a line in
// `problems` naming `fileName`.
void finishExtensions(StructureExtensions& ext, const QString& fileName = QString(),
                      int layerCount = -1);

// The relaxation of layer `index` (0-based): 0 unless a RELAXATION line names it.
double layerRelaxation(const StructureExtensions& ext, int index);
// Sets it (a fit's value), adding an entry when the layer had none.
void setLayerRelaxation(StructureExtensions& ext, int index, double fraction);
// True when some layer is relaxed by a fraction other than 0.
bool anyRelaxation(const StructureExtensions& ext);
