// POSIX sockets and device files.
#include "nativeio.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace Printer::NvPos::Native {

namespace {

constexpr std::size_t WriteChunk = 64 * 1024;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 24 * 3600 * 1000));
}

std::string errorText(int error)
{
    return std::strerror(error);
}

// poll() for one descriptor until deadline: 1 ready, 0 timed out, -1 failed (errno set).
int waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd pfd{fd, events, 0};
        const int ready = ::poll(&pfd, 1, remainingMs(deadline));
        if (ready >= 0)
            return ready > 0 ? 1 : 0;
        if (errno != EINTR)
            return -1;
    }
}

// write() that reports a reader gone away as EPIPE instead of letting SIGPIPE end the
// program. The signal is blocked for this thread during the call and a SIGPIPE that the call
// raised is taken back.
ssize_t writeWithoutSigpipe(int fd, const char *data, std::size_t count)
{
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;

    const ssize_t written = ::write(fd, data, count);
    const int error = errno;
    if (written < 0 && error == EPIPE && !wasPending) {
        const timespec noWait{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

// A non-blocking descriptor that closes itself.
class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {}
    ~Descriptor() { discard(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

    // Closes once; what names the descriptor in the reason of a failure.
    Status close(const std::string &what)
    {
        const int error = discard();
        if (error != 0)
            return fail(NVPOS_ERR_IO, "Closing " + what + " failed: " + errorText(error));
        return NVPOS_OK;
    }

    // Closes once; the system's error number, or 0.
    int discard()
    {
        if (m_fd < 0)
            return 0;
        // close() is not retried on EINTR: the descriptor is gone either way on Linux.
        const int error = ::close(m_fd) == 0 || errno == EINTR ? 0 : errno;
        m_fd = -1;
        return error;
    }

private:
    int m_fd;
};

// What a descriptor is, which decides when a byte counts as delivered and what a failure says.
enum class Medium {
    Socket, // delivered once acknowledged
    Serial, // delivered once it left the line: out of the driver's queue
    Device, // a printer port: delivered once the driver took it, the last transfer done
    Fifo,   // delivered once the pipe took it
    File,   // delivered once written; the write ends with the data on the disk
};

// How often delivery is looked at where the system has no event for it: acknowledgements,
// bytes leaving a serial line, a device that claims to be writable but takes nothing.
constexpr Milliseconds LookAgainInterval{10};

// How much one turn of the loop reads at most, so that a printer that talks without pause
// cannot keep a write from going on.
constexpr std::size_t HearChunk = 4096;
constexpr int HearTurns = 16;

// The kernel's connection states (include/net/tcp_states.h), which no user header names next
// to linux/tcp.h.
constexpr int TcpEstablished = 1;
constexpr int TcpCloseWait = 8;

// One open descriptor and the one loop that writes to it, takes in what the printer sends,
// keeps the deadlines, reports progress and honours a stop. The transports only open the
// descriptor and say what it is and whether it can be read.
class StreamConnection final : public Connection
{
public:
    struct Setup
    {
        int fd = -1;
        std::string name; // in every reason: a path, or host:port
        Medium medium = Medium::Device;
        bool canRead = false;
        std::string noReadReason; // why not, when it cannot
        int baudRate = 0;         // Serial: for the line-time bound
        int bitsPerCharacter = 0;
    };

    explicit StreamConnection(Setup setup)
        : m_fd(setup.fd)
        , m_setup(std::move(setup))
    {
        if (m_setup.medium == Medium::Socket)
            m_ackedAtConnect = inspect().bytesAcked;
    }

    // Bytes that came before the connection was made (a probe of the device).
    void keepReceived(const char *data, std::size_t count) { m_received.append(data, count); }

    std::int32_t capabilities() const override { return m_setup.canRead ? NVPOS_CAN_READ : 0; }

    Status write(const char *data, std::int32_t count, WriteProgress &progress) override
    {
        if (m_fd.get() < 0) {
            return fail(NVPOS_ERR_IO,
                        "The connection to " + m_setup.name + " was dropped by a stopped write");
        }
        off_t startSize = -1;
        struct stat info;
        if (m_setup.medium == Medium::File && ::fstat(m_fd.get(), &info) == 0)
            startSize = info.st_size;
        const Status status = run(data, static_cast<std::size_t>(count), progress);
        if (!status.ok())
            afterFailedWrite(status, startSize);
        return status;
    }

    Status read(char *buffer, std::int32_t size, Milliseconds timeout) override
    {
        if (!m_setup.canRead)
            return fail(NVPOS_ERR_UNSUPPORTED, m_setup.noReadReason);
        if (m_fd.get() < 0 && m_received.empty()) {
            return fail(NVPOS_ERR_IO,
                        "The connection to " + m_setup.name + " was dropped by a stopped write");
        }
        const Clock::time_point deadline = Clock::now() + timeout;
        for (;;) {
            // What was kept is served first: hearing more now could push it out.
            if (m_fd.get() >= 0 && m_received.empty())
                hear();
            if (!m_received.empty())
                return static_cast<Result>(m_received.take(buffer, static_cast<std::size_t>(size)));
            if (m_peerClosed)
                return fail(NVPOS_ERR_IO, NVPOS_KIND_IO, m_setup.name + " closed the connection");
            if (m_readError != 0) {
                return fail(NVPOS_ERR_IO,
                            kindOfError(m_readError),
                            "Reading from " + m_setup.name + " failed: " + errorText(m_readError));
            }
            if (Clock::now() >= deadline)
                return NVPOS_OK;
            if (waitFor(m_fd.get(), POLLIN, deadline) < 0) {
                const int error = errno;
                return fail(NVPOS_ERR_IO,
                            "Waiting for " + m_setup.name + " failed: " + errorText(error));
            }
        }
    }

    Status close() override
    {
        if (m_fd.get() >= 0 && m_setup.medium == Medium::Socket) {
            // Unread bytes from the printer would make the close reset the connection, which
            // may drop data still on its way; read them first, then send our end-of-stream.
            hear();
            ::shutdown(m_fd.get(), SHUT_WR);
        }
        return m_fd.close(m_setup.name);
    }

private:
    struct SocketState
    {
        bool open = false;            // established, or the printer closed only its sending side
        std::int64_t unacked = 0;     // queued or sent, not yet acknowledged
        std::int64_t bytesAcked = -1; // acknowledged since the connect; -1: the system cannot tell
        int error = 0;
    };

    Status run(const char *data, std::size_t count, WriteProgress &progress)
    {
        StallWatch stall;
        const std::optional<Clock::time_point> lineBound = lineTimeBound(count);
        const bool awaitsLastTransfer = m_setup.medium == Medium::Device;
        const std::int64_t sentBefore = m_sentTotal;
        std::size_t queued = 0;
        std::int64_t delivered = 0;
        bool claimedWritable = false;
        bool writableAfterLast = false;
        bool pause = false;
        for (;;) {
            if (queued < count) {
                const std::size_t before = queued;
                if (const int error = queue(data, count, queued))
                    return writeFailed(error, delivered, count);
                if (queued > before) {
                    stall.moved();
                    writableAfterLast = false;
                } else if (claimedWritable) {
                    // A driver without poll support claims room it does not have.
                    pause = true;
                }
                claimedWritable = false;
            }
            if (m_setup.canRead)
                hear();

            SocketState state;
            std::int64_t now = static_cast<std::int64_t>(queued);
            if (m_setup.medium == Medium::Socket) {
                state = inspect();
                now = acknowledged(state, queued, sentBefore);
            } else if (m_setup.medium == Medium::Serial) {
                now = std::max<std::int64_t>(now - outputQueued(), 0);
            }
            if (now > delivered) {
                delivered = now;
                stall.moved();
            }
            // Acknowledged is delivered, even when the printer reset the connection afterwards.
            if (delivered >= static_cast<std::int64_t>(count)
                && (!awaitsLastTransfer || writableAfterLast)) {
                return finishWrite(count);
            }
            if (m_setup.medium == Medium::Socket && (!state.open || state.error != 0))
                return writeFailed(state.error ? state.error : m_readError, delivered, count);
            if (!progress.update(delivered))
                return progress.stop();
            if (lineBound && Clock::now() >= *lineBound) {
                return fail(NVPOS_ERR_TIMEOUT,
                            "Writing " + std::to_string(count) + " bytes to " + m_setup.name
                                    + " at " + std::to_string(m_setup.baudRate)
                                    + " baud took too long; " + byteCount(delivered, count)
                                    + " left the port");
            }
            if (stall.expired())
                return tookNoData(stall.patience(), delivered, count);

            Clock::time_point until = stall.sliceEnd(progress);
            if (lineBound)
                until = std::min(until, *lineBound);
            const bool wantWritable = (queued < count || awaitsLastTransfer) && !pause;
            if (pause || m_setup.medium == Medium::Socket || m_setup.medium == Medium::Serial)
                until = std::min(until, Clock::now() + LookAgainInterval);
            pause = false;
            const short events
                    = static_cast<short>((wantWritable ? POLLOUT : 0) | (hearing() ? POLLIN : 0));
            const int ready = waitForEvents(m_fd.get(), events, until);
            if (ready < 0) {
                const int error = errno;
                return fail(NVPOS_ERR_IO,
                            "Waiting for " + m_setup.name + " failed: " + errorText(error));
            }
            if (m_lastEvents & POLLOUT) {
                claimedWritable = queued < count;
                writableAfterLast = queued >= count;
            } else if (ready > 0 && !(m_lastEvents & POLLIN)) {
                // A hang-up or an error with nothing to do about it here: the next write or
                // read reports it; meanwhile the loop must not spin.
                pause = true;
            }
        }
    }

    // poll() for our descriptor until deadline: 1 ready, 0 timed out, -1 failed (errno set).
    // Keeps the events that came in m_lastEvents.
    int waitForEvents(int fd, short events, Clock::time_point deadline)
    {
        m_lastEvents = 0;
        for (;;) {
            pollfd pfd{fd, events, 0};
            const int ready = ::poll(&pfd, 1, remainingMs(deadline));
            if (ready >= 0) {
                m_lastEvents = pfd.revents;
                return ready > 0 ? 1 : 0;
            }
            if (errno != EINTR)
                return -1;
        }
    }

    bool hearing() const { return m_setup.canRead && !m_peerClosed && m_readError == 0; }

    // Hands the system as much of the rest as it takes, moving queued on. Returns the error
    // that broke the connection, or 0.
    int queue(const char *data, std::size_t count, std::size_t &queued)
    {
        while (queued < count) {
            const std::size_t chunk = std::min(count - queued, WriteChunk);
            const ssize_t n
                    = m_setup.medium == Medium::Socket
                              ? ::send(
                                      m_fd.get(), data + queued, chunk, MSG_NOSIGNAL | MSG_DONTWAIT)
                              : writeWithoutSigpipe(m_fd.get(), data + queued, chunk);
            if (n > 0) {
                queued += static_cast<std::size_t>(n);
                m_sentTotal += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return errno;
            break;
        }
        return 0;
    }

    // Takes in what the printer sent, without waiting, into the receive buffer.
    void hear()
    {
        char chunk[HearChunk];
        for (int turn = 0; turn < HearTurns && hearing(); ++turn) {
            const ssize_t got = m_setup.medium == Medium::Socket
                                        ? ::recv(m_fd.get(), chunk, sizeof chunk, MSG_DONTWAIT)
                                        : ::read(m_fd.get(), chunk, sizeof chunk);
            if (got > 0) {
                m_received.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            if (got == 0) {
                // A socket's peer closed its sending side (it may still take our data); a
                // line or a device just has nothing more now.
                if (m_setup.medium == Medium::Socket)
                    m_peerClosed = true;
            } else if (errno == EINTR) {
                continue;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                m_readError = errno; // kept for the reason
            }
            return;
        }
    }

    // Serial: what the driver still holds (0 when it cannot tell).
    std::int64_t outputQueued() const
    {
        int queued = 0;
        if (::ioctl(m_fd.get(), TIOCOUTQ, &queued) != 0)
            return 0;
        return std::max(queued, 0);
    }

    // Two line times leave room for the pauses of the printer's flow control; the no-progress
    // time on top covers a short buffer and the start of the transfer.
    std::optional<Clock::time_point> lineTimeBound(std::size_t count) const
    {
        if (m_setup.medium != Medium::Serial || m_setup.baudRate <= 0)
            return std::nullopt;
        const long long lineMs = static_cast<long long>(count) * m_setup.bitsPerCharacter * 1000
                                 / m_setup.baudRate;
        return Clock::now() + Milliseconds(2 * lineMs) + noProgressTimeout();
    }

    Status finishWrite(std::size_t count)
    {
        if (m_setup.medium == Medium::File && ::fsync(m_fd.get()) != 0) {
            const int error = errno;
            return fail(NVPOS_ERR_IO,
                        kindOfError(error),
                        "Cannot save " + m_setup.name + ": " + errorText(error));
        }
        return static_cast<Result>(count);
    }

    // The printer gets no more of a write that failed or was stopped, and a file does not keep
    // half a write, so that what it holds is always whole writes.
    void afterFailedWrite(const Status &status, off_t startSize)
    {
        switch (m_setup.medium) {
        case Medium::Socket:
            if (status.result() == NVPOS_ERR_CANCELLED)
                abort();
            break;
        case Medium::Serial:
            ::tcflush(m_fd.get(), TCOFLUSH);
            break;
        case Medium::File:
            if (startSize >= 0 && ::ftruncate(m_fd.get(), startSize) != 0) {
                qCWarning(lcNvPos,
                          "Cannot cut %s back: %s",
                          m_setup.name.c_str(),
                          errorText(errno).c_str());
            }
            break;
        case Medium::Device:
        case Medium::Fifo:
            break;
        }
    }

    Status tookNoData(Milliseconds patience, std::int64_t done, std::size_t count) const
    {
        const std::string waited = " took no data for " + std::to_string(patience.count()) + " ms; "
                                   + byteCount(done, static_cast<std::int64_t>(count));
        switch (m_setup.medium) {
        case Medium::Socket:
            return fail(NVPOS_ERR_TIMEOUT, "The printer" + waited + " were acknowledged");
        case Medium::Serial:
            return fail(NVPOS_ERR_TIMEOUT,
                        "The printer on " + m_setup.name + waited + " left the port");
        default:
            return fail(NVPOS_ERR_TIMEOUT, m_setup.name + waited + " were taken");
        }
    }

    Status writeFailed(int error, std::int64_t done, std::size_t count) const
    {
        const std::string moved = byteCount(done, static_cast<std::int64_t>(count));
        switch (m_setup.medium) {
        case Medium::Socket:
            if (error == 0 || error == ECONNRESET || error == EPIPE) {
                return fail(NVPOS_ERR_IO,
                            m_setup.name + " closed the connection after " + moved
                                    + " were acknowledged");
            }
            return fail(NVPOS_ERR_IO,
                        kindOfError(error),
                        "Sending to " + m_setup.name + " failed after " + moved
                                + " were acknowledged: " + errorText(error));
        case Medium::Serial:
            return fail(NVPOS_ERR_IO,
                        kindOfError(error),
                        "Writing to " + m_setup.name + " failed after " + moved
                                + " left the port: " + errorText(error));
        default:
            return fail(NVPOS_ERR_IO,
                        kindOfError(error),
                        "Writing to " + m_setup.name + " failed after " + moved
                                + " were taken: " + errorText(error));
        }
    }

    // How many of this write's sent bytes the printer acknowledged. The system's count of
    // acknowledged bytes survives a reset, unlike the send queue, which the system empties
    // then; it is the one to go by where the system has it. It counts from the connect, and a
    // failed earlier write may still have bytes on their way: only what was acknowledged
    // beyond everything sent before this write (sentBefore) belongs to it. 0 when the system
    // cannot tell.
    std::int64_t
    acknowledged(const SocketState &state, std::size_t sent, std::int64_t sentBefore) const
    {
        std::int64_t acked = 0;
        if (m_ackedAtConnect >= 0 && state.bytesAcked >= 0)
            acked = state.bytesAcked - m_ackedAtConnect - sentBefore;
        else if (state.open)
            acked = static_cast<std::int64_t>(sent) - state.unacked;
        return std::clamp<std::int64_t>(acked, 0, static_cast<std::int64_t>(sent));
    }

    // The send queue is read before the state: after a reset the system empties the queue, so
    // its length is trusted only when the connection was still open after reading it.
    SocketState inspect() const
    {
        SocketState state;
        int unacked = 0;
        if (::ioctl(m_fd.get(), SIOCOUTQ, &unacked) != 0) {
            state.error = errno;
            return state;
        }
        state.unacked = unacked;
        tcp_info info{};
        socklen_t length = sizeof info;
        if (::getsockopt(m_fd.get(), IPPROTO_TCP, TCP_INFO, &info, &length) != 0) {
            state.error = errno;
            return state;
        }
        state.open = info.tcpi_state == TcpEstablished || info.tcpi_state == TcpCloseWait;
        // Older kernels fill in a shorter structure, without the count.
        if (length >= offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked)
            state.bytesAcked = static_cast<std::int64_t>(info.tcpi_bytes_acked);
        int error = 0;
        length = sizeof error;
        if (::getsockopt(m_fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0)
            state.error = error;
        return state;
    }

    // A stopped write leaves data in the send queue that would still reach the printer;
    // closing with a zero linger time drops it and resets the connection.
    void abort()
    {
        const linger now{1, 0};
        ::setsockopt(m_fd.get(), SOL_SOCKET, SO_LINGER, &now, sizeof now);
        m_fd.discard();
    }

    Descriptor m_fd;
    Setup m_setup;
    ReceiveBuffer m_received;
    short m_lastEvents = 0;
    bool m_peerClosed = false;
    int m_readError = 0;
    std::int64_t m_ackedAtConnect = -1; // the handshake counts too
    std::int64_t m_sentTotal = 0;
};

std::unique_ptr<Connection> socketConnection(int fd, std::string address)
{
    StreamConnection::Setup setup;
    setup.fd = fd;
    setup.name = std::move(address);
    setup.medium = Medium::Socket;
    setup.canRead = true;
    return std::make_unique<StreamConnection>(std::move(setup));
}

struct AddrInfoDeleter
{
    void operator()(addrinfo *list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// A host name is looked up on a helper thread, so that a resolver that does not answer cannot
// hold the caller past the deadline; a late answer is thrown away by the helper.
Made<AddrInfoList> lookUpName(const std::string &host,
                              const std::string &service,
                              const addrinfo &hints,
                              Clock::time_point deadline)
{
    struct Lookup
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        int rc = 0;
        addrinfo *found = nullptr;
    };
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service, hints] {
            addrinfo *list = nullptr;
            const int result = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            if (lookup->abandoned) {
                if (list)
                    ::freeaddrinfo(list);
                return;
            }
            lookup->rc = result;
            lookup->found = list;
            lookup->finished = true;
            lookup->done.notify_one();
        }).detach();
    } catch (const std::system_error &error) {
        return fail(NVPOS_ERR_OPEN, "Cannot look up " + host + ": " + error.what());
    }

    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        return fail(NVPOS_ERR_OPEN,
                    NVPOS_KIND_TIMEOUT,
                    "Looking up " + host + " took longer than "
                            + std::to_string(connectTimeout().count()) + " ms");
    }
    if (lookup->rc != 0)
        return fail(NVPOS_ERR_OPEN,
                    lookup->rc == EAI_NONAME || lookup->rc == EAI_NODATA ? NVPOS_KIND_NOT_FOUND
                                                                         : NVPOS_KIND_IO,
                    "Cannot look up " + host + ": " + ::gai_strerror(lookup->rc));
    return AddrInfoList(lookup->found);
}

// An IPv4 or IPv6 address is taken as it is; anything else is looked up as a host name.
Made<AddrInfoList> resolve(const std::string &host, std::uint16_t port, Clock::time_point deadline)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    const std::string service = std::to_string(port);

    addrinfo *found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc == 0)
        return AddrInfoList(found);
    if (rc != EAI_NONAME)
        return fail(NVPOS_ERR_OPEN, "Bad address " + host + ": " + ::gai_strerror(rc));
    hints.ai_flags = AI_NUMERICSERV;
    return lookUpName(host, service, hints, deadline);
}

std::string addressText(const addrinfo *address)
{
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (::getnameinfo(address->ai_addr,
                      address->ai_addrlen,
                      host,
                      sizeof host,
                      service,
                      sizeof service,
                      NI_NUMERICHOST | NI_NUMERICSERV)
        != 0) {
        return "?";
    }
    return address->ai_family == AF_INET6 ? "[" + std::string(host) + "]:" + service
                                          : std::string(host) + ":" + service;
}

// One non-blocking connect, bounded by deadline.
Opened connectOne(const addrinfo *address, Clock::time_point deadline)
{
    const int fd = ::socket(address->ai_family,
                            address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address->ai_protocol);
    if (fd < 0) {
        const int error = errno;
        return fail(NVPOS_ERR_OPEN,
                    "No socket for " + addressText(address) + ": " + errorText(error));
    }
    int error = 0;
    if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0)
        return socketConnection(fd, addressText(address));
    if (errno != EINPROGRESS && errno != EINTR) {
        error = errno;
    } else {
        const int ready = waitFor(fd, POLLOUT, deadline);
        if (ready == 1) {
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            if (error == 0)
                return socketConnection(fd, addressText(address));
        } else {
            error = ready == 0 ? ETIMEDOUT : errno;
        }
    }
    ::close(fd);
    return fail(NVPOS_ERR_OPEN,
                kindOfError(error),
                "Cannot connect to " + addressText(address) + ": " + errorText(error));
}

} // namespace

