#include "common/safefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Files", text);
}

// The name of a new temporary file beside `path`: hidden, and unlike any result's name.
QString temporaryNameFor(const QString& path) {
    const QFileInfo info(path);
    return info.absoluteDir().absoluteFilePath(
        QStringLiteral(".%1.%2.part")
            .arg(info.fileName())
            .arg(QRandomGenerator::global()->generate() & 0xffffffu, 6, 16, QLatin1Char('0')));
}

} // namespace

QString writeRefusal(const QString& path) {
    if (path.isEmpty())
        return tr("no file name was given");
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0)
        return QString(); // a new file: whether its folder takes it shows when it is made
    if (S_ISLNK(info.st_mode))
        return tr("it is a symbolic link; it was left as it is");
    if (S_ISDIR(info.st_mode))
        return tr("it is a folder");
    if (!S_ISREG(info.st_mode))
        return tr("it is not a regular file");
    if (::access(name.constData(), W_OK) != 0)
        return tr("the file is read-only");
#else
    const QFileInfo info(path);
    if (info.isSymLink())
        return tr("it is a symbolic link; it was left as it is");
    if (!info.exists())
        return QString();
    if (info.isDir())
        return tr("it is a folder");
    if (!info.isFile())
        return tr("it is not a regular file");
    if (!info.isWritable())
        return tr("the file is read-only");
#endif
    return QString();
}

SafeFile::SafeFile(QString path) : path_(std::move(path)) {}

SafeFile::~SafeFile() {
    discard();
}

bool SafeFile::open(OpenMode mode) {
    if (isOpen() || (mode & ~(Text | Truncate)) != WriteOnly) {
        error_ = tr("the file was not opened for writing alone");
        return false;
    }
    failed_ = false;
    error_ = writeRefusal(path_);
    if (!error_.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    // A new file gets what the user's umask leaves of 0666, as any new file; a replaced one
    // keeps its permissions.
    struct stat old {};
    const bool replacing = ::stat(QFile::encodeName(path_).constData(), &old) == 0;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary_ = temporaryNameFor(path_);
        fd = ::open(QFile::encodeName(temporary_).constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, replacing ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int error = errno;
        error_ = tr("the folder does not take a new file (%1)").arg(qt_error_string(error));
        temporary_.clear();
        return false;
    }
    if (replacing)
        ::fchmod(fd, old.st_mode & 07777);
    if (!file_.open(fd, WriteOnly | Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        discard();
        error_ = tr("the new file cannot be opened");
        return false;
    }
#else
    temporary_ = temporaryNameFor(path_);
    file_.setFileName(temporary_);
    if (!file_.open(WriteOnly | NewOnly | Unbuffered)) {
        error_ = file_.errorString();
        temporary_.clear();
        return false;
    }
#endif
    return QIODevice::open(WriteOnly | Unbuffered);
}

qint64 SafeFile::readData(char* /*data*/, qint64 /*maxSize*/) {
    return -1;
}

qint64 SafeFile::writeData(const char* data, qint64 size) {
    if (failed_)
        return -1;
    const qint64 written = file_.write(data, size);
    if (written != size) {
        failed_ = true;
        error_ = file_.errorString();
        return -1;
    }
    return written;
}

void SafeFile::cancelWriting() {
    if (!failed_)
        error_ = tr("the writing was cancelled");
    failed_ = true;
}

void SafeFile::discard() {
    if (file_.isOpen())
        file_.close();
    if (!temporary_.isEmpty())
        QFile::remove(temporary_);
    temporary_.clear();
    if (isOpen())
        QIODevice::close();
}

bool SafeFile::commit() {
    if (!isOpen() || temporary_.isEmpty()) {
        if (error_.isEmpty())
            error_ = tr("the file was not opened");
        return false;
    }
    bool ok = !failed_;
#ifdef Q_OS_UNIX
    // A full disk may show only when the data reach it. A file system that cannot sync
    // (EINVAL) has nothing to report.
    if (ok && ::fsync(file_.handle()) != 0 && errno != EINVAL) {
        error_ = qt_error_string(errno);
        ok = false;
    }
#endif
    file_.close();
    if (ok && file_.error() != QFileDevice::NoError) {
        error_ = file_.errorString();
        ok = false;
    }
    // A link or a folder put in the file's place meanwhile is refused as one found first.
    if (ok) {
        error_ = writeRefusal(path_);
        ok = error_.isEmpty();
    }
    // Another program's save since the caller read the file is not replaced unseen.
    if (ok && expected_.exists && fileIdentity(path_) != expected_) {
        error_ = tr("it changed on disk since it was read");
        ok = false;
    }
#ifdef Q_OS_UNIX
    if (ok && ::rename(QFile::encodeName(temporary_).constData(),
                       QFile::encodeName(path_).constData()) != 0) {
        error_ = qt_error_string(errno);
        ok = false;
    }
#else
    if (ok) {
        QFile::remove(path_);
        ok = QFile::rename(temporary_, path_);
    }
#endif
    if (ok)
        temporary_.clear();
    discard();
    return ok;
}

bool writeFileSafely(const QString& path, const QByteArray& bytes) {
    SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size())
        file.cancelWriting();
    return file.commit();
}
