#pragma once

// What became of an action on one printer, in the few words a row of a printer list has room
// for; the row's reason keeps the whole story.

#include "jobs.h"

#include <QString>

namespace Commands {

enum class PrinterAction {
    TestPrint,      // a print-out with the printer's confirmation where it can give one
    StoreGraphic,   // an NV graphic defined by key
    DeleteGraphics, // one key, or every one
    DownloadImages  // NV bit images by FS q
};

// "Printed", "Not ready: paper out", "Stored L3", "Refused: too little memory",
// "Ready again after 3.4 s", "No answer", "Stopped", ...
QString resultLine(PrinterAction action, const JobRow &row);

// What the action does while bytes move, and once they all reached the printer.
QString sendingLine(PrinterAction action, qint64 moved, qint64 total);

} // namespace Commands
