#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Watches the structure file on show and its scan. An editor's save arrives as several
// changes (truncate, write, rename; or delete, then write), so the changes are gathered until
// the files have been quiet for a moment, and a save by writing a new file and renaming it
// over the old one (which leaves the watch on the old file) is followed by watching every
// path afresh. A file that stays missing over several pauses is gone for good. Owned by the
// document.
class FileWatch : public QObject {
    Q_OBJECT
public:
    explicit FileWatch(QObject* parent = nullptr);

    // Watches these paths (made absolute; empty ones skipped) instead of the earlier ones.
    void watch(const QStringList& paths);

    bool watching(const QString& path) const;

signals:
    // The watched files that changed and are there, once all of them were quiet for a moment.
    void changed(const QStringList& paths);
    // A watched file that stayed missing: it is watched no more.
    void gone(const QString& path);

private:
    void touched(const QString& path);
    void settle();

    QFileSystemWatcher watcher_;
    QStringList watched_;
    QStringList touched_;
    QTimer quiet_;
    int missingChecks_ = 0;
};
