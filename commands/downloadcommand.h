#pragma once

#include "userinterface.h"

#include <nvimage/nvimagefile.h>

#include <QStringList>

namespace NvImage {
class NvCapacityError;
class PictureSurface;
} // namespace NvImage

namespace Printer {
class PosLibrary;
struct PortSettings;
} // namespace Printer

namespace Commands {

struct CommandState;

// How pictures become dots and what the printer holds.
struct DownloadOptions
{
    // The printer's NV memory, which the definition must fit.
    qint64 nvCapacity = NvImage::DefaultNvCapacity;
    // The blue rule, or dithering by brightness for photos and coloured logos.
    NvImage::Conversion conversion = NvImage::Conversion::BlueRule;
};

// The details of "Graph size out of range!": the chosen files' size on disk against its
// limit, and the pictures' NV data against the printer's memory.
QString fileSizeDetails(qint32 total);
QString capacityDetails(const NvImage::NvCapacityError &error);

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

// A whole download on the calling thread: the file dialog, downloadPictures and the
// outcome's message.
Outcome Download(Printer::PosLibrary &library,
                 const Printer::PortSettings &port,
                 Dialogs &dialogs,
                 NvImage::PictureSurface &Picture1,
                 CommandState &state,
                 const DownloadOptions &options,
                 Progress *progress = nullptr);

} // namespace Commands
