#include "fleetcommands.h"

#include "asking.h"
#include "commands.h"
#include "consoledialogs.h"

#include <commands/askprinter.h>
#include <commands/downloadcommand.h>
#include <commands/graphicscommand.h>
#include <commands/messages.h>
#include <commands/printerlink.h>
#include <commands/transfer.h>
#include <nvimage/errors.h>
#include <nvimage/picturesurface.h>

#include <QCommandLineParser>

namespace Cli {

namespace {

void fail(FleetRow &row, const Printer::Failure &failure)
{
    row.result = failure.kind == Printer::FailureKind::Cancelled ? FleetRow::Result::Stopped
                                                                 : FleetRow::Result::Failed;
    row.reason = failure.reason;
}

// Opens, sends the bytes in one write and closes; a print queue finishes its job at the
// close, so the close's failure is the row's too.
bool sendAll(Commands::PrinterLink &link,
             const QByteArray &bytes,
             FleetProgress &progress,
             FleetRow &row)
{
    const Printer::Result<void> opened = link.open();
    if (!opened.ok()) {
        fail(row, opened.failure());
        return false;
    }
    const Printer::Result<void> sent = link.send(bytes, &progress);
    const Printer::Result<void> closed = link.close();
    row.bytes = sent.ok() ? bytes.size() : std::min<qint64>(progress.moved(), bytes.size());
    if (!sent.ok()) {
        fail(row, sent.failure());
        return false;
    }
    if (!closed.ok()) {
        fail(row, closed.failure());
        return false;
    }
    row.result = FleetRow::Result::Ok;
    return true;
}

// The stream a download sends, with the same refusals; empty after telling why.
QByteArray downloadStream(const QStringList &pictures,
                          qint64 nvCapacity,
                          NvImage::Conversion conversion,
                          const Context &c)
{
    ConsoleDialogs dialogs({}, c.err);
    try {
        const qint32 total = NvImage::totalFileSize(pictures);
        if (!NvImage::totalFileSizeAccepted(total)) {
            dialogs.showMessage(Commands::MessageIcon::Warning,
                                QString(),
                                Commands::graphSizeOutOfRangeText(),
                                Commands::fileSizeDetails(total));
            return {};
        }
        NvImage::PictureSurface surface;
        return NvImage::buildNvImageStream(pictures, surface, nvCapacity, conversion);
    } catch (const NvImage::NvCapacityError &error) {
        dialogs.showMessage(Commands::MessageIcon::Warning,
                            QString(),
                            Commands::graphSizeOutOfRangeText(),
                            Commands::capacityDetails(error));
    } catch (const NvImage::PictureTooLargeError &error) {
        dialogs.showMessage(Commands::MessageIcon::Warning, QString(), error.message());
    } catch (const std::exception &error) {
        dialogs.show(Commands::unexpected(QString::fromUtf8(error.what())));
    }
    return {};
}

} // namespace

bool fleetOptions(const QCommandLineParser &parser,
                  FleetOptions &fleet,
                  const Context &c,
                  int &status)
{
    fleet.json = parser.isSet(QStringLiteral("json"));
    return fleetTargets(parser, fleet.targets, c, status)
           && jobsOption(parser, fleet.jobs, c, status);
}

bool isFleet(FleetOptions &fleet, const Printer::PortSettings &single)
{
    if (fleet.targets.size() > 1)
        return true;
    if (!fleet.json)
        return false;
    if (fleet.targets.isEmpty())
        fleet.targets.append(single);
    return true;
}

int downloadToMany(const QStringList &pictures,
                   qint64 nvCapacity,
                   NvImage::Conversion conversion,
                   std::chrono::milliseconds waitReady,
                   const FleetOptions &fleet,
                   const Context &c)
{
    // Decoded once; every worker reads this one buffer.
    const QByteArray stream = downloadStream(pictures, nvCapacity, conversion, c);
    if (stream.isEmpty())
        return Failure;
    FleetRun run;
    run.bytesEach = stream.size();
    run.jobs = fleet.jobs;
    const auto job = [&stream, waitReady](
                             Commands::PrinterLink &link, FleetProgress &progress, FleetRow &row) {
        if (!sendAll(link, stream, progress, row) || waitReady.count() <= 0)
            return;
        const Printer::Result<std::chrono::milliseconds> waited
                = Commands::waitUntilReady(link, waitReady, &progress);
        (void)link.close();
        if (!waited.ok()) {
            row.result = waited.failure().kind == Printer::FailureKind::Cancelled
                                 ? FleetRow::Result::Stopped
                                 : FleetRow::Result::NotReady;
            row.reason = QStringLiteral("delivered, but the printer's state is unknown: %1")
                                 .arg(waited.failure().reason);
        }
    };
    return finishFleet(runFleet(fleet.targets, run, job, c), fleet.json, c);
}

int printToMany(const QByteArray &printOut,
                bool confirm,
                std::chrono::milliseconds timeout,
                const FleetOptions &fleet,
                const Context &c)
{
    FleetRun run;
    run.jobs = fleet.jobs;
    const auto job = [&printOut, confirm, timeout](
                             Commands::PrinterLink &link, FleetProgress &progress, FleetRow &row) {
        if (!confirm) {
            sendAll(link, printOut, progress, row);
            return;
        }
        const Printer::Result<void> opened = link.open();
        if (!opened.ok())
            return fail(row, opened.failure());
        const Printer::Result<Commands::ConfirmedPrint> printed
                = Commands::printConfirmed(link, printOut, timeout, &progress);
        const Printer::Result<void> closed = link.close();
        if (!printed.ok())
            return fail(row, printed.failure());
        switch (printed.value().result) {
        case Commands::PrintConfirmation::Printed:
            row.bytes = printOut.size();
            if (!closed.ok())
                return fail(row, closed.failure());
            row.result = FleetRow::Result::Ok;
            return;
        case Commands::PrintConfirmation::NotReady:
            row.result = FleetRow::Result::NotReady;
            row.reason = QStringLiteral("nothing was printed: %1").arg(printed.value().reason);
            return;
        case Commands::PrintConfirmation::Unconfirmed:
            row.bytes = printOut.size();
            row.result = FleetRow::Result::NotReady;
            row.reason = QStringLiteral("sent, not confirmed: %1").arg(printed.value().reason);
            return;
        }
    };
    return finishFleet(runFleet(fleet.targets, run, job, c), fleet.json, c);
}

int defineGraphicOnMany(const QByteArray &key,
                        const QByteArray &define,
                        qint64 needed,
                        std::chrono::milliseconds timeout,
                        const FleetOptions &fleet,
                        const Context &c)
{
    FleetRun run;
    run.bytesEach = define.size();
    run.jobs = fleet.jobs;
    const auto job = [&](Commands::PrinterLink &link, FleetProgress &progress, FleetRow &row) {
        const Printer::Result<void> opened = link.open();
        if (!opened.ok())
            return fail(row, opened.failure());
        const auto defined = Commands::defineGraphic(link, key, define, needed, timeout, &progress);
        const Printer::Result<void> closed = link.close();
        row.bytes = std::min<qint64>(progress.moved(), define.size());
        if (!defined.ok())
            return fail(row, defined.failure());
        switch (defined.value().result) {
        case Commands::DefineResult::Stored:
            if (!closed.ok())
                return fail(row, closed.failure());
            row.result = FleetRow::Result::Ok;
            return;
        case Commands::DefineResult::Refused:
            row.result = FleetRow::Result::Failed;
            row.reason = QStringLiteral("%1 %2; nothing was sent")
                                 .arg(Commands::keyText(key), defined.value().reason);
            return;
        case Commands::DefineResult::Unconfirmed:
            row.result = FleetRow::Result::NotReady;
            row.reason = QStringLiteral("sent, not confirmed: %1").arg(defined.value().reason);
            return;
        }
    };
    return finishFleet(runFleet(fleet.targets, run, job, c), fleet.json, c);
}

int deleteGraphicOnMany(const QByteArray &key,
                        const QByteArray &command,
                        std::chrono::milliseconds timeout,
                        const FleetOptions &fleet,
                        const Context &c)
{
    FleetRun run;
    run.jobs = fleet.jobs;
    const auto job = [&](Commands::PrinterLink &link, FleetProgress &progress, FleetRow &row) {
        const Printer::Result<void> opened = link.open();
        if (!opened.ok())
            return fail(row, opened.failure());
        const Printer::Result<void> sent = link.send(command, &progress);
        if (!sent.ok()) {
            (void)link.close();
            return fail(row, sent.failure());
        }
        row.bytes = command.size();
        // The printer does not answer a delete; its key list tells whether it happened.
        const auto keys = Commands::askGraphicsKeys(link, timeout, &progress);
        const Printer::Result<void> closed = link.close();
        if (!keys.ok() && keys.failure().kind == Printer::FailureKind::Cancelled)
            return fail(row, keys.failure());
        if (!keys.ok())
            row.reason = keys.failure().reason;
        else if (key.isEmpty() && !keys.value().isEmpty())
            row.reason = QStringLiteral("still lists %1 keys").arg(keys.value().size());
        else if (!key.isEmpty() && keys.value().contains(key))
            row.reason = QStringLiteral("still lists %1").arg(Commands::keyText(key));
        if (!row.reason.isEmpty()) {
            row.result = FleetRow::Result::NotReady;
            row.reason = QStringLiteral("sent, not confirmed: %1").arg(row.reason);
            return;
        }
        if (!closed.ok())
            return fail(row, closed.failure());
        row.result = FleetRow::Result::Ok;
    };
    return finishFleet(runFleet(fleet.targets, run, job, c), fleet.json, c);
}

int statusOfMany(std::chrono::milliseconds timeout, const FleetOptions &fleet, const Context &c)
{
    FleetRun run;
    run.jobs = fleet.jobs;
    run.asksStatus = true;
    const auto job
            = [timeout](Commands::PrinterLink &link, FleetProgress &progress, FleetRow &row) {
                  const Printer::Result<void> opened = link.open();
                  const Printer::Result<Commands::PrinterReport> report
                          = opened.ok()
                                    ? Commands::askStatus(link, timeout, &progress)
                                    : Printer::Result<Commands::PrinterReport>(opened.failure());
                  (void)link.close();
                  row.status = statusJson(row.target, report);
                  if (!report.ok())
                      return fail(row, report.failure());
                  const QString why = Commands::notReadyReason(report.value().status);
                  row.result = why.isEmpty() ? FleetRow::Result::Ok : FleetRow::Result::NotReady;
                  row.reason = why;
              };
    return finishFleet(runFleet(fleet.targets, run, job, c), fleet.json, c);
}

} // namespace Cli
