#include "smallfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Printer {

namespace {

Failure failureOf(int error, const QString &path)
{
    const FailureKind kind = error == ENOENT                     ? FailureKind::NotFound
                             : error == EACCES || error == EPERM ? FailureKind::Permission
                                                                 : FailureKind::Io;
    return Failure{kind,
                   QStringLiteral("cannot read %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(error)))};
}

} // namespace

Result<QByteArray> readSmallFile(const QString &path, qint64 maxBytes)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return failureOf(errno, path);
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Failure{FailureKind::Invalid, QStringLiteral("%1 is not a regular file").arg(path)};
    }
    if (info.st_size > maxBytes) {
        ::close(fd);
        return Failure{FailureKind::Invalid,
                       QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(maxBytes)};
    }
    QByteArray text(qsizetype(info.st_size), '\0');
    qsizetype have = 0;
    while (have < text.size()) {
        const ssize_t got = ::read(fd, text.data() + have, size_t(text.size() - have));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        have += got;
    }
    ::close(fd);
    text.truncate(have);
    return text;
}

} // namespace Printer
