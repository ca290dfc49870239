#include "downloadcommand.h"

#include "commandstate.h"
#include "messages.h"
#include "portsession.h"
#include "settings.h"
#include "transfer.h"

#include <nvimage/errors.h>
#include <nvimage/nvimagefile.h>
#include <printer/portconnection.h>
#include <printer/poslibrary.h>

#include <QScopeGuard>

namespace Commands {

namespace {

Outcome refused(const QString &text, const QString &details = QString())
{
    return {Outcome::Result::Refused, MessageIcon::Warning, errorCaption(), text, details};
}

} // namespace

QString fileSizeDetails(qint32 total)
{
    return QStringLiteral("The chosen files take %1 bytes on disk; together they must stay "
                          "below %2 bytes. A GIF, or a BMP with one bit a pixel, of the same "
                          "picture is far smaller.")
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

namespace {

Outcome send(Printer::PosLibrary &library,
             const Printer::PortSettings &port,
             CommandState &state,
             const QByteArray &buffer,
             Progress *progress)
{
    setStage(progress, Progress::Stage::Opening);
    PortSession session(library, port, state);
    if (!session.isOpen())
        return failedToOpen(library);
    if (stopRequested(progress)) {
        state.CallResult = session.close();
        return stoppedBeforeSending();
    }

    // Only a print queue needs the stream framed as a job.
    const bool driver = Printer::portKindOf(port.portText) == Printer::PortKind::Driver;
    if (driver)
        state.CallResult = library.POS_StartDoc();
    Transfer transfer = writeWatched(library, state, buffer, progress);
    if (driver)
        transfer = endDocument(library, transfer, state.CallResult);
    setStage(progress, Progress::Stage::Closing);
    state.CallResult = session.close();
    return transfer.outcome(Outcome{Outcome::Result::Delivered,
                                    MessageIcon::Information,
                                    infoCaption(),
                                    waitUntilResetText(),
                                    {}},
                            QStringLiteral("The printer holds a partial definition. Switch it "
                                           "off and on again before the next download."));
}

Outcome downloadAndSend(Printer::PosLibrary &library,
                        const Printer::PortSettings &port,
                        const QStringList &paths,
                        NvImage::PictureSurface &Picture1,
                        CommandState &state,
                        const DownloadOptions &options,
                        Progress *progress)
{
    setStage(progress, Progress::Stage::Preparing);
    const qint32 total = NvImage::totalFileSize(paths);
    if (!NvImage::totalFileSizeAccepted(total))
        return refused(graphSizeOutOfRangeText(), fileSizeDetails(total));

    QByteArray buffer;
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
                    scratch, paths, Picture1, size, options.nvCapacity, options.conversion);
        }
        buffer = NvImage::ReadNvImageFile(scratch);
        // The stream is in memory now; nothing of it is left on disk while it is sent.
        scratch.remove();
    }
    if (stopRequested(progress))
        return stoppedBeforeSending();
    return send(library, port, state, buffer, progress);
}

} // namespace

QStringList downloadNameFilters()
{
    // The shown description is the pattern itself; the upper-case spelling is matched too,
    // as it would be on a file system that ignores case.
    return {QStringLiteral("*.bmp (*.bmp *.BMP)"),
            QStringLiteral("*.jpg (*.jpg *.JPG)"),
            QStringLiteral("*.gif (*.gif *.GIF)"),
            QStringLiteral("*.* (*)")};
}

Outcome downloadPictures(Printer::PosLibrary &library,
                         const Printer::PortSettings &port,
                         const QStringList &paths,
                         NvImage::PictureSurface &Picture1,
                         CommandState &state,
                         const DownloadOptions &options,
                         Progress *progress)
{
    try {
        return downloadAndSend(library, port, paths, Picture1, state, options, progress);
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

Outcome Download(Printer::PosLibrary &library,
                 const Printer::PortSettings &port,
                 Dialogs &dialogs,
                 NvImage::PictureSurface &Picture1,
                 CommandState &state,
                 const DownloadOptions &options,
                 Progress *progress)
{
    Outcome outcome;
    try {
        const QStringList paths = dialogs.getOpenFileNames(downloadNameFilters());
        if (paths.isEmpty())
            return outcome;
        outcome = downloadPictures(library, port, paths, Picture1, state, options, progress);
    } catch (const std::exception &error) {
        outcome = unexpected(QString::fromUtf8(error.what()));
    }
    dialogs.show(outcome);
    return outcome;
}

} // namespace Commands
