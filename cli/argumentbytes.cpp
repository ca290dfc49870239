#include "argumentbytes.h"

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
