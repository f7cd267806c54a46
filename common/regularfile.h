#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QFile;

// Opens `name` for reading only when it is a regular file: the one guard of every reader of
// outside files. A named pipe would block until some writer appears, a device may never end,
// and a folder is no file. O_NONBLOCK keeps open() itself from waiting on a pipe, and the type
// is checked on the opened descriptor, so a file swapped between a check by name and the open
// cannot slip through. On failure `file` stays closed and `reason` (when given) says why in a
// few words ("the file does not exist", "it is a folder, not a file", ...); on success `size`
// (when given) holds the file's size in bytes.
bool openRegularFile(QFile& file, const QString& name, QString* reason = nullptr,
                     qint64* size = nullptr);

// What tells one version of a file from another without reading it: device, inode, size and
// modification time (in nanoseconds). A save by another program (a new file renamed into
// place, or the old one written over) changes at least one of them.
struct FileIdentity {
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modified = 0; // ns since the epoch
    bool operator==(const FileIdentity& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified == o.modified;
    }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// The identity of the file `name` now (not through a symbolic link's target: a link is its
// own file); `exists` false when there is none.
FileIdentity fileIdentity(const QString& name);

// Reads the whole of `name` when it is a regular file of at most `maxBytes` bytes, with the
// identity of what was read (taken on the opened file). False with `reason` (when given) in a
// few words otherwise; a file that grows while it is read past `maxBytes` is refused too.
bool readRegularFile(const QString& name, qint64 maxBytes, QByteArray& bytes,
                     QString* reason = nullptr, FileIdentity* identity = nullptr);