Opened connectTcp(const std::string &host, std::uint16_t port)
{
    const Clock::time_point deadline = Clock::now() + connectTimeout();
    Made<AddrInfoList> addresses = resolve(host, port, deadline);
    if (!addresses.ok())
        return addresses.status();

    std::vector<const addrinfo *> candidates;
    for (const addrinfo *address = addresses.value().get(); address; address = address->ai_next)
        candidates.push_back(address);
    // The time left is shared out, so that one address that does not answer leaves time for
    // the next. The last address's failure is the one reported; the others are only logged.
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const auto share = (deadline - Clock::now()) / static_cast<int>(candidates.size() - i);
        Opened opened = connectOne(candidates[i], Clock::now() + share);
        if (opened.ok() || i + 1 == candidates.size())
            return opened;
        qCWarning(lcNvPos, "%s", opened.status().reason().c_str());
    }
    return fail(NVPOS_ERR_OPEN, NVPOS_KIND_NOT_FOUND, "No address for " + host);
}

Opened openDevice(const std::string &path)
{
    StreamConnection::Setup setup;
    setup.name = path;
    struct stat info
    {};
    // Only a character device may answer: a file or a FIFO holds what we wrote, not a reply.
    const bool character = ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
    // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of waiting for one,
    // and a port does not wait for a modem line.
    const int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = character ? ::open(path.c_str(), O_RDWR | flags) : -1;
    if (fd >= 0)
        setup.canRead = true;
    else
        fd = ::open(path.c_str(), O_WRONLY | flags);
    if (fd < 0) {
        const int error = errno;
        return fail(NVPOS_ERR_OPEN,
                    kindOfError(error),
                    "Cannot open " + path + ": " + errorText(error)
                            + (error == ENXIO ? " (nobody is reading it)" : ""));
    }
    if (::fstat(fd, &info) != 0)
        info.st_mode = 0;
    setup.fd = fd;
    if (S_ISREG(info.st_mode)) {
        // A file collects what is sent to it, one connection after the other.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND);
        setup.medium = Medium::File;
        setup.noReadReason = path + " is a file: no printer can answer through it";
    } else if (S_ISFIFO(info.st_mode)) {
        setup.medium = Medium::Fifo;
        setup.noReadReason = path + " is a FIFO: no printer can answer through it";
    } else if (::isatty(fd)) {
        // A terminal line would translate line ends; the printer needs the bytes as they are.
        setup.medium = Medium::Device;
        termios settings;
        if (::tcgetattr(fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(fd, TCSANOW, &settings);
        }
    } else if (setup.canRead) {
        setup.medium = Medium::Device;
        // A USB printer whose interface is one-way refuses reads (EINVAL); a device with
        // nothing behind it reports the end at once. A byte that did come is kept.
        char first = 0;
        const ssize_t got = ::read(fd, &first, 1);
        const int error = errno;
        if (got == 0 || (got < 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR)) {
            setup.canRead = false;
            setup.noReadReason = "The driver of " + path + " passes no answers from the printer"
                                 + (got < 0 ? " (" + errorText(error) + ")" : "");
        }
        auto connection = std::make_unique<StreamConnection>(std::move(setup));
        if (got > 0)
            connection->keepReceived(&first, 1);
        return std::unique_ptr<Connection>(std::move(connection));
    } else {
        setup.medium = Medium::Device;
        setup.noReadReason = "The driver of " + path + " does not let " + path + " be read";
    }
    return std::unique_ptr<Connection>(std::make_unique<StreamConnection>(std::move(setup)));
}

namespace {

speed_t speedOf(int baudRate)
{
    static constexpr std::pair<int, speed_t> speeds[] = {
            {50, B50},           {75, B75},           {110, B110},         {134, B134},
            {150, B150},         {200, B200},         {300, B300},         {600, B600},
            {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
            {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
            {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
            {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
            {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
            {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto &[rate, speed] : speeds) {
        if (rate == baudRate)
            return speed;
    }
    return B0;
}

tcflag_t sizeOf(int dataBits)
{
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

} // namespace

Opened openSerialPort(const std::string &path, const SerialSettings &settings)
{
    const speed_t speed = speedOf(settings.baudRate);
    if (speed == B0) {
        return fail(NVPOS_ERR_OPEN,
                    NVPOS_KIND_UNSUPPORTED,
                    "Cannot set up " + path + " at " + std::to_string(settings.baudRate)
                            + " baud: not a standard line speed");
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return fail(NVPOS_ERR_OPEN,
                    kindOfError(error),
                    "Cannot open " + path + ": " + errorText(error));
    }
    Descriptor port(fd);
    // One program at a time on the line: another one's bytes would mix with ours.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return fail(NVPOS_ERR_OPEN,
                    error == EWOULDBLOCK ? NVPOS_KIND_BUSY : kindOfError(error),
                    "Cannot open " + path + ": "
                            + (error == EWOULDBLOCK ? std::string("another program is using it")
                                                    : errorText(error)));
    }
    termios line{};
    if (::tcgetattr(fd, &line) != 0) {
        const int error = errno;
        return fail(
                NVPOS_ERR_OPEN,
                error == ENOTTY ? NVPOS_KIND_NOT_FOUND : kindOfError(error),
                "Cannot open " + path + ": "
                        + (error == ENOTTY ? std::string("not a serial port") : errorText(error)));
    }
    ::ioctl(fd, TIOCEXCL); // refuses further opens, except root's
    ::cfmakeraw(&line);
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    line.c_cflag |= CREAD | CLOCAL | sizeOf(settings.dataBits);
    if (settings.parity != 0)
        line.c_cflag |= PARENB | (settings.parity == 1 ? PARODD : 0);
    if (settings.stopBits == 2)
        line.c_cflag |= CSTOPB;
    if (settings.hardwareFlowControl)
        line.c_cflag |= CRTSCTS;
    line.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (::cfsetispeed(&line, speed) != 0 || ::cfsetospeed(&line, speed) != 0
        || ::tcsetattr(fd, TCSANOW, &line) != 0) {
        const int error = errno;
        return fail(NVPOS_ERR_OPEN,
                    kindOfError(error),
                    "Cannot set up " + path + " at " + std::to_string(settings.baudRate)
                            + " baud: " + errorText(error));
    }
    StreamConnection::Setup setup;
    setup.fd = fd;
    port.release();
    setup.name = path;
    setup.medium = Medium::Serial;
    setup.canRead = true;
    setup.baudRate = settings.baudRate;
    setup.bitsPerCharacter
            = 1 + settings.dataBits + (settings.parity != 0 ? 1 : 0) + settings.stopBits;
    return std::unique_ptr<Connection>(std::make_unique<StreamConnection>(std::move(setup)));
}

} // namespace Printer::NvPos::Native
