#pragma once

// The one loop that writes to a byte stream, takes in what the printer sends, keeps the
// deadlines, reports progress and honours a stop, over a small channel to the operating system.
// Everything here is the same on every platform; a platform implements NativeChannel for its
// sockets, devices and serial lines (nativeio_<platform>.cpp) and opens them.

#include "connection.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Printer::NvPos {

// What a channel is, which decides when a byte counts as delivered and what a failure says.
enum class Medium {
    Socket, // delivered once acknowledged
    Serial, // delivered once it left the line: out of the driver's queue
    Device, // a printer port: delivered once the driver took it, the last transfer done
    Fifo,   // delivered once the pipe took it
    File,   // delivered once written; the write ends with the data on the disk
};

// One look at how far delivery got, where the system can tell more than "the write took it".
struct DeliveryState
{
    bool open = true;         // Socket: established, or the printer closed only its sending side
    std::int64_t pending = 0; // Socket: not yet acknowledged; Serial: not yet on the line
    std::int64_t ackedTotal
            = -1;  // Socket: acknowledged since the connect; -1: the system cannot tell
    int error = 0; // a system error number the connection carries
};

// What one read without waiting came to.
struct Heard
{
    std::size_t count = 0; // bytes taken in; 0 with neither flag: nothing now
    bool ended = false;    // the other side closed its sending side, or the device has no more
    int error = 0;         // a system error number
};

// The operating system's side of one open stream. Errors are system error numbers (errno
// values, which <cerrno> names on every platform); no call waits unless it says so.
class NativeChannel
{
public:
    // What wait() saw: a set of these bits, 0 when the time ran out first.
    enum Ready { Writable = 0x1, Readable = 0x2, Trouble = 0x4 };

    virtual ~NativeChannel() = default;

    virtual bool isOpen() const = 0;
    // Hands the system what it takes of data now: 0 and taken (0 when it has no room), or an
    // error that broke the stream.
    virtual int queue(const char *data, std::size_t count, std::size_t &taken) = 0;
    // Takes in what arrived, without waiting.
    virtual Heard hear(char *buffer, std::size_t size) = 0;
    // Waits, at most until, for room to write (wantWrite), something to read (wantRead), or a
    // hang-up or error (always). The Ready bits seen, or minus a system error number.
    virtual int wait(bool wantWrite, bool wantRead, Clock::time_point until) = 0;
    // Socket and Serial; the other media leave the defaults.
    virtual DeliveryState delivery() const = 0;

    // File: its size, or -1 when the system cannot tell.
    virtual std::int64_t size() const { return -1; }
    // File: puts what was written on the disk. 0 or an error.
    virtual int sync() { return 0; }
    // File: cuts it back to size. 0 or an error.
    virtual int cutBack(std::int64_t) { return 0; }
    // Serial: drops what the driver still holds.
    virtual void dropOutput() {}
    // Socket: tells the printer that nothing more comes.
    virtual void endOutput() {}
    // Drops what is still queued for the printer and closes at once (a socket is reset).
    virtual void abort() = 0;
    // Closes once. 0 or an error.
    virtual int close() = 0;
};

// One open channel and the loop that runs it. The openers only open the channel and say what it
// is and whether it can be read.
class StreamConnection final : public Connection
{
public:
    struct Setup
    {
        std::string name; // in every reason: a path, or host:port
        Medium medium = Medium::Device;
        bool canRead = false;
        std::string noReadReason; // why not, when it cannot
        int baudRate = 0;         // Serial: for the line-time bound
        int bitsPerCharacter = 0;
    };

    StreamConnection(std::unique_ptr<NativeChannel> channel, Setup setup);

    // Bytes that came before the connection was made (a probe of the device).
    void keepReceived(const char *data, std::size_t count) { m_received.append(data, count); }

    std::int32_t capabilities() const override { return m_setup.canRead ? NVPOS_CAN_READ : 0; }
    Status write(const char *data, std::int32_t count, WriteProgress &progress) override;
    Status read(char *buffer, std::int32_t size, Milliseconds timeout) override;
    Status close() override;

private:
    struct WriteRun;

    Status run(WriteRun &run);
    int queueTurn(WriteRun &run);
    DeliveryState lookAtDelivery(WriteRun &run);
    std::optional<Status> verdict(WriteRun &run, const DeliveryState &state);
    Status waitTurn(WriteRun &run);

    bool hearing() const { return m_setup.canRead && !m_peerClosed && m_readError == 0; }
    void hear();
    std::optional<Clock::time_point> lineTimeBound(std::size_t count) const;
    std::int64_t
    acknowledged(const DeliveryState &state, std::size_t sent, std::int64_t sentBefore) const;
    Status finishWrite(std::size_t count);
    void afterFailedWrite(const Status &status, std::int64_t startSize);
    Status dropped() const;
    Status waitFailed(int error) const;
    std::string movedText(const WriteRun &run) const;
    Status tookNoData(const WriteRun &run) const;
    Status writeFailed(int error, const WriteRun &run) const;

    std::unique_ptr<NativeChannel> m_channel;
    Setup m_setup;
    ReceiveBuffer m_received;
    bool m_peerClosed = false;
    int m_readError = 0;
    std::int64_t m_ackedAtConnect = -1; // the handshake counts too
    std::int64_t m_sentTotal = 0;
};

} // namespace Printer::NvPos
