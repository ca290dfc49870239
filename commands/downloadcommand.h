#pragma once

#include "userinterface.h"

#include <nvimagefile.h>

#include <QStringList>

namespace NvImage {
class PictureSurface;
}

namespace Printer {
class PosLibrary;
struct PortSettings;
} // namespace Printer

namespace Commands {

struct CommandState;

// What a download changes in its window besides showing messages. Called on the thread
// that shows the file dialog.
class DownloadHost
{
public:
    virtual ~DownloadHost() = default;

    // Both command buttons; disabled while the download runs.
    virtual void setCommandsEnabled(bool enabled) = 0;

    // The image-number list refilled with "1" to count, "1" selected.
    virtual void setImageNumbers(int count) = 0;
};

// How pictures become dots and what the printer holds.
struct DownloadOptions
{
    // The printer's NV memory, which the definition must fit.
    qint64 nvCapacity = NvImage::DefaultNvCapacity;
    // The blue rule, or dithering by brightness for photos and coloured logos.
    NvImage::Conversion conversion = NvImage::Conversion::BlueRule;
};

// The Open dialog's filters: each shows its pattern as its description.
QStringList downloadNameFilters();

// The slow part of a download, with no user interface of its own, safe to run on a worker
// thread: checks the pictures, writes the FS q stream to a private scratch file, reads it
// back and sends it in one write, then closes. The outcome says what happened; nothing
// escapes. On every way out the connection is closed if it opened and the scratch file is
// gone.
Outcome downloadPictures(Printer::PosLibrary &library,
                         const Printer::PortSettings &port,
                         const QStringList &paths,
                         NvImage::PictureSurface &Picture1,
                         CommandState &state,
                         const DownloadOptions &options,
                         Progress *progress = nullptr);

// A whole download on the calling thread: the file dialog, the host's buttons and image
// list, downloadPictures and the outcome's message, once the buttons are enabled again.
Outcome Download(Printer::PosLibrary &library,
                 const Printer::PortSettings &port,
                 Dialogs &dialogs,
                 DownloadHost &host,
                 NvImage::PictureSurface &Picture1,
                 CommandState &state,
                 const DownloadOptions &options,
                 Progress *progress = nullptr);

} // namespace Commands
