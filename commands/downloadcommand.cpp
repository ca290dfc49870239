#include "downloadcommand.h"

#include "commandstate.h"
#include "delivery.h"
#include "messages.h"
#include "printerlink.h"
#include "settings.h"

#include <nvimage/errors.h>
#include <nvimage/nvimagefile.h>
#include <printer/portconnection.h>

#include <QScopeGuard>

namespace Commands {

namespace {

// The outcome for the exception in flight: what a download refuses, or an unexpected error.
Outcome downloadRefusal()
{
    try {
        throw;
    } catch (const NvImage::StoppedError &) {
        return stoppedBeforeSending();
    } catch (const NvImage::NvCapacityError &error) {
        return refused(graphSizeOutOfRangeText(), capacityDetails(error));
    } catch (const NvImage::PictureTooLargeError &error) {
        // The printer would void such a definition; say which picture and what fits.
        return refused(error.message());
    } catch (const std::exception &error) {
        return unexpected(QString::fromUtf8(error.what()));
    } catch (...) {
        return unexpected(QString());
    }
}

// The files' size on disk, the first thing a download of unprepared pictures judges; a
// prepared picture is judged by what is stored.
std::optional<Outcome> onDiskRefusal(const DownloadRequest &request)
{
    if (!request.options.preparation.isIdentity())
        return std::nullopt;
    const qint32 total = NvImage::totalFileSize(request.pictures);
    if (!NvImage::totalFileSizeAccepted(total))
        return refused(graphSizeOutOfRangeText(), fileSizeDetails(total));
    return std::nullopt;
}

NvImage::StreamOptions streamOptions(const DownloadRequest &request, PictureWarnings *warnings)
{
    NvImage::StreamOptions options;
    options.nvCapacity = request.options.nvCapacity;
    options.preparation = request.options.preparation;
    options.stop = request.stop;
    options.warnings = warnings;
    options.warningRules = {request.options.preparation.paperDots, request.options.nvCapacity};
    return options;
}

// The stream by way of the scratch file, as the window's download always wrote it.
QByteArray streamViaScratchFile(const DownloadRequest &request,
                                NvImage::PictureSurface &Picture1,
                                CommandState &state)
{
    NvImage::ScratchFile scratch;
    NvImage::ImageSize size{state.ImageWidth, state.ImageHeight};
    {
        // The window keeps the size of the last picture written, also after a failure.
        const auto keepSize = qScopeGuard([&] {
            state.ImageWidth = size.ImageWidth;
            state.ImageHeight = size.ImageHeight;
        });
        NvImage::WriteNvImageFile(
                scratch, request.pictures, Picture1, size, streamOptions(request, nullptr));
    }
    QByteArray buffer = NvImage::ReadNvImageFile(scratch);
    // The stream is in memory now; nothing of it is left on disk while it is sent.
    scratch.remove();
    return buffer;
}

} // namespace

QString fileSizeDetails(qint32 total)
{
    return QStringLiteral("The chosen files take %1 bytes on disk; together they must stay "
                          "below %2 bytes. A GIF, or a BMP with one bit a pixel, of the same "
                          "picture is far smaller. Prepared pictures (\"Fit to paper\"; "
                          "nvlogo-cli --fit) are judged by what the printer stores instead, and "
                          "NV graphics (nvlogo-cli graphics define) store one picture at a time.")
            .arg(total)
            .arg(NvImage::TotalFileSizeLimit);
}

QString capacityDetails(const NvImage::NvCapacityError &error)
{
    return QStringLiteral("The pictures make %1 bytes of NV image data, but the printer's NV "
                          "memory holds %2 bytes. If the printer has more, set %3 (nvlogo-cli: "
                          "--nv-capacity) to its size in bytes.")
            .arg(error.dataSize())
            .arg(error.capacity())
            .arg(QLatin1String(NvCapacityVariable));
}

QStringList downloadNameFilters()
{
    // The shown description is the pattern itself; the upper-case spelling is matched too,
    // as it would be on a file system that ignores case.
    return {QStringLiteral("*.bmp (*.bmp *.BMP)"),
            QStringLiteral("*.jpg (*.jpg *.JPG)"),
            QStringLiteral("*.gif (*.gif *.GIF)"),
            QStringLiteral("*.* (*)")};
}

Outcome downloadDelivered()
{
    return {Outcome::Kind::Delivered,
            MessageIcon::Information,
            infoCaption(),
            waitUntilResetText(),
            {}};
}

QString partialDefinitionDetails()
{
    return QStringLiteral("The printer holds a partial definition. Switch it off and on again "
                          "before the next download.");
}

std::optional<Outcome>
buildDownloadStream(const DownloadRequest &request, QByteArray &stream, PictureWarnings *warnings)
{
    stream.clear();
    try {
        if (std::optional<Outcome> refusal = onDiskRefusal(request))
            return refusal;
        NvImage::PictureSurface surface;
        NvImage::ImageSize size;
        stream = NvImage::buildNvImageStream(
                request.pictures, surface, size, streamOptions(request, warnings));
        return std::nullopt;
    } catch (...) {
        stream.clear();
        return downloadRefusal();
    }
}

Outcome downloadPictures(Printer::PosLibrary &library,
                         const Printer::PortSettings &port,
                         const DownloadRequest &request,
                         NvImage::PictureSurface &Picture1,
                         CommandState &state,
                         Progress *progress)
{
    try {
        setStage(progress, Progress::Stage::Preparing);
        if (std::optional<Outcome> refusal = onDiskRefusal(request))
            return *refusal;
        // The window's Stop reaches the pictures' decoding and conversion too.
        DownloadRequest stoppable = request;
        if (!stoppable.stop)
            stoppable.stop = [progress] {
                return stopRequested(progress);
            };
        const QByteArray buffer = streamViaScratchFile(stoppable, Picture1, state);
        if (stopRequested(progress))
            return stoppedBeforeSending();
        PrinterLink link(
                library, Printer::Target::fromWindowSettings(port), PrinterLink::Settle::AfterOpen);
        return deliver(link,
                       buffer,
                       {Delivery::Framing::PrintQueueOnly,
                        downloadDelivered(),
                        partialDefinitionDetails()},
                       state,
                       progress);
    } catch (...) {
        return downloadRefusal();
    }
}

} // namespace Commands
