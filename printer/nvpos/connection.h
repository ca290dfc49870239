#pragma once

#include "nvpos.h"

#include <QLoggingCategory>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

Q_DECLARE_LOGGING_CATEGORY(lcNvPos)

namespace Printer::NvPos {

using Result = std::int32_t;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// One open connection to a printer. The library's lock is held around every call.
class Connection
{
public:
    virtual ~Connection() = default;

    // Sends every byte and returns count, or a negative NVPOS_ERR_ result.
    virtual Result write(const char *data, std::int32_t count) = 0;

    // Document framing; only a print queue has documents.
    virtual Result startDoc() { return NVPOS_OK; }
    virtual Result endDoc() { return NVPOS_OK; }

    // Called once, just before the connection is destroyed.
    virtual Result close() { return NVPOS_OK; }
};

struct SerialSettings
{
    std::int32_t baudRate = 0;
    std::int32_t dataBits = 8;
    std::int32_t parity = 0;   // 0 none, 1 odd, 2 even
    std::int32_t stopBits = 1; // 1 or 2
    bool hardwareFlowControl = true;
};

// How long a TCP connect, or the connect to the print server, may take.
Milliseconds connectTimeout();

// How long a write may go without moving a byte, and how long the print server may take to
// answer: 10 s, or NVPOS_WRITE_TIMEOUT_MS.
Milliseconds noProgressTimeout();

// RTS/CTS unless NVPOS_SERIAL_FLOW=none.
bool serialHardwareFlowControl();

// One factory per kind of connection. Each logs why and returns nullptr when it cannot open.
std::unique_ptr<Connection> openEthernet(const std::string &name);
std::unique_ptr<Connection> openSerial(const std::string &name, const SerialSettings &settings);
std::unique_ptr<Connection> openParallel(const std::string &name);
std::unique_ptr<Connection> openDriver(const std::string &name);

} // namespace Printer::NvPos
