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
#include <thread>
#include <vector>

namespace Printer::NvPos::Native {

namespace {

// A device whose driver has no poll support always reports itself writable; a short pause
// after such a false report keeps the write loop from spinning.
constexpr Milliseconds BusyRetryPause{10};
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

// The end of the next wait: the no-progress deadline, or earlier when the caller's progress
// function is due.
Clock::time_point sliceEnd(Clock::time_point deadline, const Progress &progress)
{
    return std::min(deadline, progress.nextBeat());
}

// A printer port, a FIFO or a regular file. A byte has moved once write() took it: the
// printer-port drivers hand it on synchronously, a pipe holds it for the reader, and a file
// is flushed to the disk before the write counts.
class DeviceConnection final : public Connection
{
public:
    DeviceConnection(int fd, std::string path, mode_t type)
        : m_fd(fd)
        , m_path(std::move(path))
        , m_type(type)
    {}

    Status write(const char *data, std::int32_t count, Progress &progress) override
    {
        off_t startSize = -1;
        struct stat info;
        if (S_ISREG(m_type) && ::fstat(m_fd.get(), &info) == 0)
            startSize = info.st_size;
        const Status status = send(data, static_cast<std::size_t>(count), progress);
        // A file does not keep half a write, so that what it holds is always whole writes.
        if (!status.ok() && startSize >= 0 && ::ftruncate(m_fd.get(), startSize) != 0)
            qCWarning(lcNvPos, "Cannot cut %s back: %s", m_path.c_str(), errorText(errno).c_str());
        return status;
    }

    Status close() override { return m_fd.close(m_path); }

private:
    Status send(const char *data, std::size_t count, Progress &progress)
    {
        const int fd = m_fd.get();
        const Milliseconds patience = noProgressTimeout();
        std::size_t done = 0;
        Clock::time_point deadline = Clock::now() + patience;
        bool claimedReady = false;
        while (done < count) {
            const std::size_t chunk = std::min(count - done, WriteChunk);
            const ssize_t written = writeWithoutSigpipe(fd, data + done, chunk);
            if (written > 0) {
                done += static_cast<std::size_t>(written);
                deadline = Clock::now() + patience;
                claimedReady = false;
                if (!progress.update(static_cast<std::int64_t>(done)))
                    return progress.stop();
                continue;
            }
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                const int error = errno;
                return fail(NVPOS_ERR_IO,
                            "Writing to " + m_path + " failed after " + byteCount(done, count)
                                    + " were taken: " + errorText(error));
            }
            if (Clock::now() >= deadline)
                return tookNoData(patience, done, count);
            if (!progress.update(static_cast<std::int64_t>(done)))
                return progress.stop();
            const Clock::time_point until = sliceEnd(deadline, progress);
            if (claimedReady) {
                std::this_thread::sleep_for(
                        std::min<Clock::duration>(BusyRetryPause, until - Clock::now()));
                claimedReady = false;
                continue;
            }
            const int ready = waitFor(fd, POLLOUT, until);
            if (ready < 0) {
                const int error = errno;
                return fail(NVPOS_ERR_IO, "Waiting for " + m_path + " failed: " + errorText(error));
            }
            claimedReady = ready > 0;
        }
        if (S_ISREG(m_type) && ::fsync(fd) != 0) {
            const int error = errno;
            return fail(NVPOS_ERR_IO, "Cannot save " + m_path + ": " + errorText(error));
        }
        if (S_ISCHR(m_type))
            return awaitLastTransfer(deadline, patience, count, progress);
        return static_cast<Result>(count);
    }

    // A USB printer's driver takes the last block and returns before the printer has it; it
    // reports the port writable again once that transfer is done. Drivers without that report
    // are always writable, and this returns at once.
    Status awaitLastTransfer(Clock::time_point deadline,
                             Milliseconds patience,
                             std::size_t count,
                             Progress &progress)
    {
        for (;;) {
            const int ready = waitFor(m_fd.get(), POLLOUT, sliceEnd(deadline, progress));
            if (ready > 0)
                return static_cast<Result>(count);
            if (ready < 0) {
                const int error = errno;
                return fail(NVPOS_ERR_IO, "Waiting for " + m_path + " failed: " + errorText(error));
            }
            if (Clock::now() >= deadline)
                return tookNoData(patience, count, count);
            if (!progress.update(static_cast<std::int64_t>(count)))
                return progress.stop();
        }
    }

    Status tookNoData(Milliseconds patience, std::size_t done, std::size_t count) const
    {
        return fail(NVPOS_ERR_TIMEOUT,
                    m_path + " took no data for " + std::to_string(patience.count()) + " ms; "
                            + byteCount(done, count) + " were taken");
    }

