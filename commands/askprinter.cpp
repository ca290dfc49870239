#include "askprinter.h"

#include "messages.h"

#include <escpos/commands.h>

#include <QRandomGenerator>
#include <QStringList>
#include <QThread>

#include <algorithm>

namespace Commands {

namespace {

using std::chrono::milliseconds;

// The longest wait for a model or firmware answer, which not every printer gives.
constexpr milliseconds IdentityWait{1000};
// How often a printer in its reset is asked whether it is back.
constexpr milliseconds ReadyPollInterval{500};

Printer::Failure failure(Printer::FailureKind kind, const QString &reason)
{
    return Printer::Failure{kind, reason};
}

// Sleeps until the time or a stop, whichever comes first.
bool sleepUntil(Clock::time_point until, const Progress *stop)
{
    while (Clock::now() < until) {
        if (stop && stop->stopRequested())
            return false;
        const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
        QThread::msleep(static_cast<unsigned long>(std::clamp<qint64>(left.count(), 1, 50)));
    }
    return !(stop && stop->stopRequested());
}

// The answer to one DLE EOT n: the status byte, nothing when none came before deadline.
// Replies of other kinds (a late identity answer, a completion) are passed over.
Printer::Result<std::optional<quint8>>
statusReply(PrinterLink &link, int n, Clock::time_point deadline, const Progress *stop)
{
    const Printer::Result<void> sent = link.send(EscPos::realtimeStatus(n));
    if (!sent.ok())
        return sent.failure();
    for (;;) {
        auto reply = link.nextReply(deadline, stop);
        if (!reply.ok())
            return reply.failure();
        if (!reply.value())
            return std::optional<quint8>{};
        if (reply.value()->kind == EscPos::Reply::Kind::Status)
            return std::optional<quint8>{reply.value()->byte};
    }
}

std::optional<QString>
askIdentity(PrinterLink &link, int n, Clock::time_point deadline, const Progress *stop)
{
    if (!link.send(EscPos::transmitPrinterId(n)).ok())
        return std::nullopt;
    const Clock::time_point until = std::min(deadline, Clock::now() + IdentityWait);
    for (;;) {
        auto reply = link.nextReply(until, stop);
        if (!reply.ok() || !reply.value())
            return std::nullopt;
        if (reply.value()->kind == EscPos::Reply::Kind::Text)
            return EscPos::decodeText(*reply.value());
    }
}

QByteArray processId()
{
    // Printable, and not the same from one print-out to the next, so that the answer to an
    // earlier request cannot pass for this one's.
    QByteArray id(4, '\0');
    for (char &c : id)
        c = static_cast<char>(QRandomGenerator::global()->bounded(EscPos::PrintableMin + 1,
                                                                  EscPos::PrintableMax + 1));
    return id;
}

} // namespace

Printer::Result<PrinterReport>
askStatus(PrinterLink &link, milliseconds timeout, const Progress *stop)
{
    if (!link.canRead())
        return link.cannotRead();
    const Clock::time_point deadline = Clock::now() + timeout;
    if (const Printer::Result<void> quiet = link.dropStaleBytes(deadline); !quiet.ok())
        return quiet.failure();
    PrinterReport report;
    const qint64 skippedBefore = link.reader().skipped();
    for (int n = 1; n <= 4; ++n) {
        auto byte = statusReply(link, n, deadline, stop);
        if (!byte.ok())
            return byte.failure();
        if (!byte.value()) {
            if (link.reader().skipped() > skippedBefore) {
                return failure(Printer::FailureKind::Io,
                               QStringLiteral("%1 answered with bytes that are not status "
                                              "replies")
                                       .arg(link.display()));
            }
            return failure(Printer::FailureKind::Timeout,
                           QStringLiteral("%1 did not answer within %2 s")
                                   .arg(link.display(), secondsText(timeout)));
        }
        EscPos::applyStatusReply(n, *byte.value(), report.status);
    }
    report.model = askIdentity(link, EscPos::PrinterIdModel, deadline, stop);
    report.firmware = askIdentity(link, EscPos::PrinterIdFirmware, deadline, stop);
    return report;
}

QString notReadyReason(const EscPos::PrinterStatus &status)
{
    QStringList reasons;
    if (!status.online)
        reasons << QStringLiteral("offline");
    if (status.coverOpen)
        reasons << QStringLiteral("cover open");
    if (status.paper == EscPos::Paper::End)
        reasons << QStringLiteral("paper out");
    if (status.error != EscPos::PrinterError::None)
        reasons << QStringLiteral("%1 error").arg(EscPos::errorName(status.error));
    return reasons.join(QStringLiteral(", "));
}

namespace {

// One question of a wait until ready, on a link that is open or opens now: whether the
// printer says it is online. Nothing when no answer came by until. drained tells whether what
// the printer sent before on this connection was dropped already.
Printer::Result<std::optional<bool>>
askOnline(PrinterLink &link, Clock::time_point until, const Progress *stop, bool &drained)
{
    if (!link.isOpen()) {
        drained = false;
        const Printer::Result<void> opened = link.open();
        if (!opened.ok())
            return opened.failure();
    }
    if (!link.canRead())
        return link.cannotRead();
    // Only an answer to a question asked now counts, not a status sent on connect or before.
    if (!drained) {
        const Printer::Result<void> quiet = link.dropStaleBytes(until);
        if (!quiet.ok())
            return quiet.failure();
        drained = true;
    }
    auto byte = statusReply(link, 1, until, stop);
    if (!byte.ok())
        return byte.failure();
    if (!byte.value())
        return std::optional<bool>{};
    EscPos::PrinterStatus status;
    return std::optional<bool>{EscPos::applyStatusReply(1, *byte.value(), status) && status.online};
}

} // namespace

Printer::Result<milliseconds>
waitUntilReady(PrinterLink &link, milliseconds bound, const Progress *stop)
{
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + bound;
    Printer::Failure last = failure(Printer::FailureKind::Timeout, QString());
    bool drained = false;
    while (Clock::now() < deadline) {
        if (stop && stop->stopRequested())
            return failure(Printer::FailureKind::Cancelled, QStringLiteral("Stopped"));
        // About two questions a second, whatever the last one met.
        const Clock::time_point nextAsk = std::min(Clock::now() + ReadyPollInterval, deadline);
        const auto online = askOnline(link, nextAsk, stop, drained);
        if (online.ok() && online.value() && *online.value())
            return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        if (!online.ok()) {
            last = online.failure();
            if (last.kind == Printer::FailureKind::Cancelled
                || last.kind == Printer::FailureKind::Unsupported)
                return last;
            // Most often the printer closed the connection for its reset: ask again anew.
            (void)link.close();
        } else if (online.value()) {
            last = failure(Printer::FailureKind::Timeout,
                           QStringLiteral("%1 still reports offline").arg(link.display()));
        }
        sleepUntil(nextAsk, stop);
    }
    QString why = QStringLiteral("%1 did not report ready within %2 s")
                          .arg(link.display(), secondsText(bound));
    if (!last.reason.isEmpty())
        why += QStringLiteral(" (last: %1)").arg(last.reason);
    return failure(Printer::FailureKind::Timeout, why);
}

Printer::Result<ConfirmedPrint> printConfirmed(PrinterLink &link,
                                               const QByteArray &printOut,
                                               milliseconds timeout,
                                               const Progress *stop)
{
    const auto before = askStatus(link, timeout, stop);
    if (!before.ok())
        return before.failure();
    if (!before.value().status.ready())
        return ConfirmedPrint{PrintConfirmation::NotReady,
                              QStringLiteral("%1 is not ready: %2")
                                      .arg(link.display(), notReadyReason(before.value().status))};

    Printer::Result<void> sent = link.send(printOut);
    if (!sent.ok())
        return sent.failure();
    const QByteArray id = processId();
    sent = link.send(EscPos::transmitWhenProcessed(id));
    if (!sent.ok())
        return sent.failure();

    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        auto reply = link.nextReply(deadline, stop);
        if (!reply.ok())
            return reply.failure();
        if (!reply.value())
            break;
        if (reply.value()->kind == EscPos::Reply::Kind::Block
            && EscPos::decodeProcessedId(*reply.value()) == id)
            return ConfirmedPrint{PrintConfirmation::Printed, QString()};
    }

    // No confirmation: say what the printer reports now, if it still answers.
    const auto after = askStatus(link, timeout, stop);
    QString reason = QStringLiteral("the printer did not confirm printing within %1 s")
                             .arg(secondsText(timeout));
    if (after.ok() && !after.value().status.ready())
        reason = notReadyReason(after.value().status);
    return ConfirmedPrint{PrintConfirmation::Unconfirmed, reason};
}

} // namespace Commands
