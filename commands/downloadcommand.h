#pragma once

#include "userinterface.h"

#include <nvimage/nvimagefile.h>

#include <QByteArray>
#include <QStringList>

#include <optional>

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
    // The identity keeps the printer tool's dots (the blue rule, or dither) and its rule on
    // the files' size on disk; any other preparation is judged by what is stored.
    NvImage::Preparation preparation;
};

// The pictures of one download, in NV image order, and how they become dots.
struct DownloadRequest
{
    QStringList pictures;
    DownloadOptions options;
    // Asked while the pictures are read and converted: a stop ends the work with nothing sent.
    NvImage::StopCheck stop;
};

// What each picture of a stream deserves a warning for, one list a picture, judged against
// the preparation's paper and the NV memory.
using PictureWarnings = QList<QList<NvImage::PreviewWarning>>;

// The details of "Graph size out of range!": the chosen files' size on disk against its
// limit, and the pictures' NV data against the printer's memory.
QString fileSizeDetails(qint32 total);
QString capacityDetails(const NvImage::NvCapacityError &error);

// The Open dialog's filters: each shows its pattern as its description.
QStringList downloadNameFilters();

// What a download tells when every byte went through, and what a stop during the write leaves.
Outcome downloadDelivered();
QString partialDefinitionDetails();

// The FS q stream of the pictures, built in memory with every check a download makes: the
// refusal to show instead (nothing built), or nothing when stream holds it. warnings, when
// given, gets what each picture deserves a warning for.
std::optional<Outcome> buildDownloadStream(const DownloadRequest &request,
                                           QByteArray &stream,
                                           PictureWarnings *warnings = nullptr);

// The window's download, with no user interface of its own and safe to run on a worker
// thread: checks the pictures, writes the FS q stream to a private scratch file, reads it
// back and delivers it in one write on the window's connection, which waits after it opens.
// The outcome says what happened; nothing escapes. On every way out the connection is closed
// if it opened and the scratch file is gone.
Outcome downloadPictures(Printer::PosLibrary &library,
                         const Printer::PortSettings &port,
                         const DownloadRequest &request,
                         NvImage::PictureSurface &Picture1,
                         CommandState &state,
                         Progress *progress = nullptr);

} // namespace Commands
