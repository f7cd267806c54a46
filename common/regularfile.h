#pragma once

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
