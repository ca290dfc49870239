// POSIX sockets and device files.
#include "nativeio.h"

#include <arpa/inet.h>
#include <fcntl.h>
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

// Writes all bytes to a non-blocking descriptor. Fails when no byte moves for
// noProgressTimeout().
Result writeAll(int fd, bool isSocket, const char *data, std::size_t count, const char *what)
{
    const Milliseconds patience = noProgressTimeout();
    std::size_t done = 0;
    Clock::time_point deadline = Clock::now() + patience;
    bool claimedReady = false;
    while (done < count) {
        const std::size_t chunk = std::min(count - done, WriteChunk);
        const ssize_t written = isSocket ? ::send(fd, data + done, chunk, MSG_NOSIGNAL)
                                         : writeWithoutSigpipe(fd, data + done, chunk);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            deadline = Clock::now() + patience;
            claimedReady = false;
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const int error = errno;
            qCWarning(lcNvPos,
                      "Writing to %s failed after %zu of %zu bytes: %s",
                      what,
                      done,
                      count,
                      errorText(error).c_str());
            return NVPOS_ERR_IO;
        }
        if (Clock::now() >= deadline) {
            qCWarning(lcNvPos,
                      "%s took no data for %lld ms; %zu of %zu bytes were sent",
                      what,
                      static_cast<long long>(patience.count()),
                      done,
                      count);
            return NVPOS_ERR_TIMEOUT;
        }
        if (claimedReady) {
            std::this_thread::sleep_for(
                    std::min<Clock::duration>(BusyRetryPause, deadline - Clock::now()));
            claimedReady = false;
            continue;
        }
        const int ready = waitFor(fd, POLLOUT, deadline);
        if (ready < 0) {
            const int error = errno;
            qCWarning(lcNvPos, "Waiting for %s failed: %s", what, errorText(error).c_str());
            return NVPOS_ERR_IO;
        }
        claimedReady = ready > 0;
    }
    return static_cast<Result>(count);
}

class FdConnection : public Connection
{
public:
    FdConnection(int fd, bool isSocket, std::string what)
        : m_fd(fd)
        , m_isSocket(isSocket)
        , m_what(std::move(what))
    {}
    ~FdConnection() override { closeFd(); }

    Result write(const char *data, std::int32_t count) override
    {
        return writeAll(m_fd, m_isSocket, data, static_cast<std::size_t>(count), m_what.c_str());
    }

    Result close() override
    {
        if (m_isSocket) {
            // Unread bytes from the printer (status replies) would make the close reset the
            // connection, which may drop data still on its way; read them first, then send
            // our end-of-stream.
            char sink[512];
            while (::recv(m_fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
            }
            ::shutdown(m_fd, SHUT_WR);
        }
        return closeFd() ? NVPOS_OK : NVPOS_ERR_IO;
    }

private:
    bool closeFd()
    {
        if (m_fd < 0)
            return true;
        // close() is not retried on EINTR: the descriptor is gone either way on Linux.
        const bool ok = ::close(m_fd) == 0 || errno == EINTR;
        if (!ok)
            qCWarning(lcNvPos, "Closing %s failed: %s", m_what.c_str(), errorText(errno).c_str());
        m_fd = -1;
        return ok;
    }

    int m_fd;
    bool m_isSocket;
    std::string m_what;
};

struct AddrInfoDeleter
{
    void operator()(addrinfo *list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// Host names are looked up on a helper thread, so that a resolver that does not answer
// cannot hold the caller past the deadline; a late answer is thrown away by the helper.
AddrInfoList resolve(const std::string &host, std::uint16_t port, Clock::time_point deadline)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    const std::string service = std::to_string(port);

    addrinfo *found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc == 0)
        return AddrInfoList(found);
    if (rc != EAI_NONAME) {
        qCWarning(lcNvPos, "Bad address %s: %s", host.c_str(), ::gai_strerror(rc));
        return nullptr;
    }

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
    hints.ai_flags = AI_NUMERICSERV;
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
        qCWarning(lcNvPos, "Cannot look up %s: %s", host.c_str(), error.what());
        return nullptr;
    }

    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        qCWarning(lcNvPos, "Looking up %s took too long", host.c_str());
        return nullptr;
    }
    if (lookup->rc != 0) {
        qCWarning(lcNvPos, "Cannot look up %s: %s", host.c_str(), ::gai_strerror(lookup->rc));
        return nullptr;
    }
    return AddrInfoList(lookup->found);
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

// One non-blocking connect, bounded by deadline. Returns the socket or -1.
int connectOne(const addrinfo *address, Clock::time_point deadline)
{
    const int fd = ::socket(address->ai_family,
                            address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address->ai_protocol);
    if (fd < 0) {
        qCWarning(lcNvPos,
                  "No socket for %s: %s",
                  addressText(address).c_str(),
                  errorText(errno).c_str());
        return -1;
    }
    int error = 0;
    if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0)
        return fd;
    if (errno != EINPROGRESS && errno != EINTR) {
        error = errno;
    } else {
        const int ready = waitFor(fd, POLLOUT, deadline);
        if (ready == 1) {
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            if (error == 0)
                return fd;
        } else {
            error = ready == 0 ? ETIMEDOUT : errno;
        }
    }
    qCWarning(lcNvPos,
              "Cannot connect to %s: %s",
              addressText(address).c_str(),
              errorText(error).c_str());
    ::close(fd);
    return -1;
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

std::unique_ptr<Connection> connectTcp(const std::string &host, std::uint16_t port)
{
    const Clock::time_point deadline = Clock::now() + connectTimeout();
    const AddrInfoList addresses = resolve(host, port, deadline);
    if (!addresses)
        return nullptr;

    std::vector<const addrinfo *> candidates;
    for (const addrinfo *address = addresses.get(); address; address = address->ai_next)
        candidates.push_back(address);
    // The time left is shared out, so that one address that does not answer leaves time for
    // the next.
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const auto share = (deadline - Clock::now()) / static_cast<int>(candidates.size() - i);
        const int fd = connectOne(candidates[i], Clock::now() + share);
        if (fd >= 0)
            return std::make_unique<FdConnection>(fd, true, addressText(candidates[i]));
    }
    return nullptr;
}

std::unique_ptr<Connection> openDevice(const std::string &path)
{
    // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of waiting for one,
    // and a port does not wait for a modem line.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        qCWarning(lcNvPos,
                  "Cannot open %s: %s%s",
                  path.c_str(),
                  errorText(error).c_str(),
                  error == ENXIO ? " (nobody is reading it)" : "");
        return nullptr;
    }
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
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
    return std::make_unique<FdConnection>(fd, false, path);
}

bool drainSerialOutput(std::intptr_t handle, Clock::time_point deadline)
{
    const int fd = static_cast<int>(handle);
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return true;
        if (Clock::now() >= deadline) {
            ::tcflush(fd, TCOFLUSH);
            return false;
        }
        std::this_thread::sleep_for(
                std::min<Clock::duration>(BusyRetryPause, deadline - Clock::now()));
    }
}

} // namespace Printer::NvPos::Native
