#include "argumentbytes.h"

#include <commands/filenames.h>

#include <QFile>

namespace Cli {

namespace {

QList<QByteArray> g_lossy; // only the arguments whose text lost bytes

} // namespace

void rememberArguments(const QList<QByteArray> &arguments)
{
    g_lossy.clear();
    for (const QByteArray &argument : arguments) {
        if (QFile::encodeName(QFile::decodeName(argument)) != argument)
            g_lossy.append(argument);
    }
}

QByteArray argumentBytes(const QString &text)
{
    // An existing file whose name is not valid text was opened by its bytes to be read; a
    // name to write to is wanted as those bytes, not as the descriptor.
    if (const QByteArray opened = Commands::openedNameBytes(text); !opened.isEmpty())
        return opened;
    const QByteArray encoded = QFile::encodeName(text);
    if (!text.contains(QChar::ReplacementCharacter))
        return encoded;
    // The longest end of an argument that reads as text: its first byte is where the text
    // began.
    for (const QByteArray &argument : std::as_const(g_lossy)) {
        for (qsizetype start = 0; start < argument.size(); ++start) {
            const QByteArray end = argument.mid(start);
            if (QFile::decodeName(end) == text)
                return end;
        }
    }
    return encoded;
}

} // namespace Cli
