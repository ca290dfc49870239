#include "argumentpaths.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace VirtualPrinter::NvlogoPrinter {

namespace {

bool keepsBytes(const QByteArray &bytes)
{
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

QString reason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The descriptor stays open for the program's life: the path names it.
QString descriptorPath(int fd)
{
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

// mkdir -p on the bytes.
bool makeFolders(const QByteArray &bytes)
{
    for (qsizetype slash = bytes.indexOf('/', 1);; slash = bytes.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? bytes : bytes.left(slash);
        if (!part.isEmpty() && ::mkdir(part.constData(), 0777) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            return true;
    }
}

} // namespace

QString folderPathFromBytes(const QByteArray &bytes, QString *error)
{
    if (keepsBytes(bytes))
        return QFile::decodeName(bytes);
    int fd = -1;
    if (makeFolders(bytes))
        fd = ::open(bytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot create the folder %1: %2")
                         .arg(QFile::decodeName(bytes), reason());
        return QString();
    }
    return descriptorPath(fd);
}

QString filePathFromBytes(const QByteArray &bytes, QString *error)
{
    if (keepsBytes(bytes))
        return QFile::decodeName(bytes);
    // O_NONBLOCK: a FIFO does not hold the start-up here; reading it waits as usual.
    const int fd = ::open(bytes.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot read %1: %2").arg(QFile::decodeName(bytes), reason());
        return QString();
    }
    return descriptorPath(fd);
}

} // namespace VirtualPrinter::NvlogoPrinter
