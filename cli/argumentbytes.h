#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace Cli {

// A command-line argument that is not valid text (a file name with the byte 0xE9 on a UTF-8
// system) loses bytes when it becomes a QString. The arguments are kept as given, so that a
// name to write to, or a device to open, can be had back as the bytes the user typed.
void rememberArguments(const QList<QByteArray> &arguments);

// The bytes that text came from: the end of a remembered argument that reads as text (the
// whole argument, or the value of "--opt=value", or the path of "LPT:/path"), else text's own
// encoding. Text that lost nothing converts as usual.
QByteArray argumentBytes(const QString &text);

} // namespace Cli
