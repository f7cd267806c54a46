#include "app/helptext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Help", text);
}

struct Statement {
    const char* keyword;
    const char* arguments;
    const char* meaning;
};

// One row per statement; the reader (structure/config.cpp and extensions.cpp) is the truth.
const Statement kStatements[] = {
    {"WAVELENGTH", "w", QT_TRANSLATE_NOOP("Help", "X-ray wavelength in &Aring; (default 1.0).")},
    {"SUBSTRATE", "x y [1]",
     QT_TRANSLATE_NOOP("Help", "Substrate In fraction x and As fraction y; a third value 1 "
                               "leaves the substrate's own scattering out.")},
    {"LAYER", "n x y &nbsp;es ew ex ey &nbsp;ss sw sx sy",
     QT_TRANSLATE_NOOP("Help",
                       "n monolayers of In(x)Ga(1-x)As(y)P(1-y), in growth order (one monolayer "
                       "is half the layer's strained perpendicular lattice constant, about "
                       "0.28 to 0.30 nm: 100 ML of GaAs on GaAs are 28.27 nm). Then the "
                       "grading at the layer's end and at its start: shape (A abrupt, L linear, "
                       "P parabolic, H sine), width in monolayers, and the composition of the "
                       "neighbouring material.")},
    {"SUBSTRATE", "FORMULA [1] &nbsp; LAYER n FORMULA &nbsp;es ew EF &nbsp;ss sw SF",
     QT_TRANSLATE_NOOP(
         "Help",
         "A material by its formula in place of x y: a zinc-blende III-V alloy of Al, Ga, In "
         "with N, P, As, Sb (Al0.3Ga0.7As, In0.52Al0.48As, GaAs0.9Sb0.1, "
         "Ga0.7In0.3N0.02As0.98) or a diamond alloy of Si, Ge, C (Si0.8Ge0.2, Si, Ge). Each "
         "element is followed by its fraction on its sublattice (none: 1); the fractions of "
         "each sublattice add to 1, at most two elements per sublattice. A graded boundary "
         "names the neighbour by its formula, of the same elements. Materials beyond "
         "InGaAsP need MODEL kinematical or dynamical; lattice constants, C11 and C12 of the "
         "binaries are those of Vurgaftman, Meyer and Ram-Mohan (2001), alloys follow "
         "Vegard's rule.")},
    {"REPEAT", "m", QT_TRANSLATE_NOOP("Help", "Number of periods of the layers (default 20).")},
    {"MEASURED",
     "file [2theta|omega] [SCAN n] [WINDOW from to] [REFLECTION h k l [GEOMETRY "
     "incidence|exit]]",
     QT_TRANSLATE_NOOP("Help",
                       "A measured scan to compare with (XRDML, .x00, UXD, RAS, or columns of "
                       "angle and intensity); a relative name starts from the structure file's "
                       "folder. 2theta or omega: the axis to take (for a plain-text scan, "
                       "2theta means its angle column is 2&theta;); SCAN n: which scan of a file "
                       "holding several; WINDOW: only the points within that angle range. "
                       "One MEASURED line per reflection: a fit then fits all scans together "
                       "(the mean of their agreement figures).")},
    {"RESOLUTION", "fwhm",
     QT_TRANSLATE_NOOP("Help", "Width (FWHM, degrees) of the Gaussian the model is convolved "
                               "with (default 0.003).")},
    {"OFFSET", "degrees", QT_TRANSLATE_NOOP("Help", "Added to the measured angles (default 0).")},
    {"SCALE", "s",
     QT_TRANSLATE_NOOP("Help", "Fixed scale of the model's intensity; without it the scale is "
                               "found by least squares.")},
    {"BACKGROUND", "counts",
     QT_TRANSLATE_NOOP("Help", "Fixed background in counts per second; without it the "
                               "background is found by least squares.")},
    {"MODEL", "basic | kinematical | dynamical",
     QT_TRANSLATE_NOOP("Help", "The physics: basic (the default: the kinematical sum of the "
                               "atomic planes), kinematical (with elastic strain, anomalous "
                               "scattering, refraction and absorption), or dynamical (the same "
                               "materials, with multiple scattering).")},
    {"REFLECTION", "l | h k l",
     QT_TRANSLATE_NOOP("Help", "The reflection of the realistic models: (00l) with l a positive "
                               "even number (default 4), or h k l all even or all odd, such as "
                               "2 2 4 or 1 1 5.")},
    {"GEOMETRY", "incidence | exit",
     QT_TRANSLATE_NOOP("Help", "For an asymmetric reflection: the beam grazes the surface at "
                               "incidence (&omega; = &theta; &minus; &phi;) or at exit "
                               "(&omega; = &theta; + &phi;), &phi; the tilt of the planes.")},
    {"RELAXATION", "i r",
     QT_TRANSLATE_NOOP("Help", "Layer i (counted from 1) relaxed by the fraction r (0 coherent, "
                               "1 its own bulk lattice) of its mismatch to the in-plane lattice "
                               "below it; realistic models only.")},
    {"FITOPTIONS", "[SEED n] [POPULATION n] [GENERATIONS n] [SECONDS s]",
     QT_TRANSLATE_NOOP("Help",
                       "How the fit searches, each value optional: the seed of its random "
                       "search (default 1), the members of its population (8 to 1000), the "
                       "most generations (default 500) and its time limit in seconds (default "
                       "600). Fit &rarr; Fit Options writes this line.")},
    {"FIT", "LAYER i Al|Ga|In|P|As|Sb|Si|Ge|C min max",
     QT_TRANSLATE_NOOP("Help", "The fraction of that element on its sublattice of layer i, for "
                               "a layer named by formula (FIT LAYER 2 Al 0.2 0.4); N stays the "
                               "thickness, so a nitrogen fraction is fitted as Y.")},
    {"FIT", "LAYER i N|X|Y|R min max, or OFFSET|RESOLUTION|SCALE|BACKGROUND min max",
     QT_TRANSLATE_NOOP(
         "Help", "A value the fit may move, within min to max: the thickness (N), In "
                 "fraction (X), As fraction (Y) or relaxation (R) of layer i (counted from 1), "
                 "or an "
                 "instrument value. Fit &rarr; Fit writes NAME-fitted.EXT and shows it (a refit of "
                 "NAME-fitted.EXT writes it again). While it runs, Stop keeps the best "
                 "point so far and Cancel discards the fit.")},
};

} // namespace

