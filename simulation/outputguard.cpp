#include "simulation/outputguard.h"

#include "simulation/resultfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Files", text);
}

// Two arguments at once: a path holding "%1" is never read as a place for the next one.
QString cantWrite(const QString& path, const QString& why) {
    return tr("Can't write [%1]: %2.").arg(path, why);
}

QString notComputed(const QString& structure) {
    return tr("[%1] was not computed.").arg(structure);
}

} // namespace

QString plotFileName(const QString& structureFile, const QString& outputDir) {
    const QFileInfo info(structureFile);
    const QDir dir(outputDir.isEmpty() ? info.absolutePath() : outputDir);
    return QDir::cleanPath(dir.absoluteFilePath(info.completeBaseName() + "-plot.png"));
}

QStringList resultPaths(const QString& structureFile, const QString& outputDir, bool scan,
                        bool plot, bool fit) {
    return resultPaths(structureFile, outputDir,
                       scan ? QStringList{QStringLiteral("meas")} : QStringList(), plot, fit);
}

QStringList resultPaths(const QString& structureFile, const QString& outputDir,
                        const QStringList& measTags, bool plot, bool fit) {
    QStringList paths;
    const auto add = [&](const QString& file) {
        paths << resultFileName(file, QStringLiteral("cmp"), outputDir)
              << resultFileName(file, QStringLiteral("dif"), outputDir);
        for (const QString& tag : measTags)
            paths << resultFileName(file, tag, outputDir);
        if (plot)
            paths << plotFileName(file, outputDir);
    };
    add(structureFile);
    if (fit) {
        const QString fitted = resultFileName(structureFile, QStringLiteral("fitted"), outputDir);
        paths << fitted;
        add(fitted);
    }
    return paths;
}

QString pathIdentity(const QString& path) {
    const QFileInfo info(path);
    QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        return QDir::cleanPath(info.absoluteFilePath());
    return QDir(folder).absoluteFilePath(info.fileName());
}

QVector<QStringList> refuseClashes(const QVector<RunFiles>& run) {
    QHash<QString, QString> inputs; // identity -> the input as named
    for (const RunFiles& file : run)
        for (const QString& input : file.inputs)
            if (!input.isEmpty())
                inputs.insert(pathIdentity(input), input);

    QVector<QStringList> refusals(run.size());
    QHash<QString, int> writtenBy; // identity of a result -> the file of the run that writes it
    for (int i = 0; i < run.size(); ++i) {
        const RunFiles& file = run[i];
        const QString self = pathIdentity(file.structure);
        QStringList& lines = refusals[i];
        for (const QString& output : file.outputs) {
            const QString id = pathIdentity(output);
            // A link is refused before anything else: it would otherwise also be followed
            // to its target to compare it with the inputs.
            if (QFileInfo(output).isSymLink())
                lines << tr("Can't write [%1]: it is a symbolic link; it was left as it is.")
                             .arg(output);
            else if (inputs.contains(id))
                lines << tr("Can't write [%1]: it is [%2], which this run reads.")
                             .arg(output, inputs.value(id));
            const auto earlier = writtenBy.constFind(id);
            if (earlier != writtenBy.constEnd() && pathIdentity(run[*earlier].structure) != self)
                lines << tr("Can't write [%1]: it holds the results of [%2], a file of the "
                            "same name.")
                             .arg(output, run[*earlier].structure);
        }
        if (!lines.isEmpty()) {
            lines << notComputed(file.structure);
            continue; // a refused file writes nothing, so it takes no name from a later one
        }
        for (const QString& output : file.outputs)
            writtenBy.insert(pathIdentity(output), i);
    }
    return refusals;
}

QStringList refuseRunOutput(const QString& output, const QVector<RunFiles>& run) {
    const QString refusal = writeRefusal(output);
    if (!refusal.isEmpty())
        return {cantWrite(output, refusal)};
    const QString id = pathIdentity(output);
    for (const RunFiles& file : run)
        for (const QString& input : file.inputs)
            if (!input.isEmpty() && pathIdentity(input) == id)
                return {
                    tr("Can't write [%1]: it is [%2], which this run reads.").arg(output, input)};
    for (const RunFiles& file : run)
        for (const QString& result : file.outputs)
            if (pathIdentity(result) == id)
                return {
                    tr("Can't write [%1]: it is a result of [%2].").arg(output, file.structure)};
    return {};
}
