#include "regularfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace NvImage {

namespace {

FileStatus statusOf(const struct stat &info)
{
    FileStatus status;
    if (S_ISREG(info.st_mode)) {
        status.kind = FileStatus::Regular;
        status.size = qint64(info.st_size);
    } else if (S_ISDIR(info.st_mode)) {
        status.kind = FileStatus::Folder;
    } else {
        status.kind = FileStatus::Other;
    }
    return status;
}

FileStatus unreachable(int error)
{
    FileStatus status;
    status.kind = FileStatus::Unreachable;
    status.error = error;
    return status;
}

} // namespace

QString FileStatus::reason() const
{
    return qt_error_string(error);
}

bool FileStatus::missing() const
{
    return kind == Unreachable && (error == ENOENT || error == ENOTDIR);
}

FileStatus fileStatus(const QString &path)
{
    if (path.isEmpty())
        return unreachable(ENOENT);
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) != 0)
        return unreachable(errno);
    return statusOf(info);
}

int openRegularFile(const QString &path, FileStatus *status)
{
    *status = fileStatus(path);
    if (status->kind != FileStatus::Regular)
        return -1;
    // O_NONBLOCK: the path may have become a FIFO since the stat above.
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *status = unreachable(errno);
        return -1;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        *status = unreachable(errno);
        ::close(fd);
        return -1;
    }
    *status = statusOf(info);
    if (status->kind != FileStatus::Regular) {
        ::close(fd);
        return -1;
    }
    // Reads of a regular file never wait; clear the flag all the same.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace NvImage
