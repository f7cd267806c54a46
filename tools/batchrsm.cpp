#include "tools/batchrsm.h"

#include "analysis/rsmroad.h"
#include "simulation/resultfiles.h"
#include "structure/config.h"
#include "views/mapview.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstring>
#include <memory>

namespace {

enum ExitStatus { Written = 0, NotWritten = 1, UsageError = 2 };

void say(const QString& line) {
    static QTextStream stream(stdout);
    stream << line << '\n';
    stream.flush();
}

void complain(const QString& line) {
    static QTextStream stream(stderr);
    stream << line << '\n';
    stream.flush();
}

QString tr(const char* text) {
    return QCoreApplication::translate("Batch", text);
}

// NAME-TAG.EXT beside the structure (its name and suffix), or beside the map with ".txt".
QString outputPath(const QString& map, const QString& structure, const QString& tag,
                   const QString& suffix, const QString& dir) {
    const QFileInfo base(structure.isEmpty() ? map : structure);
    const QString ext = !suffix.isEmpty()         ? suffix
                        : structure.isEmpty()     ? QStringLiteral("txt")
                        : base.suffix().isEmpty() ? QStringLiteral("txt")
                                                  : base.suffix();
    const QString folder = dir.isEmpty() ? base.absolutePath() : QDir(dir).absolutePath();
    return QDir(folder).filePath(base.completeBaseName() + '-' + tag + '.' + ext);
}

bool writeOut(const QString& path, const QByteArray& bytes) {
    const bool ok = writeFileSafely(path, bytes);
    say((ok ? tr("Wrote [%1].") : tr("Can't write [%1].")).arg(path));
    return ok;
}

} // namespace

bool wantsRsm(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--rsm") == 0 || std::strncmp(argv[i], "--rsm=", 6) == 0)
            return true;
    }
    return false;
}

int runRsm(int argc, char* argv[]) {
    std::unique_ptr<QTemporaryDir> runtimeDir;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        runtimeDir = std::make_unique<QTemporaryDir>();
        if (runtimeDir->isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir->path()));
    }
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("xrdsim-batch"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Reads the reciprocal-space map MAP and writes its image (NAME-rsm.png), its gridded "
           "map (NAME-rsmgrid.EXT) and its spot table (NAME-rsm.EXT), NAME and EXT from the "
           "structure when one is given, else from the map with .txt."));
    parser.addHelpOption();
    const QCommandLineOption rsm(QStringLiteral("rsm"), tr("The map file."), QStringLiteral("MAP"));
    const QCommandLineOption outputDir({QStringLiteral("o"), QStringLiteral("output-dir")},
                                       tr("Write the files into <dir>."), QStringLiteral("dir"));
    const QCommandLineOption grid(QStringLiteral("grid"),
                                  tr("Cells of the mesh (default from the number of points)."),
                                  QStringLiteral("NXxNZ"));
    const QCommandLineOption noAlign(QStringLiteral("no-align"),
                                     tr("Do not align the map on the substrate's spot; the "
                                        "structure's OFFSET is added to omega instead."));
    const QCommandLineOption size(QStringLiteral("plot-size"),
                                  tr("Size of the map image (default 800x700)."),
                                  QStringLiteral("WxH"), QStringLiteral("800x700"));
    for (const auto* o : {&rsm, &outputDir, &grid, &noAlign, &size})
        parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("STRUCTURE"), tr("The structure (optional)."),
                                 QStringLiteral("[STRUCTURE]"));
    if (!parser.parse(QCoreApplication::arguments())) {
        complain(parser.errorText());
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Written);
    const QStringList rest = parser.positionalArguments();
    const QString mapFile = parser.value(rsm);
    if (mapFile.isEmpty() || rest.size() > 1) {
        complain(tr("--rsm takes one map file and at most one structure file."));
        return UsageError;
    }
    RsmSettings settings;
    settings.align = !parser.isSet(noAlign);
    if (parser.isSet(grid)) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^(\\d{1,4})x(\\d{1,4})$")).match(parser.value(grid));
        settings.nx = m.hasMatch() ? m.captured(1).toInt() : 0;
        settings.nz = m.hasMatch() ? m.captured(2).toInt() : 0;
        if (settings.nx < 2 || settings.nz < 2 || settings.nx > 4000 || settings.nz > 4000) {
            complain(
                tr("The grid must be NXxNZ, each 2 to 4000 cells. [%1]").arg(parser.value(grid)));
            return UsageError;
        }
    }
    const QRegularExpressionMatch wh =
        QRegularExpression(QStringLiteral("^(\\d{1,4})x(\\d{1,4})$")).match(parser.value(size));
    const QSize imageSize =
        wh.hasMatch() ? QSize(wh.captured(1).toInt(), wh.captured(2).toInt()) : QSize();
    if (imageSize.width() < 50 || imageSize.height() < 50) {
        complain(tr("The plot size must be WIDTHxHEIGHT, each 50 to 9999 pixels. [%1]")
                     .arg(parser.value(size)));
        return UsageError;
    }
    const QString dir = parser.value(outputDir);
    if (!dir.isEmpty() && !QDir().mkpath(dir)) {
        complain(tr("Can't create the output folder [%1].").arg(dir));
        return UsageError;
    }

    const QString structureFile = rest.value(0);
    std::unique_ptr<Config> config;
    if (!structureFile.isEmpty()) {
        config = std::make_unique<Config>();
        QObject::connect(config.get(), &Config::log, &say);
        if (!config->load(structureFile) || !config->valid) {
            say(tr("Can't use the structure [%1].").arg(structureFile));
            return NotWritten;
        }
    }
    const AreaMapReadResult read = readAreaMapFile(mapFile);
    if (!read.ok) {
        say(read.error);
        return NotWritten;
    }
    MapPicture picture;
    picture.analysis = analyseMap(read.map, config.get(), settings);
    for (const QString& line : picture.analysis.log)
        say(line);
    if (!picture.analysis.ok) {
        say(picture.analysis.failure);
        return NotWritten;
    }
    picture.prepare();

    const QString table = outputPath(mapFile, structureFile, QStringLiteral("rsm"), QString(), dir);
    const QString gridded =
        outputPath(mapFile, structureFile, QStringLiteral("rsmgrid"), QString(), dir);
    const QString png =
        outputPath(mapFile, structureFile, QStringLiteral("rsm"), QStringLiteral("png"), dir);
    const QFileInfo mapInfo(mapFile);
    for (const QString& out : {table, gridded, png}) {
        const QString refusal = writeRefusal(out);
        if (QFileInfo(out).absoluteFilePath() == mapInfo.absoluteFilePath() ||
            (!structureFile.isEmpty() &&
             QFileInfo(out).absoluteFilePath() == QFileInfo(structureFile).absoluteFilePath()) ||
            !refusal.isEmpty()) {
            say(tr("Refused [%1]: %2.")
                    .arg(out, refusal.isEmpty() ? tr("it is an input") : refusal));
            return NotWritten;
        }
    }
    bool ok = writeOut(table, spotTable(picture.analysis));
    ok = writeOut(gridded, gridText(picture.analysis.grid)) && ok;
    QByteArray image;
    QBuffer buffer(&image);
    buffer.open(QIODevice::WriteOnly);
    renderMap(picture, imageSize).save(&buffer, "PNG");
    ok = writeOut(png, image) && ok;
    return ok ? Written : NotWritten;
}
