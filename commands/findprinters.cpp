#include "findprinters.h"

#include "askprinter.h"
#include "pool.h"

#include <algorithm>
#include <future>

namespace Commands {

namespace {

using Printer::ScanAnswer;
using Printer::ScanHit;

// A scanned address that accepted, as what its answer to the questions makes it.
Printer::PrinterInfo scannedInfo(const ScanHit &hit, const JobRow &row)
{
    Printer::PrinterInfo info;
    info.target = hit.target;
    info.source = Printer::FoundBy::Scan;
    info.origin = hit.address;
    if (row.report) {
        info.model = row.report->model.value_or(QString());
        info.firmware = row.report->firmware.value_or(QString());
    } else if (row.failure == Printer::FailureKind::Timeout) {
        info.note = QStringLiteral("takes raw printing, does not answer");
    } else if (row.state == JobRow::State::Stopped) {
        info.note = QStringLiteral("accepts connections; the search stopped before it answered");
        info.isPrinter = false;
    } else {
        info.note = QStringLiteral("accepts connections, but does not answer as an ESC/POS "
                                   "printer: %1")
                            .arg(row.reason);
        info.isPrinter = false;
    }
    return info;
}

// The entry a source listed already for the target: a printer announced over DNS-SD.
FoundPrinter *announced(QList<FoundPrinter> &printers, const Printer::Target &target)
{
    const QString key = target.key();
    for (FoundPrinter &printer : printers) {
        if (printer.info.source == Printer::FoundBy::DnsSd && printer.info.target.key() == key)
            return &printer;
    }
    return nullptr;
}

void addScanned(FindResult &result, const ScanHit &hit, const JobRow &row)
{
    Printer::PrinterInfo scanned = scannedInfo(hit, row);
    FoundPrinter *known = announced(result.printers, hit.target);
    if (!known) {
        result.printers.append({scanned, row});
        return;
    }
    Printer::PrinterInfo &info = known->info;
    known->asked = row;
    if (!scanned.model.isEmpty())
        info.model = scanned.model;
    info.firmware = scanned.firmware;
    info.isPrinter = scanned.isPrinter;
    info.note = QStringLiteral("announced as \"%1\"").arg(info.origin);
    if (!scanned.note.isEmpty())
        info.note = scanned.note + QStringLiteral("; ") + info.note;
}

void markSame(QList<FoundPrinter> &printers)
{
    QList<Printer::PrinterInfo> infos;
    for (const FoundPrinter &printer : printers)
        infos.append(printer.info);
    Printer::markSamePrinters(infos);
    for (qsizetype i = 0; i < printers.size(); ++i)
        printers[i].info.sameAs = infos.at(i).sameAs;
}

struct Scanned
{
    ScanHit hit;
    JobRow row;
};

// The ranges scanned, and every address that accepted asked; what went wrong in remarks.
QList<Scanned>
scanAndAsk(Printer::PosLibrary &library, const FindRequest &request, QStringList &remarks)
{
    if (request.scan.isEmpty())
        return {};
    Printer::ScanOptions options;
    options.timeout = request.timeout;
    options.progress = request.scanProgress;
    options.stopRequested = request.stopRequested;
    const QList<ScanHit> hits = Printer::scanAddresses(request.scan, options);
    QList<Printer::Target> accepted;
    QList<Scanned> scanned;
    for (const ScanHit &hit : hits) {
        if (hit.answer == ScanAnswer::Accepted) {
            accepted.append(hit.target);
            scanned.append({hit, {}});
        } else if (hit.answer == ScanAnswer::Failed && !remarks.contains(hit.reason)) {
            remarks << hit.reason; // a name that did not resolve, the stop, an error
        }
    }
    remarks << scanSummary(hits);
    if (accepted.isEmpty())
        return {};
    PoolRun run;
    run.jobs = std::clamp(int(accepted.size()), 1, MaxJobs);
    run.stopRequested = request.stopRequested;
    const std::vector<JobRow> rows = runPool(library, accepted, statusJob(request.timeout), run);
    for (qsizetype i = 0; i < scanned.size(); ++i)
        scanned[i].row = rows.at(size_t(i));
    return scanned;
}

} // namespace

QString scanSummary(const QList<ScanHit> &hits)
{
    int counts[5] = {};
    for (const ScanHit &hit : hits)
        ++counts[int(hit.answer)];
    QStringList parts;
    const std::pair<ScanAnswer, const char *> words[] = {{ScanAnswer::Accepted, "accepted"},
                                                         {ScanAnswer::Refused, "refused"},
                                                         {ScanAnswer::Silent, "did not answer"},
                                                         {ScanAnswer::Unreachable, "unreachable"},
                                                         {ScanAnswer::Failed, "failed"}};
    for (const auto &[answer, word] : words) {
        if (counts[int(answer)] > 0)
            parts << QStringLiteral("%1 %2").arg(counts[int(answer)]).arg(QLatin1String(word));
    }
    return QStringLiteral("scanned %1 %2: %3")
            .arg(hits.size())
            .arg(QLatin1String(hits.size() == 1 ? "address" : "addresses"),
                 parts.join(QStringLiteral(", ")));
}

FindResult findPrinters(Printer::PosLibrary &library, const FindRequest &request)
{
    // The local sources take their time (the DNS-SD browse about a second) while the scan
    // runs here.
    std::future<Printer::Discovery> local
            = std::async(std::launch::async, [sources = request.sources] {
                  return Printer::discoverPrinters(sources);
              });
    QStringList scanRemarks;
    const QList<Scanned> scanned = scanAndAsk(library, request, scanRemarks);
    const Printer::Discovery found = local.get();
    FindResult result;
    result.remarks = found.remarks + scanRemarks;
    for (const Printer::PrinterInfo &info : found.printers)
        result.printers.append({info, std::nullopt});
    for (const Scanned &one : scanned)
        addScanned(result, one.hit, one.row);
    markSame(result.printers);
    return result;
}

} // namespace Commands
