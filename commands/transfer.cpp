#include "transfer.h"

#include "commandstate.h"
#include "messages.h"

#include <printer/poslibrary.h>

#include <QScopeGuard>

namespace Commands {

namespace {

struct Watch
{
    Progress *progress;
    qint64 moved = 0;
};

// Called by the printer library on the writing thread.
std::int32_t onBytesMoved(std::int64_t moved, std::int64_t total, void *context)
{
    auto watch = static_cast<Watch *>(context);
    watch->moved = moved;
    watch->progress->bytesMoved(moved, total);
    return watch->progress->stopRequested() ? 1 : 0;
}

QString reasonOr(const QString &reason, const QString &fallback)
{
    return reason.isEmpty() ? fallback : reason;
}

} // namespace

Transfer endDocument(Printer::PosLibrary &library, Transfer write, std::int32_t &endResult)
{
    endResult = library.POS_EndDoc();
    if (write.ok() && endResult < 0) {
        write.result = WriteFailed;
        write.reason = library.lastErrorText();
    }
    return write;
}

Outcome Transfer::outcome(const Outcome &onSuccess, const QString &stoppedDetails) const
{
    if (ok())
        return onSuccess;
    if (stopped()) {
        return {Outcome::Result::Stopped,
                MessageIcon::Warning,
                infoCaption(),
                QStringLiteral("Stopped after %1 of %2 bytes were sent.").arg(moved).arg(total),
                stoppedDetails};
    }
    return {Outcome::Result::Failed,
            MessageIcon::Critical,
            errorCaption(),
            failToSendText(),
            reasonOr(
                    reason,
                    QStringLiteral("The printer library gave no reason (result %1).").arg(result))};
}

Transfer writeWatched(Printer::PosLibrary &library,
                      CommandState &state,
                      const QByteArray &buffer,
                      Progress *progress)
{
    Transfer transfer;
    transfer.total = buffer.size();
    setStage(progress, Progress::Stage::Sending);
    if (progress)
        progress->bytesMoved(0, transfer.total);

    Watch watch{progress};
    const bool watched = progress && library.setProgressCallback(onBytesMoved, &watch);
    {
        const auto unwatch = qScopeGuard([&] {
            if (watched)
                library.setProgressCallback(nullptr, nullptr);
        });
        state.CallResult = library.POS_WriteFile(
                state.PortHandle, buffer.constData(), static_cast<std::int32_t>(buffer.size()));
    }
    transfer.result = state.CallResult;
    transfer.moved = watch.moved;
    if (transfer.ok()) {
        transfer.moved = transfer.total;
        if (progress)
            progress->bytesMoved(transfer.total, transfer.total);
    } else {
        transfer.reason = library.lastErrorText();
    }
    return transfer;
}

Outcome failedToOpen(Printer::PosLibrary &library)
{
    return {Outcome::Result::Failed,
            MessageIcon::Critical,
            errorCaption(),
            failToOpenPortText(),
            library.lastErrorText()};
}

Outcome stoppedBeforeSending()
{
    return {Outcome::Result::Stopped,
            MessageIcon::Information,
            infoCaption(),
            QStringLiteral("Stopped before sending; nothing was sent to the printer."),
            {}};
}

Outcome unexpected(const QString &details)
{
    return {Outcome::Result::Failed, MessageIcon::None, QString(), unexpectedErrorText(), details};
}

} // namespace Commands
