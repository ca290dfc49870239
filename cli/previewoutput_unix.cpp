#include "previewoutput.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Cli {

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isNumberedPicture(const QByteArray &name)
{
    static const QRegularExpression numbered(QStringLiteral("^[0-9]+\\.png$"));
    return numbered.match(QString::fromLatin1(name)).hasMatch();
}

// mkdir -p: every folder above is made as needed; only the last step's failure counts.
int makeFolders(const QByteArray &folder)
{
    for (qsizetype slash = folder.indexOf('/', 1); slash > 0;
         slash = folder.indexOf('/', slash + 1))
        ::mkdir(folder.left(slash).constData(), 0777);
    if (::mkdir(folder.constData(), 0777) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

QString writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return errnoText(written < 0 ? errno : EIO);
        done += written;
    }
    return QString();
}

} // namespace

PreviewFolder::~PreviewFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString PreviewFolder::open(const QByteArray &folder)
{
    if (const int error = makeFolders(folder))
        return errnoText(error);
    struct stat link;
    if (::lstat(folder.constData(), &link) == 0 && S_ISLNK(link.st_mode)
        && link.st_uid != ::geteuid())
        return QStringLiteral("it is a link that another user made");
    m_fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        return errnoText(errno);

    const int listing = ::dup(m_fd);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return errnoText(errno);
    }
    QList<QByteArray> earlier;
    QStringList others;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!isNumberedPicture(name))
            continue;
        struct stat info;
        if (::fstatat(m_fd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone meanwhile
        if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))
            earlier.append(name);
        else
            others.append(QString::fromLatin1(name));
    }
    ::closedir(dir);
    if (!others.isEmpty())
        return QStringLiteral("%1 is not a file (a folder, a pipe or a device); remove it first")
                .arg(others.join(QStringLiteral(", ")));
    for (const QByteArray &name : std::as_const(earlier)) {
        if (::unlinkat(m_fd, name.constData(), 0) != 0 && errno != ENOENT)
            return QStringLiteral("cannot remove %1 of an earlier run: %2")
                    .arg(QString::fromLatin1(name), errnoText(errno));
    }
    return QString();
}

QString PreviewFolder::write(const QString &name, const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return QStringLiteral("the picture cannot be encoded as PNG");
    const QByteArray target = QFile::encodeName(name);
    // O_EXCL | O_NOFOLLOW: only a file this call makes is ever written.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = "." + target + "."
                    + QByteArray::number(QRandomGenerator::global()->generate(), 16);
        fd = ::openat(m_fd,
                      temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0666);
        if (fd < 0 && errno != EEXIST)
            return errnoText(errno);
    }
    if (fd < 0)
        return errnoText(EEXIST);
    QString error = writeAll(fd, png);
    if (::close(fd) != 0 && error.isEmpty() && errno != EINTR)
        error = errnoText(errno);
    if (error.isEmpty() && ::renameat(m_fd, temporary.constData(), m_fd, target.constData()) != 0)
        error = errnoText(errno);
    if (!error.isEmpty())
        ::unlinkat(m_fd, temporary.constData(), 0);
    return error;
}

} // namespace Cli
