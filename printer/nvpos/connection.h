#pragma once

#include "nvpos.h"

#include <QLoggingCategory>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

// "nvlogo.nvpos": warnings for what no result reports (a setting ignored, a job that could not
// be cancelled), on by default; every failure's reason at info level, off by default.
Q_DECLARE_LOGGING_CATEGORY(lcNvPos)

namespace Printer::NvPos {

using Result = std::int32_t;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// What a call came to: its result (NVPOS_OK, a byte count, a job id, a handle; never
// negative), or a failure: a negative NVPOS_ERR_ code, its NVPOS_KIND_ and the reason
// NVPOS_LastError gives. Failures travel up as values; only the entry point keeps and logs the
// reason, so that a failure a transport gets over (one of several addresses refusing) leaves
// no reason behind.
class [[nodiscard]] Status
{
public:
    // A success; implicit, so that a transport ends with "return count;".
    Status(Result result = NVPOS_OK)
        : m_result(result)
    {
        Q_ASSERT(result >= 0);
    }

    bool ok() const { return m_result >= 0; }
    Result result() const { return m_result; }
    std::int32_t kind() const { return m_kind; }
    const std::string &reason() const { return m_reason; }

private:
    friend Status fail(Result code, std::int32_t kind, std::string reason);
    Status(Result code, std::int32_t kind, std::string reason)
        : m_result(code)
        , m_kind(kind)
        , m_reason(std::move(reason))
    {}

    Result m_result;
    std::int32_t m_kind = NVPOS_KIND_NONE;
    std::string m_reason;
};

// The one way a failure is made: code is a negative NVPOS_ERR_ value, kind an NVPOS_KIND_
// one, reason says why.
Status fail(Result code, std::int32_t kind, std::string reason);
// The kind that follows from the code: a timeout, a stop or an unsupported call are that;
// anything else is I/O.
Status fail(Result code, std::string reason);

// The kind of failure a system error number stands for.
std::int32_t kindOfError(int error);
// What a system error number says, for a reason.
std::string errorText(int error);

// What a step that makes something came to: the thing, or the failure instead.
template<typename T>
class [[nodiscard]] Made
{
public:
    template<typename U, typename = std::enable_if_t<std::is_constructible_v<T, U &&>>>
    Made(U &&value)
        : m_value(std::forward<U>(value))
    {}
    Made(Status failure)
        : m_status(std::move(failure))
    {
        Q_ASSERT(!m_status.ok());
    }

    bool ok() const { return m_status.ok(); }
    const Status &status() const { return m_status; }
    T &value() { return m_value; }

private:
    T m_value{};
    Status m_status;
};

// "<n> of <total> bytes", the count in every reason of a failed write.
std::string byteCount(std::int64_t moved, std::int64_t total);

// The caller's progress function, set per thread by NVPOS_SetProgressCallback.
void setProgressCallback(NVPOS_ProgressFn callback, void *context);

// One write's progress: the count of bytes that really moved, handed to the caller's progress
// function whenever it changes and at least every HeartbeatInterval while the write waits.
// Transports wait in slices that end by nextBeat(), so that the caller can stop a write that
// makes no progress.
class WriteProgress
{
public:
    static constexpr Milliseconds HeartbeatInterval{200};

    explicit WriteProgress(std::int64_t total);

    // Reports moved bytes. Returns false once the caller asked to stop; the transport then
    // drops what it still holds and returns stop().
    bool update(std::int64_t moved);
    bool stopped() const { return m_stopped; }
    Status stop() const;
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

// The no-progress time of one write: it runs out when nothing moved for noProgressTimeout().
class StallWatch
{
public:
    StallWatch();

    void moved() { m_deadline = Clock::now() + m_patience; }
    bool expired() const { return Clock::now() >= m_deadline; }
    Clock::time_point deadline() const { return m_deadline; }
    Milliseconds patience() const { return m_patience; }
    // The end of the next wait: the deadline, or earlier when the caller's progress function
    // is due.
    Clock::time_point sliceEnd(const WriteProgress &progress) const
    {
        return std::min(m_deadline, progress.nextBeat());
    }

private:
    Milliseconds m_patience;
    Clock::time_point m_deadline;
};

// What the printer sent and nobody has read yet, bounded: when full, the oldest bytes go.
class ReceiveBuffer
{
public:
    static constexpr std::size_t Capacity = 64 * 1024;

    void append(const char *data, std::size_t count);
    // Moves up to size bytes into buffer and returns how many.
    std::size_t take(char *buffer, std::size_t size);
    bool empty() const { return m_bytes.empty(); }
    std::size_t size() const { return m_bytes.size(); }

private:
    std::string m_bytes;
};

// One open connection to a printer. The connection's own lock is held around every call.
class Connection
{
public:
    virtual ~Connection() = default;

    // Sends every byte and returns count once they were delivered (see POS_WriteFile).
    virtual Status write(const char *data, std::int32_t count, WriteProgress &progress) = 0;

    // NVPOS_CAN_READ and NVPOS_FRAMES_DOCUMENTS.
    virtual std::int32_t capabilities() const = 0;

    // See NVPOS_Read; called only with a valid buffer, size > 0 and timeout >= 0.
    virtual Status read(char *buffer, std::int32_t size, Milliseconds timeout) = 0;

    // Document framing; only a print queue has documents.
    virtual Status startDoc() { return NVPOS_OK; }
    virtual Status endDoc() { return NVPOS_OK; }

    // Called once, just before the connection is destroyed.
    virtual Status close() { return NVPOS_OK; }
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

// One factory per kind of connection; a failure to open carries NVPOS_ERR_OPEN.
using Opened = Made<std::unique_ptr<Connection>>;
Opened openEthernet(const std::string &name);
Opened openSerial(const std::string &name, const SerialSettings &settings);
Opened openParallel(const std::string &name);
Opened openDriver(const std::string &name);

} // namespace Printer::NvPos
