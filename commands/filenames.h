#pragma once

#include <QByteArray>
#include <QString>

namespace Commands {

// File names are bytes; a name that is not valid in the locale's encoding (a Latin-1 name on
// a UTF-8 system) loses them when it becomes text, and the text names no file. These keep
// such a file reachable: it is opened by its bytes and named by the path of the open
// descriptor (/proc/self/fd/N), which every later step opens like any other path. The
// descriptor stays open until the program ends; the same file is opened once. One file per
// platform (filenames_<platform>.cpp), chosen by the build.

// bytes as text: unchanged when they convert without loss or name no regular file.
QString pathFromBytes(const QByteArray &bytes);

// A path from a file dialog that names nothing, because the dialog showed a name it could not
// convert: the one entry of its folder whose name shows the same. Else the path unchanged.
QString recoverLossyPath(const QString &path);

// The bytes a descriptor path of pathFromBytes was opened by, for writing to that name rather
// than through the descriptor; empty for any other path.
QByteArray openedNameBytes(const QString &path);

// text with each descriptor path replaced by the name as the user saw it.
QString displayNames(QString text);

} // namespace Commands
