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

// The reason of the calling thread's last failure, for NVPOS_LastError.
const std::string &lastError();
void clearLastError();

// The one way a failure is reported: keeps the reason for this thread and logs it. Returns
// result, so that a transport can end with "return fail(NVPOS_ERR_IO, ...)".
Result fail(Result result, const std::string &reason);
// For the factories, which report a failure by returning nullptr.
std::nullptr_t failOpen(const std::string &reason);

// "<n> of <total> bytes", the count in every reason of a failed write.
std::string byteCount(std::int64_t moved, std::int64_t total);

// The caller's progress function, set per thread by NVPOS_SetProgressCallback.
void setProgressCallback(NVPOS_ProgressFn callback, void *context);

// One write's progress: the count of bytes that really moved, handed to the caller's progress
// function whenever it changes and at least every HeartbeatInterval while the write waits.
// Transports wait in slices that end by nextBeat(), so that the caller can stop a write that
// makes no progress.
class Progress
{
public:
    static constexpr Milliseconds HeartbeatInterval{200};

    explicit Progress(std::int64_t total);

    // Reports moved bytes. Returns false once the caller asked to stop; the transport then
    // drops what it still holds and returns stop().
    bool update(std::int64_t moved);
    bool stopped() const { return m_stopped; }
    Result stop() const;
    // The last call, with moved == total, once the write has succeeded.
    void finish();

    std::int64_t moved() const { return m_moved; }
    std::int64_t total() const { return m_total; }
    // When the caller is due a call even if nothing moved.
    Clock::time_point nextBeat() const { return m_lastCall + HeartbeatInterval; }

private:
    NVPOS_ProgressFn m_callback;
    void *m_context;
    std::int64_t m_total;
    std::int64_t m_moved = 0;
    Clock::time_point m_lastCall;
    bool m_stopped = false;
};

// One open connection to a printer. The library's lock is held around every call.
class Connection
{
public:
    virtual ~Connection() = default;

    // Sends every byte and returns count once they were delivered (see POS_WriteFile), or a
    // negative NVPOS_ERR_ result whose reason was reported through fail().
    virtual Result write(const char *data, std::int32_t count, Progress &progress) = 0;

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

// One factory per kind of connection. Each reports why through failOpen() and returns nullptr
// when it cannot open.
std::unique_ptr<Connection> openEthernet(const std::string &name);
std::unique_ptr<Connection> openSerial(const std::string &name, const SerialSettings &settings);
std::unique_ptr<Connection> openParallel(const std::string &name);
std::unique_ptr<Connection> openDriver(const std::string &name);

} // namespace Printer::NvPos
