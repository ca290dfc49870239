#include "downloadcommand.h"

#include "commandstate.h"
#include "dialogs.h"
#include "messages.h"
#include "portsession.h"

#include <errors.h>
#include <nvimagefile.h>
#include <portconnection.h>
#include <poslibrary.h>

#include <QScopeGuard>

namespace App {

namespace {

// Gives the buttons back on every way out, so that one refused selection does not leave
// the window useless.
class CommandsDisabled
{
public:
    explicit CommandsDisabled(DownloadHost &host)
        : m_host(host)
    {
        m_host.setCommandsEnabled(false);
    }
    ~CommandsDisabled() { m_host.setCommandsEnabled(true); }

    CommandsDisabled(const CommandsDisabled &) = delete;
    CommandsDisabled &operator=(const CommandsDisabled &) = delete;

private:
    DownloadHost &m_host;
};

// What the user is told at the end, once the window is usable again.
struct Outcome
{
    MessageIcon icon = MessageIcon::None;
    QString caption;
    QString text;
    QString details;
};

Outcome send(Printer::PosLibrary &library,
             const Printer::PortSettings &port,
             DownloadHost &host,
             NvImage::ScratchFile &scratch,
             CommandState &state,
             const QByteArray &buffer)
{
    PortSession session(library, port, state);
    if (!session.isOpen())
        return {MessageIcon::Critical, errorCaption(), failToOpenPortText(), {}};

    // Only a print queue needs the stream framed as a job.
    const bool driver = Printer::portKindOf(port.portText) == Printer::PortKind::Driver;
    if (driver)
        state.CallResult = library.POS_StartDoc();
    {
        host.sendingStarted(buffer.size());
        const auto finished = qScopeGuard([&host] { host.sendingFinished(); });
        state.CallResult = library.POS_WriteFile(
                state.PortHandle, buffer.constData(), static_cast<std::int32_t>(buffer.size()));
    }
    const bool sent = state.CallResult >= 0;
    if (driver)
        state.CallResult = library.POS_EndDoc();
    state.CallResult = session.close();
    scratch.remove();

    if (!sent)
        return {MessageIcon::Critical, errorCaption(), failToSendText(), {}};
    return {MessageIcon::Information, infoCaption(), waitUntilResetText(), {}};
}

Outcome downloadPictures(Printer::PosLibrary &library,
                         const Printer::PortSettings &port,
                         const QStringList &paths,
                         DownloadHost &host,
                         NvImage::PictureSurface &Picture1,
                         CommandState &state)
{
    CommandsDisabled busy(host);
    host.setImageNumbers(int(paths.size()));

    if (!NvImage::totalFileSizeAccepted(NvImage::totalFileSize(paths)))
        return {MessageIcon::Warning, errorCaption(), graphSizeOutOfRangeText(), {}};

    NvImage::ScratchFile scratch;
    NvImage::ImageSize size{state.ImageWidth, state.ImageHeight};
    {
        // The window keeps the size of the last picture written, also after a failure.
        const auto keepSize = qScopeGuard([&] {
            state.ImageWidth = size.ImageWidth;
            state.ImageHeight = size.ImageHeight;
        });
        NvImage::WriteNvImageFile(scratch, paths, Picture1, size);
    }
    const QByteArray buffer = NvImage::ReadNvImageFile(scratch);
    return send(library, port, host, scratch, state, buffer);
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

void Download(Printer::PosLibrary &library,
              const Printer::PortSettings &port,
              Dialogs &dialogs,
              DownloadHost &host,
              NvImage::PictureSurface &Picture1,
              CommandState &state)
{
    Outcome outcome;
    try {
        const QStringList paths = dialogs.getOpenFileNames(downloadNameFilters());
        if (paths.isEmpty())
            return;
        outcome = downloadPictures(library, port, paths, host, Picture1, state);
    } catch (const NvImage::PictureTooLargeError &error) {
        // The printer would void such a definition; say which picture and what fits.
        outcome = {MessageIcon::Warning, errorCaption(), error.message(), {}};
    } catch (const std::exception &error) {
        outcome = {MessageIcon::None,
                   QString(),
                   unexpectedErrorText(),
                   QString::fromUtf8(error.what())};
    } catch (...) {
        outcome = {MessageIcon::None, QString(), unexpectedErrorText(), {}};
    }
    dialogs.showMessage(outcome.icon, outcome.caption, outcome.text, outcome.details);
}

} // namespace App
