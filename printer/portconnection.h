#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <stdexcept>

namespace Printer {

class PosLibrary;

// The four kinds of connection, decided by the first three characters of the port text.
enum class PortKind { Unknown, Ethernet, Serial, Parallel, Driver };

// Compares the first three characters exactly ("ETH", "COM", "LPT", "DRI", in that order).
PortKind portKindOf(const QString &portText);

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

// A control text that does not convert to the number the command needs.
class ConversionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Opens one connection for the settings and returns the library's handle unchanged
// (-1: not opened), or 0 without any library call when the port text names no known kind.
// Waits 100 ms after every attempt. Throws ConversionError for a baud text that is not a
// number, before any call or wait, and PrinterLibraryError when the library cannot be loaded.
std::int32_t OpenPort(PosLibrary &library, const PortSettings &settings);

// Closes the connection opened last and returns the library's result.
std::int32_t ClosePort(PosLibrary &library);

} // namespace Printer
