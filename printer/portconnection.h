#pragma once

#include "target.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace Printer {

class PosLibrary;

// The window's settings as plain values, read from its controls when a command starts.
struct PortSettings
{
    QString portText;    // Combo1
    QString ipText;      // Text1
    QString printerName; // Combo2
    QString baudText;    // Combo3
    // The port as typed, when its text lost bytes (a device name that is not UTF-8); else empty.
    QByteArray portBytes = {};
};

// One open call of the library for the target, with the open mode of its kind, and the
// library's handle unchanged (-1: not opened); 0 without any call for an Unknown target.
// Throws PrinterLibraryError when the library cannot be loaded.
std::int32_t openTarget(PosLibrary &library, const Target &target);

// The window's open: the target of its settings (Target::fromWindowSettings), opened, then a
// wait of 100 ms, which printers need after a connection opens before they take data; also
// after a failed attempt or an Unknown target. Throws ConversionError for a baud text that is
// not a number, before any call or wait, and PrinterLibraryError when the library cannot be
// loaded.
std::int32_t OpenPort(PosLibrary &library, const PortSettings &settings);

// Closes the connection of the handle and returns the library's result.
std::int32_t ClosePort(PosLibrary &library, std::int32_t handle);

} // namespace Printer
