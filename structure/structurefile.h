#pragma once

#include "common/regularfile.h"
#include "structure/structuretext.h"

#include <QByteArray>
#include <QString>

#include <functional>

// One structure file as read from the disk, once: its bytes, its text and the identity of
// what was read (regular files only, at most maxBytes). It is the only writer of the file:
// edit() changes tokens of the text and replaces the file atomically, never through a link,
// and only while the file on disk is still the one the edit was made against.
class StructureFile {
public:
    // Larger files are neither read here nor edited.
    static constexpr qint64 maxBytes = qint64(64) << 20;

    StructureFile() = default;
    explicit StructureFile(const QString& path) { read(path); }

    // Reads `path`; false (error() says why, as the end of a log line) when it cannot.
    bool read(const QString& path);

    const QString& path() const { return path_; }
    bool isRead() const { return read_; }
    const QString& error() const { return error_; }
    const QByteArray& bytes() const { return bytes_; }
    const StructureText& text() const { return text_; }
    const FileIdentity& identity() const { return identity_; }

    // How an edit went: written; left alone because it changed nothing; refused because
    // the file on disk is not the one shown (another program changed what the edit names:
    // the caller shows the file again); or failed, with the line for the log.
    struct Edit {
        enum Result { Written, Unchanged, Stale, Failed };
        Result result = Failed;
        QString message;
    };

    // Applies `change` to the text and writes the result. The file is read again first:
    // when another program changed it since it was read, the edit goes into the new text
    // only when that still has the same LAYER lines (an inserted layer would otherwise take
    // the value meant for another), else Stale. Refused (Failed, nothing written) when
    // `change` returns false, when the text does not encode back to its own bytes, when the
    // result differs from the text in more than the characters the edit replaced, or when
    // the file changes between that reading and the rename. After a write this object
    // holds what was written.
    Edit edit(const std::function<bool(StructureText&)>& change);

private:
    QString path_;
    bool read_ = false;
    QString error_;
    QByteArray bytes_;
    StructureText text_;
    FileIdentity identity_;
};
