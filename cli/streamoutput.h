#pragma once

#include <QByteArray>
#include <QString>

namespace Cli {

// Writes the stream to the file named by these bytes and returns an empty text, or why it failed. A
// new path or a regular file gets the bytes whole or not at all (a new file beside it, renamed over
// it). A device or FIFO is written directly, never replaced by a file: "-o /dev/usb/lp0" sends to
// the printer. Such a write fails when no byte moves for 10 s or nobody reads a FIFO.
QString writeStreamOutput(const QByteArray &path, const QByteArray &bytes);

} // namespace Cli
