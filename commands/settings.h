#pragma once

#include <QString>

#include <optional>

namespace Printer {
struct PortSettings;
}

namespace Commands {

// The address that receipt printers commonly leave the factory with: the window's address
// box and the command-line tool start with it.
inline QString defaultPrinterAddress()
{
    return QStringLiteral("192.168.123.100");
}

// The printer's NV memory, in bytes, that a download's definition must fit. Printers with
// more memory are served by NVLOGO_NV_CAPACITY (the window) or --nv-capacity (the
// command-line tool).
constexpr qint64 MinNvCapacity = 1024;
constexpr qint64 MaxNvCapacity = 64 * 1024 * 1024;
constexpr const char NvCapacityVariable[] = "NVLOGO_NV_CAPACITY";

// A whole number of bytes from MinNvCapacity to MaxNvCapacity, or nothing.
std::optional<qint64> parseNvCapacity(const QString &text);

// NVLOGO_NV_CAPACITY when it is set and valid (a bad value is reported on the log and
// ignored), else the common capacity.
qint64 nvCapacitySetting();

// The window's printer as the user knows it: the address, the queue or the port.
QString describeTarget(const Printer::PortSettings &port);

// The window's serial line's speed for a serial connection, else 0.
int serialBaudRate(const Printer::PortSettings &port);

// The whole seconds that bytes take on a serial line: ten bits each (start, eight data bits,
// stop), rounded up.
qint64 serialLineSeconds(qint64 bytes, int baudRate);

// Seconds as minutes and seconds, "4:05".
QString clockText(qint64 seconds);

} // namespace Commands