    Descriptor m_fd;
    std::string m_path;
    mode_t m_type;
};

// Raw TCP. A byte has moved once the printer's network stack acknowledged it: the write waits
// for the acknowledgement of its last byte, not just for room in this machine's send buffer,
// which holds megabytes and would let a write "succeed" long before the printer has it.
class SocketConnection final : public Connection
{
public:
    SocketConnection(int fd, std::string address)
        : m_fd(fd)
        , m_address(std::move(address))
        , m_ackedAtConnect(inspect().bytesAcked)
    {}

    Status write(const char *data, std::int32_t count, Progress &progress) override
    {
        if (m_fd.get() < 0) {
            return fail(NVPOS_ERR_IO,
                        "The connection to " + m_address + " was dropped by a stopped write");
        }
        const Status status = send(data, static_cast<std::size_t>(count), progress);
        if (status.result() == NVPOS_ERR_CANCELLED)
            abort();
        return status;
    }

    Status close() override
    {
        if (m_fd.get() >= 0) {
            // Unread bytes from the printer (status replies) would make the close reset the
            // connection, which may drop data still on its way; read them first, then send
            // our end-of-stream.
            discardReplies();
            ::shutdown(m_fd.get(), SHUT_WR);
        }
        return m_fd.close(m_address);
    }

private:
    // How often the acknowledgements are looked at once every byte is queued: the system has
    // no event for them.
    static constexpr Milliseconds AckPollInterval{10};

    // The kernel's connection states (include/net/tcp_states.h), which no user header names
    // next to linux/tcp.h.
    static constexpr int TcpEstablished = 1;
    static constexpr int TcpCloseWait = 8;

    struct State
    {
        bool open = false;            // established, or the printer closed only its sending side
        std::int64_t unacked = 0;     // queued or sent, not yet acknowledged
        std::int64_t bytesAcked = -1; // acknowledged since the connect; -1: the system cannot tell
        int error = 0;
    };

    Status send(const char *data, std::size_t count, Progress &progress)
    {
        const Milliseconds patience = noProgressTimeout();
        Clock::time_point deadline = Clock::now() + patience;
        std::size_t sent = 0;
        std::int64_t acked = 0;
        const std::int64_t sentBefore = m_sentTotal;
        for (;;) {
            const std::size_t sentEarlier = sent;
            if (const int error = queue(data, count, sent))
                return broken(error, acked, count);
            if (sent > sentEarlier)
                deadline = Clock::now() + patience;
            discardReplies();
            const State state = inspect();
            const std::int64_t nowAcked = acknowledged(state, sent, sentBefore);
            if (nowAcked > acked) {
                acked = nowAcked;
                deadline = Clock::now() + patience;
            }
            // Acknowledged is delivered, even when the printer reset the connection afterwards.
            if (acked >= static_cast<std::int64_t>(count))
                return static_cast<Result>(count);
            if (!state.open || state.error != 0)
                return broken(state.error ? state.error : m_readError, acked, count);
            if (!progress.update(acked))
                return progress.stop();
            if (Clock::now() >= deadline) {
                return fail(NVPOS_ERR_TIMEOUT,
                            "The printer took no data for " + std::to_string(patience.count())
                                    + " ms; " + byteCount(acked, count) + " were acknowledged");
            }
            const short events = static_cast<short>((sent < count ? POLLOUT : 0)
                                                    | (m_peerClosed ? 0 : POLLIN));
            const Clock::time_point until
                    = std::min(sliceEnd(deadline, progress), Clock::now() + AckPollInterval);
            if (waitFor(m_fd.get(), events, until) < 0) {
                const int error = errno;
                return fail(NVPOS_ERR_IO,
                            "Waiting for " + m_address + " failed: " + errorText(error));
            }
        }
    }

