// The Python module xrdsim: the structure, the calculation, the scan readers, the peak
// analysis and the fit of this program, with numpy arrays in and out. Every call goes through
// the same library code as xrdsim-batch; nothing is computed here. The GIL is released while
// the library computes, so Python threads run calculations and fits side by side.

#include "analysis/comparison.h"
#include "analysis/fitroad.h"
#include "analysis/peaks.h"
#include "analysis/scanalone.h"
#include "analysis/scanroad.h"
#include "measured/readers.h"
#include "simulation/calculation.h"
#include "structure/config.h"
#include "structure/extensions.h"
#include "structure/structuretext.h"

// Qt's "slots" keyword is a macro; Python's headers use the word as a name.
#pragma push_macro("slots")
#undef slots
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#pragma pop_macro("slots")

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace py = pybind11;

namespace {

// The one exception type: its message is the program's own line for the log.
class XrdError : public std::runtime_error {
public:
    explicit XrdError(const QString& line) : std::runtime_error(line.toStdString()) {}
};

QString qstr(const std::string& s) {
    return QString::fromStdString(s);
}

py::list strings(const QStringList& lines) {
    py::list out;
    for (const QString& line : lines)
        out.append(line.toStdString());
    return out;
}

// One copy of a Qt vector into a new numpy array.
py::array_t<double> array(const QVector<double>& v) {
    py::array_t<double> out(v.size());
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

py::array_t<double> array(const std::vector<double>& v) {
    py::array_t<double> out(py::ssize_t(v.size()));
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

QVector<double> vectorOf(const py::array_t<double, py::array::c_style | py::array::forcecast>& a) {
    if (a.ndim() != 1)
        throw XrdError(QStringLiteral("Expected a one-dimensional array of numbers."));
    return QVector<double>(a.data(), a.data() + a.size());
}

int defaultThreads() {
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A structure: its text, the file it came from (when it did), and what the loader made of it.
// The library reads structures from files, so a text that is not the file's own is written
// into a private folder first; relative MEASURED names still resolve against `directory`.
class PyStructure {
public:
    static std::shared_ptr<PyStructure> fromFile(const std::string& path) {
        auto s = std::make_shared<PyStructure>();
        s->path_ = QFileInfo(qstr(path)).absoluteFilePath();
        s->directory_ = QFileInfo(s->path_).absolutePath();
        QFile file(s->path_);
        if (!QFileInfo(s->path_).isFile() || !file.open(QIODevice::ReadOnly))
            throw XrdError(QStringLiteral("Can't open [%1].").arg(qstr(path)));
        s->text_ = file.readAll();
        s->load();
        return s;
    }

    static std::shared_ptr<PyStructure> fromText(const QByteArray& text, const QString& directory,
                                                 const QString& name) {
        auto s = std::make_shared<PyStructure>();
        s->text_ = text;
        s->directory_ = directory.isEmpty() ? QDir::currentPath() : directory;
        s->name_ = name.isEmpty() ? QStringLiteral("structure.txt") : name;
        s->load();
        return s;
    }

    const Config& config() const { return *config_; }
    const QByteArray& text() const { return text_; }
    const QString& path() const { return path_; }
    const QString& directory() const { return directory_; }
    const QString& file() const { return file_; }
    const QStringList& log() const { return log_; }
    Calculation& calculation() { return *calculation_; }
    const QStringList& scanLog() const { return scanLog_; }

    // The scan the road reads instead of the MEASURED lines: none when the structure is read
    // from its own file (or names its scans by absolute paths); for a text edited in memory
    // with one MEASURED line, that scan from the original folder with its choices.
    QString scanOverride() const {
        if (file_ == path_)
            return {};
        const QVector<MeasuredSpec>& specs = config_->ext.measured;
        bool relative = false;
        for (const MeasuredSpec& spec : specs)
            relative = relative || QFileInfo(spec.file).isRelative();
        if (!relative)
            return {};
        if (specs.size() > 1)
            throw XrdError(QStringLiteral("A structure edited in memory that names several scans "
                                          "by relative paths cannot find them: give their "
                                          "absolute paths in its MEASURED lines."));
        const MeasuredSpec& spec = specs.first();
        return scanOverrideWith(QDir(directory_).absoluteFilePath(spec.file),
                                measuredChoicesText(spec));
    }

    // A line of the library's that names the private copy, naming the structure as the user
    // knows it instead: its file, or the name given to its text.
    QString shown(QString line) const {
        if (file_ != path_)
            line.replace(file_, path_.isEmpty() ? name_ : path_);
        return line;
    }

    // Replaces the text (and loads it); on failure the old text stays and the loader's line
    // is raised.
    void setText(const QByteArray& text) {
        const QByteArray old = text_;
        text_ = text;
        try {
            load();
        } catch (...) {
            text_ = old;
            load();
            throw;
        }
    }

    // An edit of the text through the structure's writer.
    template <typename Edit> void edit(Edit&& change, const QString& failure) {
        StructureText t(text_);
        if (!change(t))
            throw XrdError(failure);
        setText(t.bytes());
    }

private:
    void load() {
        file_ = path_;
        if (path_.isEmpty() || readBytes(path_) != text_) {
            temp_ = std::make_shared<QTemporaryDir>();
            const QString name = path_.isEmpty() ? name_ : QFileInfo(path_).fileName();
            file_ = temp_->filePath(name);
            QSaveFile out(file_);
            if (!temp_->isValid() || !out.open(QIODevice::WriteOnly) ||
                out.write(text_) != text_.size() || !out.commit())
                throw XrdError(QStringLiteral("Can't write [%1].").arg(file_));
        }
        auto config = std::make_unique<Config>();
        QStringList log;
        QObject::connect(config.get(), &Config::log,
                         [&log, this](const QString& line) { log << shown(line); });
        LoadedStructure loaded = loadStructure(*config, file_);
        QObject::disconnect(config.get(), nullptr, nullptr, nullptr);
        if (!loaded.message.isEmpty())
            log << shown(loaded.message);
        for (const QString& line : config->ext.problems)
            log << shown(line);
        if (loaded.status != LoadedStructure::Ready)
            throw XrdError(log.isEmpty() ? QStringLiteral("Invalid structure.") : log.last());
        config_ = std::move(config);
        calculation_ = std::move(loaded.calculation);
        log_ = log;
        // The curve widens to the scans as the batch tool's road does.
        scanLog_.clear();
        const QString override = scanOverride();
        for (const ScanReadResult& read :
             readScansAndCover(*calculation_, scanRequestsFor(*config_, override)))
            if (!read.ok)
                scanLog_ << shown(read.error);
    }

    QByteArray text_;
    QString path_;      // absolute; empty for a text
    QString directory_; // where relative MEASURED names are found
    QString name_;      // the file name of a text
    QString file_;      // the file loaded: path_, or a copy in temp_
    std::shared_ptr<QTemporaryDir> temp_;
    std::unique_ptr<Config> config_;
    std::unique_ptr<Calculation> calculation_;
    QStringList log_;
    QStringList scanLog_;
};

using StructurePtr = std::shared_ptr<PyStructure>;

py::dict layerDict(const Layer& l) {
    py::dict d;
    d["monolayers"] = l.monolayers;
    d["x"] = l.inFraction;
    d["y"] = l.asFraction;
    d["end_shape"] = int(l.endShape);
    d["end_width"] = l.endWidth;
    d["end_x"] = l.endInFraction;
    d["end_y"] = l.endAsFraction;
    d["start_shape"] = int(l.startShape);
    d["start_width"] = l.startWidth;
    d["start_x"] = l.startInFraction;
    d["start_y"] = l.startAsFraction;
    return d;
}

// A measured scan as the readers give it, with the reader's outcome for the peak analysis.
struct PyScan {
    QString path;
    ScanReadResult read;
};

ScanReadOptions readOptions(const std::optional<std::string>& axis,
                            const std::optional<std::pair<double, double>>& window,
                            int scanNumber) {
    ScanReadOptions options;
    if (axis) {
        const QString a = qstr(*axis).toLower();
        if (a == QLatin1String("2theta"))
            options.axis = ScanReadOptions::TwoTheta;
        else if (a == QLatin1String("omega"))
            options.axis = ScanReadOptions::Omega;
        else
            throw XrdError(QStringLiteral("The axis must be 2theta or omega. [%1]").arg(a));
        options.twoTheta = options.axis == ScanReadOptions::TwoTheta;
    }
    if (window) {
        if (!(window->first < window->second) || !std::isfinite(window->first) ||
            !std::isfinite(window->second))
            throw XrdError(QStringLiteral("The window must be two finite angles, from < to."));
        options.windowGiven = true;
        options.from = window->first;
        options.to = window->second;
    }
    if (scanNumber < 0)
        throw XrdError(QStringLiteral("The scan number must be 1 or more."));
    options.scanNumber = scanNumber;
    return options;
}

std::shared_ptr<PyScan> readScan(const std::string& path, const std::optional<std::string>& axis,
                                 const std::optional<std::pair<double, double>>& window,
                                 int scanNumber) {
    auto s = std::make_shared<PyScan>();
    s->path = QFileInfo(qstr(path)).absoluteFilePath();
    const ScanReadOptions options = readOptions(axis, window, scanNumber);
    {
        py::gil_scoped_release release;
        s->read = readScanFile(s->path, options);
    }
    if (!s->read.ok)
        throw XrdError(s->read.error);
    return s;
}

py::object figure(const Figure& f) {
    py::dict d;
    d["value"] = f.value;
    d["sigma"] = f.sigma;
    d["why"] = f.why.toStdString();
    return std::move(d);
}

py::object peak(const Peak& p) {
    py::dict d;
    d["theta"] = p.theta;
    d["sigma"] = p.sigma;
    d["intensity"] = p.intensity;
    d["prominence"] = p.prominence;
    return std::move(d);
}

py::dict peaksDict(const PeakAnalysis& p, const QStringList& log) {
    py::dict d;
    d["substrate"] = peak(p.substrate);
    d["substrate_why"] = p.substrateWhy.toStdString();
    d["main"] = peak(p.main);
    d["main_why"] = p.mainWhy.toStdString();
    d["satellite_theta"] = array(p.satelliteTheta);
    py::list orders;
    for (int o : p.satelliteOrder)
        orders.append(o);
    d["satellite_order"] = orders;
    d["period"] = figure(p.period);
    d["mismatch"] = figure(p.mismatch);
    d["thickness"] = figure(p.thickness);
    d["fringes_used"] = p.fringesUsed;
    d["noise"] = p.noise;
    py::list all;
    for (const Peak& q : p.peaks)
        all.append(peak(q));
    d["peaks"] = all;
    d["log"] = strings(log);
    return d;
}

py::tuple simulate(const StructurePtr& s, const std::optional<py::object>& thetaArg, int threads) {
    SumControl control;
    control.threads = threads > 0 ? threads : defaultThreads();
    if (!thetaArg || thetaArg->is_none()) {
        ResultArrays results;
        bool done = false;
        {
            py::gil_scoped_release release;
            done = s->calculation().compute(results, control);
        }
        if (!done)
            throw XrdError(s->shown(
                QStringLiteral("The curve of [%1] was not computed.").arg(s->config().fileName)));
        return py::make_tuple(array(results.theta), array(results.intensity));
    }
    // At given angles: the model as the comparison with a scan at them computes it (offset,
    // resolution, and a scale of 1 and no background unless the structure sets them).
    MeasuredScan scan;
    scan.theta =
        vectorOf(thetaArg->cast<py::array_t<double, py::array::c_style | py::array::forcecast>>());
    for (int i = 1; i < scan.theta.size(); ++i)
        if (!(scan.theta[i] > scan.theta[i - 1]))
            throw XrdError(QStringLiteral("The angles must ascend."));
    scan.intensity = QVector<double>(scan.theta.size(), 1.0);
    const Structure& config = s->config();
    InstrumentSettings instrument = instrumentFrom(config);
    instrument.scale = instrument.scale.value_or(1.0);
    instrument.background = instrument.background.value_or(0.0);
    ModelAtScan out;
    QString problem;
    {
        py::gil_scoped_release release;
        ScanComparison comparison(config, scan, instrument.offset, instrument.offset,
                                  instrument.resolution, instrument.resolution);
        problem = comparison.problem();
        if (problem.isEmpty() && !comparison.evaluate(config, instrument, out, control))
            problem = QStringLiteral("The curve of [%1] was not computed.").arg(config.fileName);
    }
    if (!problem.isEmpty())
        throw XrdError(s->shown(problem));
    return py::make_tuple(array(scan.theta), array(out.model));
}

py::tuple profile(const StructurePtr& s) {
    const ResultArrays& p = s->calculation().profile();
    return py::make_tuple(array(p.depth), array(p.inProfile), array(p.asProfile));
}

py::dict peaksOfScan(const std::shared_ptr<PyScan>& scan) {
    ScanAlone alone;
    {
        py::gil_scoped_release release;
        alone = analyseScanAlone(scan->path, scan->read);
    }
    if (!alone.ok)
        throw XrdError(alone.log.isEmpty() ? QStringLiteral("No peaks.") : alone.log.last());
    return peaksDict(alone.peaks, alone.log);
}

py::dict peaksOfArrays(const py::array_t<double, py::array::c_style | py::array::forcecast>& theta,
                       const py::array_t<double, py::array::c_style | py::array::forcecast>& i,
                       double wavelength, double substrateTheta) {
    const QVector<double> t = vectorOf(theta), y = vectorOf(i);
    if (t.size() != y.size())
        throw XrdError(QStringLiteral("theta and intensity differ in length."));
    PeakAnalysis p;
    {
        py::gil_scoped_release release;
        p = analysePeaks(t, y, wavelength, substrateTheta);
    }
    return peaksDict(p, peakLines(QStringLiteral("Peaks:"), p));
}

// What a fit found.
struct PyFitResult {
    FitReport report;
    QStringList table;
    StructurePtr fitted;
    std::vector<QString> targets;
};

std::shared_ptr<PyFitResult> fit(const StructurePtr& s, const std::optional<std::string>& scan,
                                 const std::optional<std::string>& choices,
                                 std::optional<unsigned> seed, std::optional<double> maxSeconds,
                                 int threads, bool weighted, bool peakStart) {
    const Config& config = s->config();
    FitSettings settings;
    settings.scanOverride = s->scanOverride();
    if (scan) {
        const QString path = QFileInfo(qstr(*scan)).absoluteFilePath();
        MeasuredSpec spec;
        QString problem;
        const QString words = choices ? qstr(*choices).simplified() : QString();
        if (!words.isEmpty() && !readMeasuredChoices(words.split(QLatin1Char(' ')), spec, problem))
            throw XrdError(QStringLiteral("The scan %1. [%2]").arg(problem, words));
        settings.scanOverride = scanOverrideWith(path, words);
    }
    settings.maxSeconds = 600.0;
    settings.peakStart = peakStart;
    settings.weighted = weighted;
    settings.threads = threads > 0 ? threads : defaultThreads();
    applyFitOptions(config, settings);
    if (seed)
        settings.seed = *seed;
    if (maxSeconds) {
        if (!(*maxSeconds > 0.0) || *maxSeconds > 1e9)
            throw XrdError(QStringLiteral("The time limit of a fit must be a number of seconds "
                                          "above 0. [%1]")
                               .arg(*maxSeconds));
        settings.maxSeconds = *maxSeconds;
    }
    QTemporaryDir out;
    if (!out.isValid())
        throw XrdError(QStringLiteral("Can't write [%1].").arg(out.path()));
    settings.outputDir = out.path();
    auto result = std::make_shared<PyFitResult>();
    QString problem;
    {
        py::gil_scoped_release release;
        StructureFit structureFit(config, settings);
        problem = structureFit.problem();
        if (problem.isEmpty())
            result->report = structureFit.run();
    }
    if (!problem.isEmpty())
        throw XrdError(s->shown(problem));
    FitReport& r = result->report;
    for (QString& line : r.log)
        line = s->shown(line);
    if (!r.ok)
        throw XrdError(r.log.isEmpty() ? QStringLiteral("The fit did not run.") : r.log.last());
    result->table = fitTable(r);
    for (const FitParameter& p : config.ext.fits)
        result->targets.push_back(p.text);
    const QString name = s->path().isEmpty() ? QString() : QFileInfo(r.fittedFile).fileName();
    result->fitted = PyStructure::fromText(readBytes(r.fittedFile), s->directory(), name);
    return result;
}

} // namespace

PYBIND11_MODULE(_xrdsim, m) {
    m.doc() = "X-ray diffraction of epitaxial multilayers: the structure, the calculation, the "
              "scan readers, the peak analysis and the fit of xrdsim-batch.";
    static py::exception<XrdError> error(m, "Error", PyExc_ValueError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const XrdError& e) {
            error(e.what());
        }
    });
    m.attr("__version__") = XRDSIM_VERSION;

    py::class_<PyStructure, StructurePtr>(
        m, "Structure",
        "A structure file as the program reads it. Structure(path) reads a file; "
        "Structure.from_string(text, directory=None) reads a text (relative MEASURED names are "
        "found in `directory`, by default the current folder). Every setter edits the text "
        "in place, keeping every other byte, and loads it again; a text that is not a valid "
        "structure raises xrdsim.Error with the loader's line.")
        .def(py::init([](const std::string& path) { return PyStructure::fromFile(path); }),
             py::arg("path"))
        .def_static(
            "from_string",
            [](const std::string& text, const std::optional<std::string>& directory,
               const std::optional<std::string>& name) {
                return PyStructure::fromText(
                    QByteArray::fromStdString(text),
                    directory ? QFileInfo(qstr(*directory)).absoluteFilePath() : QString(),
                    name ? qstr(*name) : QString());
            },
            py::arg("text"), py::arg("directory") = py::none(), py::arg("name") = py::none(),
            "A structure from its text.")
        .def_property(
            "text",
            [](const PyStructure& s) {
                return py::bytes(s.text().toStdString()).attr("decode")("utf-8", "replace");
            },
            [](PyStructure& s, const std::string& text) {
                s.setText(QByteArray::fromStdString(text));
            },
            "The structure file's text; setting it loads the new text.")
        .def_property_readonly(
            "path",
            [](const PyStructure& s) -> py::object {
                if (s.path().isEmpty())
                    return py::none();
                return py::str(s.path().toStdString());
            },
            "The file it was read from, or None.")
        .def_property_readonly(
            "log", [](const PyStructure& s) { return strings(s.log() + s.scanLog()); },
            "The loader's lines (notes, problems with statements).")
        .def_property_readonly(
            "wavelength", [](const PyStructure& s) { return s.config().wavelength; }, "Å.")
        .def_property_readonly(
            "repeat", [](const PyStructure& s) { return s.config().repeat; },
            "Periods of the stack.")
        .def_property_readonly(
            "substrate",
            [](const PyStructure& s) {
                return py::make_tuple(s.config().substrate.inFraction,
                                      s.config().substrate.asFraction);
            },
            "The substrate's (x, y).")
        .def_property_readonly(
            "layers",
            [](const PyStructure& s) {
                py::list out;
                for (const Layer& l : s.config().layers)
                    out.append(layerDict(l));
                return out;
            },
            "The layers of one period in file order, each a dict (monolayers, x, y and the "
            "grading at both ends).")
        .def(
            "set_layer",
            [](PyStructure& s, int layer, std::optional<double> monolayers, std::optional<double> x,
               std::optional<double> y) {
                s.edit(
                    [&](StructureText& t) {
                        const int i = layer - 1;
                        return (!monolayers ||
                                t.setLayerNumber(i, StructureText::Monolayers, *monolayers)) &&
                               (!x || t.setLayerNumber(i, StructureText::InFraction, *x)) &&
                               (!y || t.setLayerNumber(i, StructureText::AsFraction, *y));
                    },
                    QStringLiteral("There is no LAYER line %1, or a value is not finite.")
                        .arg(layer));
            },
            py::arg("layer"), py::arg("monolayers") = py::none(), py::arg("x") = py::none(),
            py::arg("y") = py::none(),
            "Writes the thickness (monolayers), x or y of LAYER line `layer` (1-based).")
        .def_property_readonly(
            "model",
            [](const PyStructure& s) { return modelName(s.config().ext.model).toStdString(); },
            "basic, kinematical or dynamical.")
        .def_property_readonly(
            "reflection",
            [](const PyStructure& s) {
                const Reflection& r = s.config().ext.reflection;
                return py::make_tuple(r.h, r.k, r.l);
            },
            "The reflection (h, k, l) of the realistic models.")
        .def_property_readonly(
            "instrument",
            [](const PyStructure& s) {
                const StructureExtensions& e = s.config().ext;
                py::dict d;
                d["offset"] = e.offset;
                d["resolution"] = e.resolution;
                d["scale"] = e.scaleGiven ? py::object(py::float_(e.scale)) : py::none();
                d["background"] =
                    e.backgroundGiven ? py::object(py::float_(e.background)) : py::none();
                return d;
            },
            "OFFSET, RESOLUTION, SCALE and BACKGROUND (None: solved against the scan).")
        .def(
            "set_instrument",
            [](PyStructure& s, const std::string& keyword, double value) {
                s.edit(
                    [&](StructureText& t) {
                        return t.setStatement(qstr(keyword).toUpper(), value);
                    },
                    QStringLiteral("Can't write %1 %2.").arg(qstr(keyword)).arg(value));
            },
            py::arg("keyword"), py::arg("value"), "Writes OFFSET, RESOLUTION, SCALE or BACKGROUND.")
        .def_property_readonly(
            "measured",
            [](const PyStructure& s) {
                py::list out;
                for (const MeasuredSpec& spec : s.config().ext.measured)
                    out.append(py::make_tuple(
                        QDir(s.directory()).absoluteFilePath(spec.file).toStdString(),
                        measuredChoicesText(spec).toStdString()));
                return out;
            },
            "The MEASURED scans: (absolute path, import choices).")
        .def_property_readonly(
            "fits",
            [](const PyStructure& s) {
                py::list out;
                for (const FitParameter& p : s.config().ext.fits)
                    out.append(py::make_tuple(p.text.toStdString(), p.min, p.max));
                return out;
            },
            "The FIT lines: (target, min, max).")
        .def(
            "set_fit",
            [](PyStructure& s, const std::string& target, double min, double max) {
                s.edit([&](StructureText& t) { return t.setFit(qstr(target), min, max); },
                       QStringLiteral("Can't write FIT %1 %2 %3.")
                           .arg(qstr(target))
                           .arg(min)
                           .arg(max));
            },
            py::arg("target"), py::arg("min"), py::arg("max"),
            "Writes the range of a FIT line (adding one when the target has none).")
        .def(
            "remove_fit",
            [](PyStructure& s, const std::string& target) {
                s.edit([&](StructureText& t) { return t.removeFit(qstr(target)) > 0; },
                       QStringLiteral("There is no FIT line of %1.").arg(qstr(target)));
            },
            py::arg("target"), "Removes the FIT lines of a target.")
        .def(
            "write",
            [](const PyStructure& s, const std::string& path) {
                QSaveFile out(qstr(path));
                if (!out.open(QIODevice::WriteOnly) || out.write(s.text()) != s.text().size() ||
                    !out.commit())
                    throw XrdError(QStringLiteral("Can't write [%1].").arg(qstr(path)));
            },
            py::arg("path"), "Writes the text into a file (whole or not at all).")
        .def(py::pickle(
            [](const PyStructure& s) {
                return py::make_tuple(py::bytes(s.text().toStdString()),
                                      s.directory().toStdString(),
                                      QFileInfo(s.file()).fileName().toStdString());
            },
            [](const py::tuple& t) {
                if (t.size() != 3)
                    throw XrdError(QStringLiteral("Not a pickled structure."));
                return PyStructure::fromText(QByteArray::fromStdString(t[0].cast<std::string>()),
                                             qstr(t[1].cast<std::string>()),
                                             qstr(t[2].cast<std::string>()));
            }))
        .def("__repr__", [](const PyStructure& s) {
            return QStringLiteral("<xrdsim.Structure %1: %2 layers, %3 model>")
                .arg(s.path().isEmpty() ? QStringLiteral("(text)") : s.path())
                .arg(s.config().layers.size())
                .arg(modelName(s.config().ext.model))
                .toStdString();
        });

    py::class_<PyScan, std::shared_ptr<PyScan>>(m, "Scan", "A measured scan as read_scan read it.")
        .def_property_readonly(
            "theta", [](const PyScan& s) { return array(s.read.scan.theta); },
            "Bragg angles, degrees, ascending.")
        .def_property_readonly(
            "intensity", [](const PyScan& s) { return array(s.read.scan.intensity); },
            "Counts per second.")
        .def_property_readonly(
            "counting_time", [](const PyScan& s) { return array(s.read.scan.countingTime); },
            "Seconds per point (empty when the file does not say).")
        .def_property_readonly(
            "wavelength", [](const PyScan& s) { return s.read.scan.wavelength; },
            "Å; NaN when the file gives none.")
        .def_property_readonly(
            "axis", [](const PyScan& s) { return s.read.scan.axis.toStdString(); },
            "What theta was taken from: omega or 2theta/2.")
        .def_property_readonly("format",
                               [](const PyScan& s) { return s.read.scan.format.toStdString(); })
        .def_property_readonly("path", [](const PyScan& s) { return s.path.toStdString(); })
        .def_property_readonly("scan_number",
                               [](const PyScan& s) { return s.read.scan.scanNumber; })
        .def_property_readonly("scan_count", [](const PyScan& s) { return s.read.scan.scanCount; })
        .def_property_readonly("notes", [](const PyScan& s) { return strings(s.read.scan.notes); })
        .def("__len__", [](const PyScan& s) { return s.read.scan.theta.size(); });

    py::class_<PyFitResult, std::shared_ptr<PyFitResult>>(m, "FitResult", "What a fit found.")
        .def_property_readonly(
            "targets",
            [](const PyFitResult& r) {
                py::list out;
                for (const QString& t : r.targets)
                    out.append(t.toStdString());
                return out;
            },
            "The FIT targets, in the order of the FIT lines.")
        .def_property_readonly("values",
                               [](const PyFitResult& r) { return array(r.report.outcome.best); })
        .def_property_readonly(
            "sigma", [](const PyFitResult& r) { return array(r.report.outcome.sigma); },
            "Standard uncertainties.")
        .def_property_readonly("start",
                               [](const PyFitResult& r) {
                                   std::vector<double> v;
                                   for (const FitRow& row : r.report.rows)
                                       v.push_back(row.start);
                                   return array(v);
                               })
        .def_property_readonly(
            "at_bound",
            [](const PyFitResult& r) {
                py::list out;
                for (bool b : r.report.outcome.atBound)
                    out.append(b);
                return out;
            },
            "Whether each value ended at a bound of its range.")
        .def_property_readonly(
            "correlations",
            [](const PyFitResult& r) {
                py::list out;
                for (const auto& c : r.report.outcome.strongCorrelations)
                    out.append(py::make_tuple(r.targets[std::size_t(std::get<0>(c))].toStdString(),
                                              r.targets[std::size_t(std::get<1>(c))].toStdString(),
                                              std::get<2>(c)));
                return out;
            },
            "Pairs correlated beyond |r| = 0.9: (target, target, r).")
        .def_property_readonly("agreement_before",
                               [](const PyFitResult& r) { return r.report.agreementBefore; })
        .def_property_readonly(
            "agreement", [](const PyFitResult& r) { return r.report.agreementAfter; },
            "The agreement figure at the fitted values.")
        .def_property_readonly(
            "flags",
            [](const PyFitResult& r) {
                const FitOutcome& o = r.report.outcome;
                py::dict d;
                d["stopped"] = o.stopped;
                d["timed_out"] = o.timedOut;
                d["converged"] = o.converged;
                d["from_guess"] = o.fromGuess;
                return d;
            },
            "How the search ended.")
        .def_property_readonly("evaluations",
                               [](const PyFitResult& r) { return r.report.outcome.evaluations; })
        .def_property_readonly("generations",
                               [](const PyFitResult& r) { return r.report.outcome.generations; })
        .def_property_readonly("seconds",
                               [](const PyFitResult& r) { return r.report.outcome.seconds; })
        .def_property_readonly(
            "structure", [](const PyFitResult& r) { return r.fitted; },
            "The fitted structure (the text the batch tool writes into "
            "NAME-fitted.EXT).")
        .def_property_readonly("log", [](const PyFitResult& r) { return strings(r.report.log); })
        .def_property_readonly(
            "table", [](const PyFitResult& r) { return strings(r.table); },
            "The batch tool's table of parameters.");

    m.def("simulate", &simulate, py::arg("structure"), py::arg("theta") = py::none(),
          py::arg("threads") = 0,
          "(theta, intensity) of the structure's curve: without `theta` the curve of its "
          "NAME-dif file (degrees, the model's unit); with `theta` (ascending degrees) the "
          "model as compared with a scan at those angles (offset, resolution; scale 1 and no "
          "background unless the structure sets them). `threads` 0: every core.");
    m.def("profile", &profile, py::arg("structure"),
          "(depth in Å, x, y) of one period, one entry per monolayer plus the closing one: "
          "the NAME-cmp file.");
    m.def("read_scan", &readScan, py::arg("path"), py::arg("axis") = py::none(),
          py::arg("window") = py::none(), py::arg("scan") = 0,
          "Reads a measured scan of any format the program reads (XRDML, X00, UXD, RAS, text). "
          "Import choices: axis='2theta' or 'omega', window=(from, to) in degrees of that "
          "axis, scan=n of a file holding several.");
    m.def("peaks", &peaksOfScan, py::arg("scan"),
          "The peak analysis of a scan read alone (the strongest point taken as the "
          "substrate's; the file's wavelength or Cu K-alpha-1).");
    m.def("peaks", &peaksOfArrays, py::arg("theta"), py::arg("intensity"), py::arg("wavelength"),
          py::arg("substrate_theta"), "The peak analysis of a curve given as arrays.");
    m.def("fit", &fit, py::arg("structure"), py::arg("scan") = py::none(),
          py::arg("choices") = py::none(), py::arg("seed") = py::none(),
          py::arg("max_seconds") = py::none(), py::arg("threads") = 0, py::arg("weighted") = false,
          py::arg("peak_start") = true,
          "Fits the FIT parameters of the structure to its MEASURED scans (or to `scan`, "
          "taken with `choices` in the words of a MEASURED line) as xrdsim-batch --fit does; "
          "seed and max_seconds override the FITOPTIONS line. The same seed gives the same "
          "result whatever the thread count.");
}
