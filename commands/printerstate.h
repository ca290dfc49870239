#pragma once

// A printer's state in one word, as a list of printers shows it, from what a status question
// found out.

#include "askprinter.h"
#include "jobs.h"

#include <escpos/replies.h>

#include <QString>

namespace Commands {

enum class PrinterState {
    Unknown,      // not asked yet
    Ready,        // online, paper, cover closed, no error
    PaperNearEnd, // ready, but the roll is near its end
    PaperOut,
    CoverOpen,
    Offline,
    Error,        // which one: the status's error
    NotAnswering, // no connection, or no answer in time
    CannotHear    // the connection has no back channel
};

// The one state that matters most when several hold: an error before an open cover, before
// paper out, before offline (printers go offline for each of them), before paper near its end.
PrinterState stateOf(const EscPos::PrinterStatus &status);
// What a status job's row says: the answer's state, or why there was none.
PrinterState stateOf(const JobRow &statusRow);

// "Ready", "Paper near its end", "Error (autocutter)", "Cannot hear (no back channel)".
QString stateName(PrinterState state, const EscPos::PrinterStatus &status = {});

// The status in words: whether it is ready, then a line of online, paper, cover and error.
QString statusWords(const PrinterReport &report);

} // namespace Commands
