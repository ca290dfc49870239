#pragma once

// Reading a small text file the user named (a list of printers): whole, bounded, and never
// waiting on a FIFO or a device put in its place. One file per platform
// (smallfile_<platform>.cpp), chosen by the build.

#include "result.h"

#include <QByteArray>
#include <QString>

namespace Printer {

// The bytes of the regular file, at most maxBytes of them; a failure (kind NotFound,
// Permission or Invalid) says why not.
Result<QByteArray> readSmallFile(const QString &path, qint64 maxBytes);

} // namespace Printer
