#include "fileio.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// Opens path read-only when it is a regular file, without ever waiting on a FIFO or a
// device that was put in its place. The descriptor, or -1 with status telling why.
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

FileContent failed(FileContent::Outcome outcome, int error = 0)
{
    FileContent content;
    content.outcome = outcome;
    content.reason = qt_error_string(error);
    return content;
}

// Reads to the end, one byte past the size on disk so that a file that grows is seen, in
// pieces between which stop is asked.
FileContent readToEnd(int fd, qint64 sizeOnDisk, qint64 maxBytes, const StopCheck &stop)
{
    constexpr qint64 Piece = 4 * 1024 * 1024;
    // Room for the byte past the end from the start: a file that does not grow is read
    // without the buffer ever growing, and so without a second copy of it.
    QByteArray bytes(qsizetype(std::min(sizeOnDisk + 1, maxBytes + 1)), Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        if (stop && stop())
            return failed(FileContent::Stopped);
        if (done == bytes.size()) {
            if (done >= maxBytes + 1) {
                FileContent content = failed(FileContent::TooLarge);
                content.size = done;
                return content;
            }
            bytes.resize(qsizetype(std::min<qint64>(maxBytes + 1, done + 64 * 1024)));
        }
        const qint64 want = std::min<qint64>(Piece, bytes.size() - done);
        const ssize_t count = ::read(fd, bytes.data() + done, std::size_t(want));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return failed(FileContent::ReadFailed, errno);
        if (count == 0)
            break;
        done += count;
    }
    bytes.truncate(qsizetype(done));
    FileContent content;
    content.outcome = FileContent::Read;
    content.bytes = bytes;
    return content;
}

// Whether the file still holds exactly bytes and its size and times are those before the
// read. A write in progress during the read may leave the times as they were; the same bytes
// read a second time show that none was.
bool unchangedSinceRead(int fd, const QByteArray &bytes, const struct stat &before)
{
    const qint64 done = bytes.size();
    std::vector<char> again(64 * 1024);
    bool same = true;
    for (qint64 at = 0; same && at <= done;) {
        const ssize_t count = ::pread(fd, again.data(), again.size(), off_t(at));
        if (count < 0 && errno == EINTR)
            continue;
        same = count >= 0 && (count > 0 || at == done) && at + count <= done
               && std::memcmp(again.data(), bytes.constData() + at, std::size_t(count)) == 0;
        if (count == 0)
            break;
        at += count;
    }
    struct stat after;
    return same && ::fstat(fd, &after) == 0 && after.st_size == before.st_size
           && qint64(after.st_size) == done && after.st_mtim.tv_sec == before.st_mtim.tv_sec
           && after.st_mtim.tv_nsec == before.st_mtim.tv_nsec
           && after.st_ctim.tv_sec == before.st_ctim.tv_sec
           && after.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
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

bool canOpenRegularFile(const QString &path) noexcept
{
    try {
        FileStatus status;
        const int fd = openRegularFile(path, &status);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    } catch (...) {
        return false;
    }
}

FileContent readRegularFile(const QString &path, qint64 maxBytes, const StopCheck &stop)
{
    FileContent content;
    const int fd = openRegularFile(path, &content.status);
    if (fd < 0)
        return content;
    const auto close = qScopeGuard([fd] { ::close(fd); });
    // By the size on disk first: a sparse file of gigabytes is refused without a read.
    struct stat before;
    if (::fstat(fd, &before) != 0)
        return failed(FileContent::ReadFailed, errno);
    if (qint64(before.st_size) > maxBytes) {
        content = failed(FileContent::TooLarge);
        content.size = qint64(before.st_size);
        return content;
    }
    content = readToEnd(fd, qint64(before.st_size), maxBytes, stop);
    if (content.outcome == FileContent::Read && !unchangedSinceRead(fd, content.bytes, before))
        return failed(FileContent::Changed);
    return content;
}

AnonymousFile::~AnonymousFile()
{
    close();
}

bool AnonymousFile::create(const QString &folder)
{
    close();
    const QByteArray native = QFile::encodeName(folder);
    // O_TMPFILE makes the file without ever giving it a name; O_EXCL keeps it from ever
    // getting one.
    int fd = -1;
#ifdef O_TMPFILE
    do {
        fd = ::open(native.constData(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    const bool unsupported = fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL);
#else
    const bool unsupported = true;
#endif
    if (fd < 0 && unsupported) {
        // A file system without unnamed files: a private name, removed at once, so that the
        // name exists only between these two calls, before anything is written.
        QByteArray name = native + "/nvlogo-XXXXXX.bin";
        fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
        if (fd >= 0 && ::unlink(name.constData()) != 0) {
            m_reason = qt_error_string(errno);
            ::close(fd);
            return false;
        }
    }
    if (fd < 0) {
        m_reason = qt_error_string(errno);
        return false;
    }
    m_handle = fd;
    return true;
}

bool AnonymousFile::write(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(m_handle, data, std::size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            m_reason = qt_error_string(written < 0 ? errno : EIO);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool AnonymousFile::readAll(QByteArray *bytes)
{
    struct stat info;
    if (::fstat(m_handle, &info) != 0) {
        m_reason = qt_error_string(errno);
        return false;
    }
    QByteArray all(qsizetype(info.st_size), Qt::Uninitialized);
    qint64 done = 0;
    while (done < all.size()) {
        const ssize_t count
                = ::pread(m_handle, all.data() + done, std::size_t(all.size() - done), off_t(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            m_reason = count < 0 ? qt_error_string(errno)
                                 : QStringLiteral("it ends before its %1 bytes").arg(all.size());
            return false;
        }
        done += count;
    }
    *bytes = all;
    return true;
}

void AnonymousFile::close()
{
    if (m_handle >= 0)
        ::close(m_handle);
    m_handle = -1;
}

} // namespace NvImage
