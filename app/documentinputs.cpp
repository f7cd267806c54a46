// What the document is handed and what it watches: a dropped or chosen file (a scan, compared
// with the structure on show or shown alone, or a structure), and the changes on disk of the
// files on show.
#include "app/document.h"

#include "analysis/scanalone.h"
#include "analysis/scanroad.h"
#include "app/filewatch.h"
#include "measured/readers.h"
#include "report/scanoverlay.h"
#include "structure/structurefile.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// A structure-file token for a path: quoted when it holds white space or a quote mark.
QString fileToken(const QString& path) {
    const bool plain = std::none_of(path.cbegin(), path.cend(), [](QChar c) {
        return c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('#');
    });
    return plain ? path : QStringLiteral("\"%1\"").arg(path);
}

} // namespace

// A file that a scan reader recognises is a measured scan, compared with the structure on
// show; anything else (a folder or a device too, which the loader refuses) takes the
// structure road. No structure file looks like a scan to the readers.
void Document::openDropped(const QString& path, const QString& choices) {
    // Read once: the bytes are probed as a scan and, when they are none, loaded as the
    // structure.
    const auto file = std::make_shared<const StructureFile>(path);
    const QByteArray* bytes = file->isRead() ? &file->bytes() : nullptr;
    ScanReadResult probe = bytes ? readScanBytes(*bytes, path) : readScanFile(path);
    MeasuredSpec spec;
    QString problem;
    if (probe.ok && !choices.isEmpty()) {
        // The choices are tried on the file now, so that a window holding no points says so
        // at once rather than after the calculation.
        if (!overrideChoices(scanOverrideWith(path, choices), spec, problem)) {
            log(tr("Can't read scan [%1]: it %2.").arg(path, problem));
            return;
        }
        ScanReadOptions options;
        options.axis = ScanReadOptions::Axis(spec.axis);
        options.scanNumber = spec.scanNumber;
        options.windowGiven = spec.windowGiven;
        options.from = spec.from;
        options.to = spec.to;
        probe = bytes ? readScanBytes(*bytes, path, options) : readScanFile(path, options);
    }
    if (!probe.recognised) {
        startRoad({path, QString(), Origin::Opened, QString(), file});
        return;
    }
    if (!probe.ok) {
        log(probe.error);
        return;
    }
    if (current_.isEmpty()) {
        showScanAlone(path, probe);
        return;
    }
    const QString scan = QFileInfo(path).absoluteFilePath();
    const QString words = choices.simplified();
    startRoad({current_, scanOverrideWith(scan, words), Origin::Opened,
               tr("Add the line MEASURED %1 to the structure file to keep it.")
                   .arg(words.isEmpty() ? fileToken(scan) : fileToken(scan) + ' ' + words),
               nullptr});
}

// The scan alone, with the peaks found in it marked; the structure road is not taken, and
// nothing is written.
void Document::showScanAlone(const QString& path, const ScanReadResult& read) {
    const ScanAlone alone = analyseScanAlone(path, read);
    for (const QString& line : alone.log)
        log(line);
    if (!alone.ok)
        return;
    const bool arrived = !overlay_ || overlayScan_ != alone.scan.fileName;
    overlay_ = overlayOf(alone);
    overlayScan_ = alone.scan.fileName;
    aloneScan_ = QFileInfo(path).absoluteFilePath();
    if (!keepScale_)
        emit freshRanges();
    emit curveChanged();
    emit currentFileChanged(path);
    emit opened(path);
    if (arrived)
        emit scanArrived();
    emit status(tr("%1 measured points, no structure").arg(alone.scan.theta.size()));
    emit actionsChanged();
}

// The structure file on show changed on disk (or its scan did): it is computed again with the
// ranges kept.
void Document::changedOnDisk(const QStringList& paths) {
    if (current_.isEmpty() || !watch_->watching(current_))
        return;
    const QString structure = QFileInfo(current_).absoluteFilePath();
    const QString why = paths.contains(structure)
                            ? tr("[%1] changed on disk").arg(current_)
                            : tr("its scan [%1] changed on disk").arg(paths.value(0));
    abandonFit(why);
    log(paths.contains(structure)
            ? tr("Reloading [%1]: it changed on disk.").arg(current_)
            : tr("Reloading [%1]: its scan [%2] changed on disk.").arg(current_, paths.value(0)));
    startRoad({current_, currentScan_, Origin::ChangedOnDisk, QString(), nullptr});
}

// A file gone for good is said; what is shown stays, and a fit on it writes nothing.
void Document::goneFromDisk(const QString& path) {
    log(tr("Stopped watching [%1]: it is gone.").arg(path));
    abandonFit(tr("[%1] is gone").arg(path));
}
