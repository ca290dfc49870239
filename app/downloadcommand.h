#pragma once

#include <QStringList>

namespace NvImage {
class PictureSurface;
}

namespace Printer {
class PosLibrary;
struct PortSettings;
} // namespace Printer

namespace App {

class Dialogs;
struct CommandState;

// What a download changes in its window besides showing messages.
class DownloadHost
{
public:
    virtual ~DownloadHost() = default;

    // Both command buttons; disabled while the download runs.
    virtual void setCommandsEnabled(bool enabled) = 0;

    // The image-number list refilled with "1" to count, "1" selected.
    virtual void setImageNumbers(int count) = 0;

    // Around the one blocking write that sends the stream, which takes minutes on a slow
    // serial line.
    virtual void sendingStarted(qint64 byteCount) { Q_UNUSED(byteCount) }
    virtual void sendingFinished() {}
};

// The Open dialog's filters: each shows its pattern as its description.
QStringList downloadNameFilters();

// Lets the user choose pictures and stores them in the printer as NV images 1 to n: one
// FS q stream, written to a private scratch file, read back and sent in one write. Every
// outcome reaches the user as a message; nothing escapes. On every way out the buttons are
// enabled again, the connection is closed if it opened and the scratch file is gone.
void Download(Printer::PosLibrary &library,
              const Printer::PortSettings &port,
              Dialogs &dialogs,
              DownloadHost &host,
              NvImage::PictureSurface &Picture1,
              CommandState &state);

} // namespace App
