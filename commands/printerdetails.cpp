#include "printerdetails.h"

namespace Commands {

using std::chrono::milliseconds;

Printer::Result<GraphicsHoldings>
askHoldings(PrinterLink &link, milliseconds timeout, const Progress *stop)
{
    if (!link.canRead())
        return link.cannotRead();
    if (const Printer::Result<void> quiet = link.dropStaleBytes(Clock::now() + timeout);
        !quiet.ok())
        return quiet.failure();
    const Printer::Result<GraphicsMemory> memory = askGraphicsMemory(link, timeout, stop);
    if (!memory.ok())
        return memory.failure();
    const Printer::Result<QList<QByteArray>> keys = askGraphicsKeys(link, timeout, stop);
    if (!keys.ok())
        return keys.failure();
    return GraphicsHoldings{memory.value(), keys.value()};
}

PrinterDetails askDetails(Printer::PosLibrary &library,
                          const Printer::Target &target,
                          milliseconds timeout,
                          Progress &progress)
{
    PrinterDetails details;
    details.holdingsReason = QStringLiteral("The printer was not asked.");
    const Job ask = [&](PrinterLink &link, Progress &stop, JobRow &row) {
        const Printer::Result<void> opened = link.open();
        const Printer::Result<PrinterReport> report
                = opened.ok() ? askStatus(link, timeout, &stop)
                              : Printer::Result<PrinterReport>(opened.failure());
        if (!report.ok()) {
            (void)link.close();
            row.state = report.failure().kind == Printer::FailureKind::Cancelled
                                ? JobRow::State::Stopped
                                : JobRow::State::Failed;
            row.failure = report.failure().kind;
            row.reason = report.failure().reason;
            details.holdingsReason = report.failure().reason;
            return;
        }
        row.report = report.value();
        const QString why = notReadyReason(report.value().status);
        row.state = why.isEmpty() ? JobRow::State::Done : JobRow::State::NotReady;
        row.reason = why;
        const Printer::Result<GraphicsHoldings> holdings = askHoldings(link, timeout, &stop);
        (void)link.close();
        if (holdings.ok())
            details.holdings = holdings.value();
        else
            details.holdingsReason = holdings.failure().reason;
    };
    details.status = runJob(library, target, ask, progress);
    return details;
}

} // namespace Commands
