#include "app/filewatch.h"

#include <QFileInfo>

namespace {

// Quiet time after the last change on disk before it counts, so that an editor's truncate,
// write and rename arrive as one change; and how many such pauses a watched file may stay
// missing (a save by delete-and-write) before it counts as gone.
constexpr int kQuietMs = 250;
constexpr int kMissingChecks = 8;

} // namespace

FileWatch::FileWatch(QObject* parent) : QObject(parent) {
    quiet_.setSingleShot(true);
    quiet_.setInterval(kQuietMs);
    connect(&quiet_, &QTimer::timeout, this, &FileWatch::settle);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &FileWatch::touched);
}

void FileWatch::watch(const QStringList& paths) {
    QStringList wanted;
    for (const QString& p : paths)
        if (!p.isEmpty())
            wanted << QFileInfo(p).absoluteFilePath();
    wanted.removeDuplicates();
    if (!watcher_.files().isEmpty())
        watcher_.removePaths(watcher_.files());
    watched_ = wanted;
    touched_.clear();
    missingChecks_ = 0;
    for (const QString& p : qAsConst(watched_))
        if (QFileInfo::exists(p))
            watcher_.addPath(p);
}

bool FileWatch::watching(const QString& path) const {
    return !path.isEmpty() && watched_.contains(QFileInfo(path).absoluteFilePath());
}

void FileWatch::touched(const QString& path) {
    if (!touched_.contains(path))
        touched_ << path;
    quiet_.start();
}

// Every path is watched afresh; a file still missing waits for a few more pauses.
void FileWatch::settle() {
    QStringList missing;
    for (const QString& p : qAsConst(watched_)) {
        if (watcher_.files().contains(p))
            watcher_.removePath(p);
        if (QFileInfo::exists(p))
            watcher_.addPath(p);
        else
            missing << p;
    }
    if (!missing.isEmpty() && ++missingChecks_ < kMissingChecks) {
        quiet_.start();
        return;
    }
    missingChecks_ = 0;
    for (const QString& p : qAsConst(missing)) {
        watched_.removeAll(p);
        touched_.removeAll(p);
        emit gone(p);
    }
    QStringList changedPaths;
    for (const QString& p : qAsConst(touched_))
        if (watched_.contains(p))
            changedPaths << p;
    touched_.clear();
    if (!changedPaths.isEmpty())
        emit changed(changedPaths);
}
