#include "streamoutput.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Cli {

namespace {

constexpr int NoProgressMs = 10000;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes everything to a descriptor; a non-blocking one waits for room up to NoProgressMs.
QString writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written > 0) {
            done += written;
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return errnoText(errno);
        pollfd pfd{fd, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&pfd, 1, NoProgressMs);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0)
            return errnoText(errno);
        if (ready == 0)
            return QStringLiteral("it took no data for %1 s; %2 of %3 bytes were written")
                    .arg(NoProgressMs / 1000)
                    .arg(done)
                    .arg(bytes.size());
    }
    return QString();
}

QString writeDevice(const QByteArray &native, const QByteArray &bytes)
{
    // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting for one.
    const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENXIO ? QStringLiteral("nobody is reading it") : errnoText(errno);
    QString error = writeAll(fd, bytes);
    if (::close(fd) != 0 && error.isEmpty() && errno != EINTR)
        error = errnoText(errno);
    return error;
}

QString writeFileAtomically(const QByteArray &native, const QByteArray &bytes)
{
    // Beside the target, by bytes: a name that is not valid text keeps them.
    const qsizetype slash = native.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray("./") : native.left(slash + 1);
    QByteArray temporary = folder + "." + native.mid(slash + 1) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return errnoText(errno);
    QString error = writeAll(fd, bytes);
    // A replaced file keeps its permissions; a new one gets the usual ones.
    struct stat old;
    mode_t mode;
    if (::stat(native.constData(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (error.isEmpty() && ::fchmod(fd, mode) != 0)
        error = errnoText(errno);
    // A full disk may only show when the data is flushed.
    if (error.isEmpty() && ::fsync(fd) != 0)
        error = errnoText(errno);
    if (::close(fd) != 0 && error.isEmpty() && errno != EINTR)
        error = errnoText(errno);
    if (error.isEmpty() && ::rename(temporary.constData(), native.constData()) != 0)
        error = errnoText(errno);
    if (!error.isEmpty())
        ::unlink(temporary.constData());
    return error;
}

} // namespace

QString writeStreamOutput(const QByteArray &native, const QByteArray &bytes)
{
    struct stat info;
    if (::stat(native.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return QStringLiteral("it is a folder");
        if (!S_ISREG(info.st_mode))
            return writeDevice(native, bytes);
    }
    return writeFileAtomically(native, bytes);
}

} // namespace Cli