    // Hands the system as much of the rest as its send buffer takes, moving sent on. Returns
    // the error that broke the connection, or 0.
    int queue(const char *data, std::size_t count, std::size_t &sent)
    {
        while (sent < count) {
            const std::size_t chunk = std::min(count - sent, WriteChunk);
            const ssize_t n = ::send(m_fd.get(), data + sent, chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
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

    // How many of this write's sent bytes the printer acknowledged. The system's count of
    // acknowledged bytes survives a reset, unlike the send queue, which the system empties
    // then; it is the one to go by where the system has it. It counts from the connect, and a
    // failed earlier write may still have bytes on their way: only what was acknowledged
    // beyond everything sent before this write (sentBefore) belongs to it. 0 when the system
    // cannot tell.
    std::int64_t acknowledged(const State &state, std::size_t sent, std::int64_t sentBefore) const
    {
        std::int64_t acked = 0;
        if (m_ackedAtConnect >= 0 && state.bytesAcked >= 0)
            acked = state.bytesAcked - m_ackedAtConnect - sentBefore;
        else if (state.open)
            acked = static_cast<std::int64_t>(sent) - state.unacked;
        return std::min(acked, static_cast<std::int64_t>(sent));
    }

    // The send queue is read before the state: after a reset the system empties the queue, so
    // its length is trusted only when the connection was still open after reading it.
    State inspect() const
    {
        State state;
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

    // What the printer sends (status bytes) is read and dropped as it comes: unread data
    // would make closing the socket reset the connection.
    void discardReplies()
    {
        char sink[512];
        while (!m_peerClosed) {
            const ssize_t got = ::recv(m_fd.get(), sink, sizeof sink, MSG_DONTWAIT);
            if (got > 0)
                continue;
            if (got == 0)
                m_peerClosed = true; // its sending side; it may still take our data
            else if (errno == EINTR)
                continue;
            else if (errno != EAGAIN && errno != EWOULDBLOCK)
                m_readError = errno; // reading took the socket's error; keep it for the reason
            return;
        }
    }

    Status broken(int error, std::int64_t acked, std::size_t count)
    {
        if (error == 0 || error == ECONNRESET || error == EPIPE) {
            return fail(NVPOS_ERR_IO,
                        m_address + " closed the connection after " + byteCount(acked, count)
                                + " were acknowledged");
        }
        return fail(NVPOS_ERR_IO,
                    "Sending to " + m_address + " failed after " + byteCount(acked, count)
                            + " were acknowledged: " + errorText(error));
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
    std::string m_address;
    bool m_peerClosed = false;
    int m_readError = 0;
    std::int64_t m_ackedAtConnect; // the handshake counts too
    std::int64_t m_sentTotal = 0;
};

struct AddrInfoDeleter
{
    void operator()(addrinfo *list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// A host name is looked up on a helper thread, so that a resolver that does not answer cannot
// hold the caller past the deadline; a late answer is thrown away by the helper.
Outcome<AddrInfoList> lookUpName(const std::string &host,
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
                    "Looking up " + host + " took longer than "
                            + std::to_string(connectTimeout().count()) + " ms");
    }
    if (lookup->rc != 0)
        return fail(NVPOS_ERR_OPEN, "Cannot look up " + host + ": " + ::gai_strerror(lookup->rc));
    return AddrInfoList(lookup->found);
}

// An IPv4 or IPv6 address is taken as it is; anything else is looked up as a host name.
Outcome<AddrInfoList>
resolve(const std::string &host, std::uint16_t port, Clock::time_point deadline)
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
        return std::make_unique<SocketConnection>(fd, addressText(address));
    if (errno != EINPROGRESS && errno != EINTR) {
        error = errno;
    } else {
        const int ready = waitFor(fd, POLLOUT, deadline);
        if (ready == 1) {
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            if (error == 0)
                return std::make_unique<SocketConnection>(fd, addressText(address));
        } else {
            error = ready == 0 ? ETIMEDOUT : errno;
        }
    }
    ::close(fd);
    return fail(NVPOS_ERR_OPEN,
                "Cannot connect to " + addressText(address) + ": " + errorText(error));
}

} // namespace

std::string serialDevicePath(int number)
{
    return "/dev/ttyS" + std::to_string(number - 1);
}

std::string parallelDevicePath(int number)
{
    const std::string port = "/dev/lp" + std::to_string(number - 1);
    struct stat info;
    if (::stat(port.c_str(), &info) == 0)
        return port;
    // A receipt printer on USB appears as a USB printer class device.
    return "/dev/usb/lp" + std::to_string(number - 1);
}

Opened connectTcp(const std::string &host, std::uint16_t port)
{
    const Clock::time_point deadline = Clock::now() + connectTimeout();
    Outcome<AddrInfoList> addresses = resolve(host, port, deadline);
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
    return fail(NVPOS_ERR_OPEN, "No address for " + host);
}

Opened openDevice(const std::string &path)
{
    // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of waiting for one,
    // and a port does not wait for a modem line.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return fail(NVPOS_ERR_OPEN,
                    "Cannot open " + path + ": " + errorText(error)
                            + (error == ENXIO ? " (nobody is reading it)" : ""));
    }
    struct stat info
    {};
    if (::fstat(fd, &info) != 0)
        info.st_mode = 0;
    if (S_ISREG(info.st_mode)) {
        // A file collects what is sent to it, one connection after the other.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND);
    }
    if (::isatty(fd)) {
        // A terminal line would translate line ends; the printer needs the bytes as they are.
        termios settings;
        if (::tcgetattr(fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(fd, TCSANOW, &settings);
        }
    }
    return std::make_unique<DeviceConnection>(fd, path, info.st_mode);
}

std::int64_t serialOutputQueued(std::intptr_t handle)
{
    int queued = 0;
    if (::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) != 0)
        return 0; // a driver that cannot tell holds nothing we could wait for
    return std::max(queued, 0);
}

} // namespace Printer::NvPos::Native
