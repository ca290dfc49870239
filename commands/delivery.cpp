#include "delivery.h"

#include "commandstate.h"
#include "messages.h"
#include "printerlink.h"

namespace Commands {

namespace {

// The write inside its frame; the frame's answers are kept as the window keeps them.
Printer::Result<void> framedWrite(PrinterLink &link,
                                  const QByteArray &bytes,
                                  const Delivery &how,
                                  CommandState &state,
                                  Progress *progress)
{
    const bool framed = how.framing == Delivery::Framing::Always || link.framesDocuments();
    if (framed) {
        (void)link.startDocument();
        if (how.framing == Delivery::Framing::Always)
            state.DocStatus = link.lastResult() != 0 ? -1 : 0;
        else
            state.CallResult = link.lastResult();
    }
    setStage(progress, Progress::Stage::Sending);
    if (progress)
        progress->bytesMoved(0, bytes.size());
    Printer::Result<void> written = link.send(bytes, progress);
    state.CallResult = link.lastResult();
    if (written.ok() && progress)
        progress->bytesMoved(bytes.size(), bytes.size());
    if (!framed)
        return written;
    // A print queue has the job only once the server accepted its end.
    const Printer::Result<void> ended = link.endDocument();
    if (how.framing == Delivery::Framing::Always)
        state.DocStatus = link.lastResult() != 0 ? -1 : 0;
    else
        state.CallResult = link.lastResult();
    return written.ok() ? ended : written;
}

} // namespace

QString reasonWithHint(const Printer::Failure &failure, Printer::PortKind port)
{
    const QString hint = Printer::failureHint(failure.kind, port);
    return hint.isEmpty() ? failure.reason : failure.reason + QLatin1Char('\n') + hint;
}

Outcome failedToOpen(const Printer::Failure &failure, Printer::PortKind port)
{
    return {Outcome::Kind::Failed,
            MessageIcon::Critical,
            errorCaption(),
            failToOpenPortText(),
            reasonWithHint(failure, port)};
}

Outcome failedToSend(const Printer::Failure &failure, Printer::PortKind port)
{
    return {Outcome::Kind::Failed,
            MessageIcon::Critical,
            errorCaption(),
            failToSendText(),
            reasonWithHint(failure, port)};
}

Outcome stoppedBeforeSending()
{
    return {Outcome::Kind::Stopped,
            MessageIcon::Information,
            infoCaption(),
            QStringLiteral("Stopped before sending; nothing was sent to the printer."),
            {}};
}

Outcome stoppedWhileSending(qint64 moved, qint64 total, const QString &details)
{
    return {Outcome::Kind::Stopped,
            MessageIcon::Warning,
            infoCaption(),
            QStringLiteral("Stopped after %1 of %2 bytes were sent.").arg(moved).arg(total),
            details};
}

Outcome refused(const QString &text, const QString &details)
{
    return {Outcome::Kind::Refused, MessageIcon::Warning, errorCaption(), text, details};
}

Outcome unexpected(const QString &details)
{
    return {Outcome::Kind::Failed, MessageIcon::None, QString(), unexpectedErrorText(), details};
}

Outcome deliver(PrinterLink &link,
                const QByteArray &bytes,
                const Delivery &how,
                CommandState &state,
                Progress *progress)
{
    setStage(progress, Progress::Stage::Opening);
    const Printer::Result<void> opened = link.open();
    state.PortHandle = link.handle();
    const Printer::PortKind kind = link.target().kind();
    if (!opened.ok())
        return failedToOpen(opened.failure(), kind);
    if (stopRequested(progress)) {
        (void)link.close();
        state.CallResult = link.lastResult();
        return stoppedBeforeSending();
    }
    const Printer::Result<void> written = framedWrite(link, bytes, how, state, progress);
    setStage(progress, Progress::Stage::Closing);
    const Printer::Result<void> closed = link.close();
    state.CallResult = link.lastResult();
    if (!written.ok() && written.failure().kind == Printer::FailureKind::Cancelled)
        return stoppedWhileSending(link.lastMoved(), bytes.size(), how.stoppedDetails);
    if (!written.ok())
        return failedToSend(written.failure(), kind);
    // The last bytes may still be on their way until the close; a print queue finishes its
    // job there.
    if (!closed.ok())
        return failedToSend(closed.failure(), kind);
    return how.onSuccess;
}

} // namespace Commands
