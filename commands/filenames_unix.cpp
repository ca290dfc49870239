#include "filenames.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Commands {

namespace {

struct Opened
{
    QString path; // /proc/self/fd/N
    QString shown;
};

// By the file's bytes; the window's worker and its dialog may both ask.
QMutex g_mutex;
QHash<QByteArray, Opened> g_opened;

bool isRegularFile(const QByteArray &bytes)
{
    struct stat info;
    return ::stat(bytes.constData(), &info) == 0 && S_ISREG(info.st_mode);
}

QString openByBytes(const QByteArray &bytes)
{
    QMutexLocker lock(&g_mutex);
    const auto found = g_opened.constFind(bytes);
    if (found != g_opened.cend())
        return found->path;
    // O_NONBLOCK: should the file have become a FIFO meanwhile, the open does not wait.
    const int fd = ::open(bytes.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QFile::decodeName(bytes);
    const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    g_opened.insert(bytes, {path, QFile::decodeName(bytes)});
    return path;
}

} // namespace

QString pathFromBytes(const QByteArray &bytes)
{
    const QString text = QFile::decodeName(bytes);
    if (QFile::encodeName(text) == bytes || !isRegularFile(bytes))
        return text;
    return openByBytes(bytes);
}

QString recoverLossyPath(const QString &path)
{
    if (path.isEmpty() || QFileInfo::exists(path))
        return path;
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.path());
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return path;
    QByteArray match;
    int matches = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (QFile::decodeName(name) == info.fileName()) {
            match = name;
            ++matches;
        }
    }
    ::closedir(dir);
    // Two names that show alike cannot be told apart; neither is guessed.
    if (matches != 1)
        return path;
    const QByteArray bytes = folder + '/' + match;
    return isRegularFile(bytes) ? openByBytes(bytes) : path;
}

QByteArray openedNameBytes(const QString &path)
{
    QMutexLocker lock(&g_mutex);
    for (auto it = g_opened.cbegin(); it != g_opened.cend(); ++it) {
        if (it->path == path)
            return it.key();
    }
    return {};
}

QString displayNames(QString text)
{
    QMutexLocker lock(&g_mutex);
    for (const Opened &opened : std::as_const(g_opened))
        text.replace(opened.path, opened.shown);
    return text;
}

} // namespace Commands
