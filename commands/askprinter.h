#pragma once

// Conversations with a printer that answers: its status, whether it is back after a reset,
// and whether a print-out really printed.

#include "printerlink.h"

#include <escpos/replies.h>

#include <QString>

#include <chrono>
#include <optional>

namespace Commands {

// What a printer said about itself.
struct PrinterReport
{
    EscPos::PrinterStatus status;
    std::optional<QString> model;
    std::optional<QString> firmware;
};

// Asks DLE EOT 1 to 4, then the model and firmware where the printer answers them; all
// within timeout. Fails (kind Timeout) when the printer does not answer the first request in
// time, (kind Io) when what comes back is no status reply, and (kind Unsupported) on a
// connection that cannot hear the printer.
Printer::Result<PrinterReport>
askStatus(PrinterLink &link, std::chrono::milliseconds timeout, const Progress *stop = nullptr);

// Why a printer that answered is not ready, in a few words ("paper out, cover open"); empty
// when it is ready.
QString notReadyReason(const EscPos::PrinterStatus &status);

// After a download: drains what the printer sent before, then asks DLE EOT 1 about twice a
// second until an answer says online, reconnecting when the printer closed the connection
// during its reset. Returns how long it waited for that answer.
Printer::Result<std::chrono::milliseconds>
waitUntilReady(PrinterLink &link, std::chrono::milliseconds bound, const Progress *stop = nullptr);

// What became of a confirmed print-out.
enum class PrintConfirmation {
    Printed,    // the printer reported the print-out processed
    NotReady,   // it was not ready before: nothing was sent
    Unconfirmed // sent, but no confirmation came in time
};

struct ConfirmedPrint
{
    PrintConfirmation result = PrintConfirmation::Unconfirmed;
    QString reason; // why it is not Printed
};

// Asks the status first (a printer that does not answer fails, one that is not ready gets
// nothing), then sends the print-out bytes in one write and GS ( H with a process ID, and
// waits up to timeout for the printer to report it processed.
Printer::Result<ConfirmedPrint> printConfirmed(PrinterLink &link,
                                               const QByteArray &printOut,
                                               std::chrono::milliseconds timeout,
                                               const Progress *stop = nullptr);

} // namespace Commands
