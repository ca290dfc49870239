#include "streamoutput.h"

#include "terminal.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Cli {

namespace {

constexpr int NoProgressMs = 10000;
// A wait for room looks this often whether a termination signal asked to stop.
constexpr int StopCheckMs = 100;

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
        int ready = 0;
        for (int waited = 0; ready == 0 && waited < NoProgressMs; waited += StopCheckMs) {
            if (terminationRequested())
                return QStringLiteral("stopped after %1 of %2 bytes").arg(done).arg(bytes.size());
            pollfd pfd{fd, POLLOUT, 0};
            ready = ::poll(&pfd, 1, StopCheckMs);
            if (ready < 0 && errno == EINTR)
                ready = 0;
        }
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

// A new file beside the target. Without a name until it is whole where the file system allows
// it, so that a program ended at once leaves nothing behind; else under a temporary name.
int newFileBeside(const QByteArray &folder, QByteArray &temporary, bool &unnamed)
{
    const int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    unnamed = fd >= 0;
    if (unnamed)
        return fd;
    return ::mkstemp(temporary.data());
}

// Gives a nameless file its temporary name, just before it replaces the target.
bool nameFile(int fd, QByteArray &temporary)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 8; ++attempt) {
        QByteArray name = temporary;
        name.replace("XXXXXX", QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt));
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW)
            == 0) {
            temporary = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

QString writeFileAtomically(const QByteArray &native, const QByteArray &bytes)
{
    // Beside the target, by bytes: a name that is not valid text keeps them.
    const qsizetype slash = native.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray("./") : native.left(slash + 1);
    QByteArray temporary = folder + "." + native.mid(slash + 1) + ".XXXXXX";
    bool unnamed = false;
    const int fd = newFileBeside(folder, temporary, unnamed);
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
    bool named = !unnamed;
    if (error.isEmpty() && unnamed) {
        named = nameFile(fd, temporary);
        if (!named)
            error = errnoText(errno);
    }
    if (::close(fd) != 0 && error.isEmpty() && errno != EINTR)
        error = errnoText(errno);
    if (error.isEmpty() && ::rename(temporary.constData(), native.constData()) != 0)
        error = errnoText(errno);
    if (!error.isEmpty() && named)
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
