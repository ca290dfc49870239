#pragma once

#include <QByteArray>
#include <QString>

namespace VirtualPrinter::NvlogoPrinter {

// Paths given on the command line keep their bytes: a name that is not valid in the locale's
// encoding (a Latin-1 0xE9 in a UTF-8 locale) would otherwise name another file.
//
// A path for Qt's file classes: the text itself when it stands for the bytes, else a path
// through a descriptor opened on the bytes. A folder is created first when needed. Empty, with
// the reason, when that fails.
QString folderPathFromBytes(const QByteArray &bytes, QString *error);
QString filePathFromBytes(const QByteArray &bytes, QString *error);

} // namespace VirtualPrinter::NvlogoPrinter
