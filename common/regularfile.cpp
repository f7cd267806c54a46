#include "common/regularfile.h"

#include <QCoreApplication>
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
