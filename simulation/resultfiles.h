#pragma once

#include <QFile>
#include <QIODevice>
#include <QString>
#include <QVector>

struct Reflection;

// Absolute path of the result file with `tag` ("cmp" for the profile, "dif" for the curve)
// for the structure file `structureFile`: its complete base name, "-", the tag, ".", its
// last suffix, in its directory (made absolute against the working directory). When
// `outputDir` is given, the file goes there instead.
QString resultFileName(const QString& structureFile, const QString& tag,
                       const QString& outputDir = QString());

// The tag of the -meas file of a scan after the first (which keeps "meas"): "meas-" and the
// reflection's indices, three digits when each is a digit from 0 to 9 ("meas-224"), else the
// indices joined by "_" with "m" for a minus ("meas-m2_2_4", "meas-0_0_12"); an asymmetric
// reflection adds its grazing side ("meas-224-exit", "meas-115-incidence").
QString measuredResultTag(const Reflection& reflection);

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
};

// Why `path` may not be written as a result (its end of a log line: "it is a symbolic
// link", "it is a folder"...), or an empty string when it may: the checks SafeFile makes
// before it writes, for a caller that wants to refuse before any work.
QString writeRefusal(const QString& path);

// Writes `bytes` to `path` through a SafeFile; false (the old file unchanged) on failure.
bool writeFileSafely(const QString& path, const QByteArray& bytes);

// Writes the three arrays as tab-separated columns, one line per entry of the shortest, with
// numbers as a QTextStream with default settings writes them (6 significant digits; see
// numberformat.h). The file is written as a SafeFile: whole or not at all, never through a
// symbolic link. Returns false when the file could not be written; the previous file, if
// any, is then unchanged.
//
// `threads` formatting threads work on chunks of lines at once while the calling thread
// writes the chunks in order; 0 or less means one per core (QThread::idealThreadCount()),
// 1 formats everything on the calling thread. The file is the same for every thread count.
// Small files (a few thousand lines) are written by the calling thread alone.
// `digits` other than 6 writes that many significant digits (formatDoubleDigits).
bool writeColumns(const QString& path, const QVector<double>& first, const QVector<double>& second,
                  const QVector<double>& third, int threads = 0, int digits = 6);
