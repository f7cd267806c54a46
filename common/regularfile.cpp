#include "common/regularfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Scan", text);
}

bool fail(QString* reason, const QString& why) {
    if (reason)
        *reason = why;
    return false;
}

} // namespace

bool openRegularFile(QFile& file, const QString& name, QString* reason, qint64* size) {
    if (name.isEmpty())
        return fail(reason, tr("no file name was given"));
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(name);
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return fail(reason, error == ENOENT
                                ? tr("the file does not exist")
                                : tr("the file cannot be opened (%1)").arg(qt_error_string(error)));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        ::close(fd);
        return fail(reason, folder ? tr("it is a folder, not a file")
                                   : tr("it is not a regular file (a pipe, a device or a "
                                        "socket)"));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(reason, tr("the file cannot be opened"));
    }
    if (size)
        *size = info.st_size;
    return true;
#else
    const QFileInfo info(name);
    if (!info.exists())
        return fail(reason, tr("the file does not exist"));
    if (!info.isFile())
        return fail(reason, info.isDir() ? tr("it is a folder, not a file")
                                         : tr("it is not a regular file"));
    file.setFileName(name);
    if (!file.open(QIODevice::ReadOnly))
        return fail(reason, tr("the file cannot be opened"));
    if (size)
        *size = info.size();
    return true;
#endif
}

namespace {

#ifdef Q_OS_UNIX
FileIdentity identityOf(const struct stat& info) {
    FileIdentity id;
    id.exists = true;
    id.device = quint64(info.st_dev);
    id.inode = quint64(info.st_ino);
    id.size = qint64(info.st_size);
    id.modified = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + qint64(info.st_mtim.tv_nsec);
    return id;
}
#endif

} // namespace

FileIdentity fileIdentity(const QString& name) {
#ifdef Q_OS_UNIX
    struct stat info {};
    if (name.isEmpty() || ::lstat(QFile::encodeName(name).constData(), &info) != 0)
        return FileIdentity();
    return identityOf(info);
#else
    const QFileInfo info(name);
    FileIdentity id;
    if (!info.exists())
        return id;
    id.exists = true;
    id.size = info.size();
    id.modified = info.lastModified().toMSecsSinceEpoch() * 1'000'000;
    return id;
#endif
}

bool readRegularFile(const QString& name, qint64 maxBytes, QByteArray& bytes, QString* reason,
                     FileIdentity* identity) {
    QFile file;
    qint64 size = 0;
    if (!openRegularFile(file, name, reason, &size))
        return false;
    if (size > maxBytes)
        return fail(reason, tr("it is larger than %1 MB").arg(maxBytes >> 20));
#ifdef Q_OS_UNIX
    struct stat info {};
    if (identity) {
        if (::fstat(file.handle(), &info) != 0)
            return fail(reason, tr("the file cannot be opened"));
        *identity = identityOf(info);
    }
#else
    if (identity)
        *identity = fileIdentity(name);
#endif
    // One byte more than allowed shows a file that grew meanwhile.
    bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes)
        return fail(reason, tr("it is larger than %1 MB").arg(maxBytes >> 20));
    if (file.error() != QFileDevice::NoError)
        return fail(reason, tr("the file cannot be read (%1)").arg(file.errorString()));
    return true;
}