QString helpText() {
    QString html;
    html += QStringLiteral("<h3>%1</h3><ul>").arg(tr("Mouse"));
    html += QStringLiteral("<li>%1</li>").arg(tr("Left drag: pans the plot."));
    html += QStringLiteral("<li>%1</li>").arg(tr("Right drag: zooms to the rectangle drawn."));
    html += QStringLiteral("<li>%1</li>").arg(tr("Wheel: zooms about the pointer."));
    html += QStringLiteral("<li>%1</li></ul>")
                .arg(tr("Drop a structure file on the field at the top to compute it; drop a "
                        "measured scan there to compare it with the loaded structure, or to "
                        "see it alone with its peaks when no structure is loaded. Help "
                        "&rarr; Open Example opens a bundled example. The log pane below the "
                        "plots can be enlarged by dragging its upper edge."));
    html += QStringLiteral("<p>%1</p>")
                .arg(tr("&laquo;Keep Scale&raquo; keeps the axis ranges for the next file; "
                        "&laquo;Log&raquo; switches the intensity axis to a logarithmic "
                        "scale. A structure file or scan that changes on disk is computed "
                        "again."));
    html += QStringLiteral("<h3>%1</h3><p>%2</p><table cellspacing=4>")
                .arg(tr("Structure file"),
                     tr("One statement per line, keywords in any case, # starts a comment. "
                        "A file needs a positive wavelength, a substrate and a layer."));
    for (const Statement& s : kStatements)
        html += QStringLiteral("<tr><td><b>%1</b>&nbsp;<i>%2</i></td></tr><tr><td>%3</td></tr>")
                    .arg(QString::fromLatin1(s.keyword), QString::fromLatin1(s.arguments),
                         tr(s.meaning));
    html += QStringLiteral("</table>");
    return html;
}

QStringList exampleFolderCandidates(const QString& binFolder) {
    QStringList folders{
        QDir(binFolder).absoluteFilePath(QStringLiteral("../share/xrdsim/examples"))};
#ifdef XRDSIM_SOURCE_EXAMPLES
    folders << QStringLiteral(XRDSIM_SOURCE_EXAMPLES);
#endif
    for (QString& f : folders)
        f = QDir::cleanPath(f);
    return folders;
}

QString examplesFolder() {
    for (const QString& folder : exampleFolderCandidates(QCoreApplication::applicationDirPath()))
        if (!QDir(folder).entryList({QStringLiteral("*.txt")}, QDir::Files).isEmpty())
            return folder;
    return QString();
}
