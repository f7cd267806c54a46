#pragma once

#include "common/regularfile.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

// A file written whole or not at all, the one way this program writes a file. The bytes go
// to a new temporary file beside `path` (created with the permissions a new file gets, or
// the old file's), which commit() flushes to the disk and renames over `path` in one step:
// a crash, a kill or a full disk leaves either the old file or the new one, never a mix.
//
// Unlike QSaveFile it never writes through a symbolic link (existing or dangling): the link
// is refused and stays as it is, as does what it points to. It never falls back to writing
// the old file in place, and it refuses a path that is a folder or another non-regular file
// and an existing file the user may not write. error() then says why, as the end of a log
// line ("it is a symbolic link").
//
// Usable as any QIODevice while open (QImage::save, QSvgGenerator, QTextStream). A
// SafeFile destroyed without commit() removes its temporary file and changes nothing.
class SafeFile : public QIODevice {
public:
    explicit SafeFile(QString path);
    ~SafeFile() override;
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Only QIODevice::WriteOnly (with Text, which changes nothing on this system) is accepted.
    bool open(OpenMode mode) override;
    // Writes the file: true when it now holds exactly what was written.
    bool commit();
    // Drops what was written; commit() then fails and nothing changes.
    void cancelWriting();
    QString fileName() const { return path_; }
    // commit() renames only while `path` is still the file `identity` describes (a file
    // another program saved meanwhile is never replaced unseen); error() then says so.
    void expectIdentity(const FileIdentity& identity) { expected_ = identity; }
    QString error() const { return error_; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    void discard();
    QString path_;
    QString temporary_;
    QFile file_;
    QString error_;
    bool failed_ = false;
    FileIdentity expected_;
};

// Why `path` may not be written as a result (its end of a log line: "it is a symbolic
// link", "it is a folder"...), or an empty string when it may: the checks SafeFile makes
// before it writes, for a caller that wants to refuse before any work.
QString writeRefusal(const QString& path);

// Writes `bytes` to `path` through a SafeFile; false (the old file unchanged) on failure.
bool writeFileSafely(const QString& path, const QByteArray& bytes);
