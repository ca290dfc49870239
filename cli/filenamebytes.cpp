#include "filenamebytes.h"

#include <QFile>
#include <QList>
#include <QPair>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Cli {

namespace {

// The descriptor paths handed out, with the names as the user typed them (lossily shown).
QList<QPair<QString, QString>> &descriptorNames()
{
    static QList<QPair<QString, QString>> names;
    return names;
}

} // namespace

QStringList argumentsKeepingFileNames(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        const QString text = QFile::decodeName(bytes);
        struct stat info;
        if (QFile::encodeName(text) == bytes || ::stat(bytes.constData(), &info) != 0
            || !S_ISREG(info.st_mode)) {
            arguments.append(text);
            continue;
        }
        // O_NONBLOCK: the file was a regular one a moment ago; should it have been replaced by
        // a FIFO meanwhile, the open must not wait for a writer.
        const int fd = ::open(bytes.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            arguments.append(text);
            continue;
        }
        // Kept open until the program ends: the path below stays valid as long as it is.
        const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
        descriptorNames().append({path, text});
        arguments.append(path);
    }
    return arguments;
}

QString displayNames(QString text)
{
    for (const auto &[path, name] : descriptorNames())
        text.replace(path, name);
    return text;
}

} // namespace Cli
