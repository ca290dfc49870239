#pragma once

// What one printer's details show: its status, and the NV graphics it holds with its memory,
// asked in one conversation.

#include "graphicscommand.h"
#include "jobs.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace Printer {
class PosLibrary;
}

namespace Commands {

// The NV graphics a printer holds: their keys, and the memory they take from.
struct GraphicsHoldings
{
    GraphicsMemory memory;
    QList<QByteArray> keys;
};

// Drops what the printer sent before, then asks the NV graphics memory and the key list,
// each answer within timeout.
Printer::Result<GraphicsHoldings>
askHoldings(PrinterLink &link, std::chrono::milliseconds timeout, const Progress *stop = nullptr);

struct PrinterDetails
{
    JobRow status; // a status job's row: the report, or why there is none
    std::optional<GraphicsHoldings> holdings;
    QString holdingsReason; // why there are no holdings
};

// Opens the printer, asks its status and, when it answered, its NV graphics; then closes.
// Nothing escapes: a library that cannot be loaded fails the status row.
PrinterDetails askDetails(Printer::PosLibrary &library,
                          const Printer::Target &target,
                          std::chrono::milliseconds timeout,
                          Progress &progress);

} // namespace Commands
