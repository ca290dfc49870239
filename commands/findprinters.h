#pragma once

// Which printers are here, with what they say about themselves: the printer layer's discovery,
// and the status questions (DLE EOT 1 to 4, GS I model and firmware) put to every scanned
// address that accepts a connection. Only addresses the user named are asked.

#include "jobs.h"

#include <printer/discovery.h>

#include <QList>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace Printer {
class PosLibrary;
}

namespace Commands {

// One printer found, or one port a printer may be behind.
struct FoundPrinter
{
    Printer::PrinterInfo info;
    // What the status questions got from a scanned address that accepted.
    std::optional<JobRow> asked;

    // A printer: one the system knows as such, one that answered as an ESC/POS printer, or one
    // that takes raw printing without answering.
    bool isPrinter() const { return info.isPrinter; }
};

struct FindRequest
{
    Printer::DiscoveryOptions sources;
    QList<Printer::ScanRange> scan; // the hosts the user named; none: no scan
    // How long each scanned address has to accept, and then to answer the questions.
    std::chrono::milliseconds timeout{1000};
    std::function<bool()> stopRequested;
    // The scan's progress, on the calling thread.
    std::function<void(const Printer::ScanProgress &)> scanProgress;
};

struct FindResult
{
    QList<FoundPrinter> printers;
    QStringList remarks; // sources that could not be read, names that did not resolve, the scan
};

// Looks in the request's sources, then scans its ranges and asks every address that accepts;
// a scanned address that a source listed already (announced over DNS-SD) adds what it
// answered to that entry.
FindResult findPrinters(Printer::PosLibrary &library, const FindRequest &request);

// What the scan of a number of addresses came to, in one line: "254 addresses scanned: 3
// accept connections, 1 refuses, 250 do not answer".
QString scanSummary(const QList<Printer::ScanHit> &hits);

} // namespace Commands
