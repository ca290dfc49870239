#include "jobs.h"

#include "commandstate.h"
#include "delivery.h"
#include "downloadcommand.h"

#include <escpos/commands.h>

#include <QElapsedTimer>

namespace Commands {

namespace {

using std::chrono::milliseconds;

void fail(JobRow &row, const Printer::Failure &failure)
{
    row.state = failure.kind == Printer::FailureKind::Cancelled ? JobRow::State::Stopped
                                                                : JobRow::State::Failed;
    row.failure = failure.kind;
    row.reason = failure.reason;
}

// A conversation's answer on a link opened for it, and how the close went.
template<typename T>
struct Talked
{
    Printer::Result<T> answer;
    Printer::Result<void> closed;
};

// Opens the link, holds the conversation and closes: an open that fails is the answer.
template<typename Conversation>
auto talk(PrinterLink &link, Conversation conversation)
        -> Talked<typename decltype(conversation())::Value>
{
    const Printer::Result<void> opened = link.open();
    if (!opened.ok())
        return {opened.failure(), {}};
    auto answer = conversation();
    Printer::Result<void> closed = link.close();
    return {std::move(answer), std::move(closed)};
}

void notConfirmed(JobRow &row, const QString &reason)
{
    row.state = JobRow::State::NotReady;
    row.reason = QStringLiteral("sent, not confirmed: %1").arg(reason);
}

// A delivery's outcome as the row's state.
void deliver(PrinterLink &link,
             const QByteArray &bytes,
             const Delivery &how,
             Progress &progress,
             JobRow &row)
{
    CommandState state;
    const Outcome outcome = Commands::deliver(link, bytes, how, state, &progress);
    row.delivery = outcome;
    row.bytes = outcome.kind == Outcome::Kind::Delivered ? bytes.size() : link.lastMoved();
    switch (outcome.kind) {
    case Outcome::Kind::Delivered:
    case Outcome::Kind::NothingDone:
        row.state = JobRow::State::Done;
        return;
    case Outcome::Kind::Stopped:
        row.state = JobRow::State::Stopped;
        row.reason = outcome.text;
        return;
    case Outcome::Kind::Refused:
    case Outcome::Kind::Failed:
        break;
    }
    row.state = JobRow::State::Failed;
    row.reason = outcome.details.isEmpty() ? outcome.text : outcome.details;
}

void waitUntilBack(PrinterLink &link, milliseconds bound, Progress &progress, JobRow &row)
{
    const Printer::Result<milliseconds> waited = waitUntilReady(link, bound, &progress);
    (void)link.close();
    if (waited.ok()) {
        row.readyAfter = waited.value();
        return;
    }
    row.state = waited.failure().kind == Printer::FailureKind::Cancelled ? JobRow::State::Stopped
                                                                         : JobRow::State::NotReady;
    row.reason = QStringLiteral("delivered, but the printer's state is unknown: %1")
                         .arg(waited.failure().reason);
}

void printConfirmedJob(PrinterLink &link,
                       const QByteArray &bytes,
                       milliseconds timeout,
                       Progress &progress,
                       JobRow &row)
{
    const auto [printed, closed]
            = talk(link, [&] { return printConfirmed(link, bytes, timeout, &progress); });
    if (!printed.ok())
        return fail(row, printed.failure());
    switch (printed.value().result) {
    case PrintConfirmation::Printed:
        row.bytes = bytes.size();
        if (!closed.ok())
            return fail(row, closed.failure());
        row.state = JobRow::State::Done;
        return;
    case PrintConfirmation::NotReady:
        row.state = JobRow::State::NotReady;
        row.reason = QStringLiteral("nothing was printed: %1").arg(printed.value().reason);
        return;
    case PrintConfirmation::Unconfirmed:
        row.bytes = bytes.size();
        return notConfirmed(row, printed.value().reason);
    }
}

void defineOne(PrinterLink &link,
               const GraphicDefine &define,
               milliseconds timeout,
               Progress &progress,
               JobRow &row)
{
    const auto [defined, closed]
            = talk(link, [&] { return defineGraphic(link, define, timeout, &progress); });
    if (!defined.ok())
        return fail(row, defined.failure());
    row.defined = defined.value();
    row.bytes = define.command.size();
    switch (defined.value().result) {
    case DefineResult::Stored:
        if (!closed.ok())
            return fail(row, closed.failure());
        row.state = JobRow::State::Done;
        return;
    case DefineResult::Refused:
        row.bytes = 0;
        row.state = JobRow::State::Failed;
        row.reason = QStringLiteral("%1 %2; nothing was sent")
                             .arg(keyText(define.key), defined.value().reason);
        return;
    case DefineResult::Unconfirmed:
        return notConfirmed(row, defined.value().reason);
    }
}

void deleteOne(PrinterLink &link,
               const QByteArray &key,
               milliseconds timeout,
               Progress &progress,
               JobRow &row)
{
    const auto [deleted, closed]
            = talk(link, [&] { return deleteGraphic(link, key, timeout, &progress); });
    if (!deleted.ok())
        return fail(row, deleted.failure());
    row.bytes = key.isEmpty() ? EscPos::nvGraphicsDeleteAll().size()
                              : EscPos::nvGraphicsDelete(key).size();
    if (!deleted.value().confirmed)
        return notConfirmed(row, deleted.value().reason);
    if (!closed.ok())
        return fail(row, closed.failure());
    row.state = JobRow::State::Done;
}

void statusOne(PrinterLink &link, milliseconds timeout, Progress &progress, JobRow &row)
{
    const Printer::Result<PrinterReport> report
            = talk(link, [&] { return askStatus(link, timeout, &progress); }).answer;
    if (!report.ok())
        return fail(row, report.failure());
    row.report = report.value();
    const QString why = notReadyReason(report.value().status);
    row.state = why.isEmpty() ? JobRow::State::Done : JobRow::State::NotReady;
    row.reason = why;
}

} // namespace

Job downloadJob(QByteArray stream, milliseconds waitReady)
{
    return [stream = std::move(stream),
            waitReady](PrinterLink &link, Progress &progress, JobRow &row) {
        deliver(link,
                stream,
                {Delivery::Framing::PrintQueueOnly,
                 downloadDelivered(),
                 partialDefinitionDetails()},
                progress,
                row);
        if (row.state == JobRow::State::Done && waitReady.count() > 0)
            waitUntilBack(link, waitReady, progress, row);
    };
}

Job printJob(QByteArray bytes, bool confirm, milliseconds timeout)
{
    return [bytes = std::move(bytes), confirm, timeout](
                   PrinterLink &link, Progress &progress, JobRow &row) {
        if (confirm)
            return printConfirmedJob(link, bytes, timeout, progress, row);
        const Outcome printed{Outcome::Kind::Delivered, MessageIcon::None, {}, {}, {}};
        deliver(link, bytes, {Delivery::Framing::Always, printed, {}}, progress, row);
    };
}

Job defineJob(GraphicDefine define, milliseconds timeout)
{
    return [define = std::move(define),
            timeout](PrinterLink &link, Progress &progress, JobRow &row) {
        defineOne(link, define, timeout, progress, row);
    };
}

Job deleteJob(QByteArray key, milliseconds timeout)
{
    return [key = std::move(key), timeout](PrinterLink &link, Progress &progress, JobRow &row) {
        deleteOne(link, key, timeout, progress, row);
    };
}

Job statusJob(milliseconds timeout)
{
    return [timeout](PrinterLink &link, Progress &progress, JobRow &row) {
        statusOne(link, timeout, progress, row);
    };
}

JobRow runJob(Printer::PosLibrary &library,
              const Printer::Target &target,
              const Job &job,
              Progress &progress)
{
    JobRow row;
    row.target = target;
    QElapsedTimer timer;
    timer.start();
    try {
        PrinterLink link(library, target);
        job(link, progress, row);
    } catch (const std::exception &error) {
        row.state = JobRow::State::Failed;
        row.failure = Printer::FailureKind::Io;
        row.reason = QString::fromUtf8(error.what());
    } catch (...) {
        row.state = JobRow::State::Failed;
        row.failure = Printer::FailureKind::Io;
        row.reason = QStringLiteral("Unexpected error");
    }
    row.seconds = double(timer.nsecsElapsed()) / 1e9;
    if (row.state == JobRow::State::Waiting) {
        row.state = JobRow::State::Failed;
        row.reason = QStringLiteral("Nothing was done");
    }
    // A job that a stop cut short did not fail on its own, and is not merely unconfirmed.
    if (progress.stopRequested() && row.state != JobRow::State::Done) {
        row.state = JobRow::State::Stopped;
        if (!row.reason.startsWith(QLatin1String("Stopped")))
            row.reason = QStringLiteral("Stopped: %1").arg(row.reason);
    }
    return row;
}

} // namespace Commands
