// POSIX sockets, device files and serial lines: the channel the run loop runs over, and the
// openers.
#include "nativeio.h"

#include "platformnames.h"
#include "runloop.h"

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
#include <cstddef>
#include <vector>

namespace Printer::NvPos::Native {

namespace {

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 24 * 3600 * 1000));
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

// The kernel's connection states (include/net/tcp_states.h), which no user header names next
// to linux/tcp.h.
constexpr int TcpEstablished = 1;
constexpr int TcpCloseWait = 8;

// A socket, device, FIFO, file or serial line as the run loop sees it.
class PosixChannel final : public NativeChannel
{
public:
    PosixChannel(int fd, Medium medium)
        : m_fd(fd)
        , m_medium(medium)
    {}

    bool isOpen() const override { return m_fd.get() >= 0; }
    int queue(const char *data, std::size_t count, std::size_t &taken) override;
    Heard hear(char *buffer, std::size_t size) override;
    int wait(bool wantWrite, bool wantRead, Clock::time_point until) override;
    DeliveryState delivery() const override;

    std::int64_t size() const override
    {
        struct stat info;
        return ::fstat(m_fd.get(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
    }
    int sync() override { return ::fsync(m_fd.get()) == 0 ? 0 : errno; }
    int cutBack(std::int64_t size) override
    {
        return ::ftruncate(m_fd.get(), static_cast<off_t>(size)) == 0 ? 0 : errno;
    }
    void dropOutput() override { ::tcflush(m_fd.get(), TCOFLUSH); }
    void endOutput() override { ::shutdown(m_fd.get(), SHUT_WR); }
    // Closing with a zero linger time drops the send queue and resets the connection.
    void abort() override
    {
        if (m_medium == Medium::Socket) {
            const linger now{1, 0};
            ::setsockopt(m_fd.get(), SOL_SOCKET, SO_LINGER, &now, sizeof now);
        }
        m_fd.discard();
    }
    int close() override { return m_fd.discard(); }

private:
    DeliveryState inspectSocket() const;

    Descriptor m_fd;
    Medium m_medium;
};

int PosixChannel::queue(const char *data, std::size_t count, std::size_t &taken)
{
    taken = 0;
    for (;;) {
        const ssize_t n = m_medium == Medium::Socket
                                  ? ::send(m_fd.get(), data, count, MSG_NOSIGNAL | MSG_DONTWAIT)
                                  : writeWithoutSigpipe(m_fd.get(), data, count);
        if (n > 0)
            taken = static_cast<std::size_t>(n);
        if (n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

Heard PosixChannel::hear(char *buffer, std::size_t size)
{
    Heard heard;
    for (;;) {
        const ssize_t got = m_medium == Medium::Socket
                                    ? ::recv(m_fd.get(), buffer, size, MSG_DONTWAIT)
                                    : ::read(m_fd.get(), buffer, size);
        if (got > 0)
            heard.count = static_cast<std::size_t>(got);
        else if (got == 0)
            heard.ended = true;
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            heard.error = errno;
        return heard;
    }
}

int PosixChannel::wait(bool wantWrite, bool wantRead, Clock::time_point until)
{
    const short events = static_cast<short>((wantWrite ? POLLOUT : 0) | (wantRead ? POLLIN : 0));
    for (;;) {
        pollfd pfd{m_fd.get(), events, 0};
        if (::poll(&pfd, 1, remainingMs(until)) >= 0) {
            int ready = 0;
            if (pfd.revents & POLLOUT)
                ready |= Writable;
            if (pfd.revents & POLLIN)
                ready |= Readable;
            if (pfd.revents & ~(POLLOUT | POLLIN))
                ready |= Trouble;
            return ready;
        }
        if (errno != EINTR)
            return -errno;
    }
}

DeliveryState PosixChannel::delivery() const
{
    DeliveryState state;
    if (m_medium == Medium::Socket)
        return inspectSocket();
    if (m_medium == Medium::Serial) {
        // What the driver still holds; 0 when it cannot tell.
        int queued = 0;
        if (::ioctl(m_fd.get(), TIOCOUTQ, &queued) == 0)
            state.pending = std::max(queued, 0);
    }
    return state;
}

// The send queue is read before the state: after a reset the system empties the queue, so
// its length is trusted only when the connection was still open after reading it.
DeliveryState PosixChannel::inspectSocket() const
{
    DeliveryState state;
    state.open = false;
    int unacked = 0;
    if (::ioctl(m_fd.get(), SIOCOUTQ, &unacked) != 0) {
        state.error = errno;
        return state;
    }
    state.pending = unacked;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(m_fd.get(), IPPROTO_TCP, TCP_INFO, &info, &length) != 0) {
        state.error = errno;
        return state;
    }
    state.open = info.tcpi_state == TcpEstablished || info.tcpi_state == TcpCloseWait;
    // Older kernels fill in a shorter structure, without the count.
    if (length >= offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked)
        state.ackedTotal = static_cast<std::int64_t>(info.tcpi_bytes_acked);
    int error = 0;
    length = sizeof error;
    if (::getsockopt(m_fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0)
        state.error = error;
    return state;
}

std::unique_ptr<StreamConnection> streamConnection(int fd, StreamConnection::Setup setup)
{
    auto channel = std::make_unique<PosixChannel>(fd, setup.medium);
    return std::make_unique<StreamConnection>(std::move(channel), std::move(setup));
}

std::unique_ptr<Connection> socketConnection(int fd, std::string address)
{
    StreamConnection::Setup setup;
    setup.name = std::move(address);
    setup.medium = Medium::Socket;
    setup.canRead = true;
    return streamConnection(fd, std::move(setup));
}

// A host name is looked up off this thread, bounded by the deadline.
Made<AddrInfoList> lookUpName(const std::string &host,
                              const std::string &service,
                              const addrinfo &hints,
                              Clock::time_point deadline)
{
    HostLookup lookup = lookUpHost(host, service, hints, deadline);
    switch (lookup.outcome) {
    case HostLookup::Outcome::Found:
        return std::move(lookup.found);
    case HostLookup::Outcome::TimedOut:
        return fail(NVPOS_ERR_OPEN,
                    NVPOS_KIND_TIMEOUT,
                    "Looking up " + host + " took longer than "
                            + std::to_string(connectTimeout().count()) + " ms");
    case HostLookup::Outcome::NotFound:
        return fail(NVPOS_ERR_OPEN,
                    NVPOS_KIND_NOT_FOUND,
                    "Cannot look up " + host + ": " + lookup.reason);
    case HostLookup::Outcome::Failed:
        break;
    }
    return fail(NVPOS_ERR_OPEN, NVPOS_KIND_IO, "Cannot look up " + host + ": " + lookup.reason);
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
        qCInfo(lcNvPos, "%s", opened.status().reason().c_str());
    }
    return fail(NVPOS_ERR_OPEN, NVPOS_KIND_NOT_FOUND, "No address for " + host);
}

namespace {

// A device that may be read: a USB printer whose interface is one-way refuses reads (EINVAL);
// a device with nothing behind it reports the end at once. A byte that did come is kept.
Opened probedDevice(int fd, StreamConnection::Setup setup)
{
    char first = 0;
    const ssize_t got = ::read(fd, &first, 1);
    const int error = errno;
    if (got == 0 || (got < 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR)) {
        setup.canRead = false;
        setup.noReadReason = "The driver of " + setup.name + " passes no answers from the printer"
                             + (got < 0 ? " (" + errorText(error) + ")" : "");
    }
    auto connection = streamConnection(fd, std::move(setup));
    if (got > 0)
        connection->keepReceived(&first, 1);
    return std::unique_ptr<Connection>(std::move(connection));
}

// What the open descriptor fd of path is, and the connection that runs it.
Opened describedDevice(int fd, StreamConnection::Setup setup)
{
    const std::string &path = setup.name;
    struct stat info
    {};
    if (::fstat(fd, &info) != 0)
        info.st_mode = 0;
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
        return probedDevice(fd, std::move(setup));
    } else {
        setup.medium = Medium::Device;
        setup.noReadReason = "The driver of " + path + " does not let " + path + " be read";
    }
    return std::unique_ptr<Connection>(streamConnection(fd, std::move(setup)));
}

// Why path did not open. "No such device or address" is all the system says both for a FIFO
// without a reader and for a device with nothing behind it, and also for a socket, which is no
// file at all: what the path is tells them apart.
Status openFailed(const std::string &path, int error)
{
    struct stat info
    {};
    const bool found = ::stat(path.c_str(), &info) == 0;
    if (found && S_ISSOCK(info.st_mode)) {
        return fail(NVPOS_ERR_OPEN,
                    NVPOS_KIND_NOT_FOUND,
                    "Cannot open " + path + ": it is a socket, which cannot be opened as a file");
    }
    const bool noReader = error == ENXIO && found && S_ISFIFO(info.st_mode);
    return fail(NVPOS_ERR_OPEN,
                kindOfError(error),
                "Cannot open " + path + ": " + errorText(error)
                        + (noReader ? " (nobody is reading it)" : ""));
}

} // namespace

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
    if (fd < 0)
        return openFailed(path, errno);
    return describedDevice(fd, std::move(setup));
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

// Raw bytes at the given settings on the open port fd; held by this process alone.
Status setUpLine(int fd, const std::string &path, const SerialSettings &settings, speed_t speed)
{
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
    return NVPOS_OK;
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
    const Status lineSet = setUpLine(fd, path, settings, speed);
    if (!lineSet.ok())
        return lineSet;
    StreamConnection::Setup setup;
    setup.name = path;
    setup.medium = Medium::Serial;
    setup.canRead = true;
    setup.baudRate = settings.baudRate;
    setup.bitsPerCharacter
            = 1 + settings.dataBits + (settings.parity != 0 ? 1 : 0) + settings.stopBits;
    return std::unique_ptr<Connection>(streamConnection(port.release(), std::move(setup)));
}

} // namespace Printer::NvPos::Native
