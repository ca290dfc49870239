#include "peers.h"

#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace NvPosTest {

namespace {

// Every read has an end: a peer that never finishes fails the test instead of hanging it.
constexpr std::chrono::seconds CollectLimit{60};

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

QByteArray allByteValues()
{
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<char>(i);
    return bytes;
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, '\0');
    quint32 state = 0x12345678u;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

QByteArray readFrom(int fd, qsizetype expected, bool untilEof, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    QByteArray data;
    char buffer[65536];
    for (;;) {
        if (!untilEof && data.size() >= expected)
            return data;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return data;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return data;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0) // end of stream, or EIO from a pty whose other side is gone
            return data;
        data.append(buffer, got);
    }
}

Fd::~Fd()
{
    reset();
}

Fd &Fd::operator=(Fd &&other) noexcept
{
    reset(other.release());
    return *this;
}

int Fd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void Fd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

TcpListener::TcpListener(int backlog, int receiveBuffer, Family family)
    : m_fd(::socket(family == IPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    , m_family(family)
{
    check(m_fd.get() >= 0, "socket");
    if (receiveBuffer > 0) {
        // Set before listen(), so that accepted connections inherit it.
        check(::setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer)
                      == 0,
              "SO_RCVBUF");
    }
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == IPv6) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        length = sizeof *v6;
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *v4;
    }
    check(::bind(m_fd.get(), reinterpret_cast<sockaddr *>(&address), length) == 0, "bind");
    check(::listen(m_fd.get(), backlog) == 0, "listen");
    check(::getsockname(m_fd.get(), reinterpret_cast<sockaddr *>(&address), &length) == 0,
          "getsockname");
    m_port = ntohs(family == IPv6 ? reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port
                                  : reinterpret_cast<sockaddr_in *>(&address)->sin_port);
}

bool TcpListener::ipv6Available()
{
    Fd probe(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    return probe.get() >= 0
           && ::bind(probe.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
}

QByteArray TcpListener::address() const
{
    return (m_family == IPv6 ? "[::1]:" : "127.0.0.1:") + QByteArray::number(m_port);
}

void TcpListener::collect(qsizetype expected)
{
    serve([expected](int connection) {
        return readFrom(connection, expected, true, CollectLimit);
    });
}

void TcpListener::serve(std::function<QByteArray(int)> reader)
{
    const int listener = m_fd.get();
    m_reader = std::async(std::launch::async, [listener, reader = std::move(reader)] {
        pollfd pfd{listener, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(CollectLimit.count() * 1000)) <= 0)
            return QByteArray();
        Fd connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.get() < 0)
            return QByteArray();
        return reader(connection.get());
    });
}

QByteArray TcpListener::received()
{
    return m_reader.valid() ? m_reader.get() : QByteArray();
}

bool TcpListener::clog()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_port);
    for (int i = 0; i < 16; ++i) {
        Fd client(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        check(client.get() >= 0, "socket");
        if (::connect(client.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            && errno != EINPROGRESS) {
            return false;
        }
        pollfd pfd{client.get(), POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, 500);
        m_clogs.push_back(std::move(client));
        if (ready == 0)
            return true; // the SYN went unanswered: the queue is full
    }
    return false;
}

PtyPair::PtyPair()
{
    int leader = -1;
    int follower = -1;
    char name[128] = {};
    check(::openpty(&leader, &follower, name, nullptr, nullptr) == 0, "openpty");
    m_leader.reset(leader);
    m_follower.reset(follower);
    m_path = name;
    // Raw on both sides: no byte is translated or swallowed on its way to the reader.
    for (const int fd : {leader, follower}) {
        termios settings;
        check(::tcgetattr(fd, &settings) == 0, "tcgetattr");
        ::cfmakeraw(&settings);
        check(::tcsetattr(fd, TCSANOW, &settings) == 0, "tcsetattr");
    }
}

void PtyPair::collect(qsizetype expected)
{
    const int fd = m_leader.get();
    m_reader = std::async(std::launch::async,
                          [fd, expected] { return readFrom(fd, expected, false, CollectLimit); });
}

QByteArray PtyPair::received()
{
    if (!m_reader.valid())
        return {};
    QByteArray data = m_reader.get();
    // Anything beyond what was expected would be a fault too.
    data += readFrom(m_leader.get(), 1, false, std::chrono::milliseconds(100));
    return data;
}

Fifo::Fifo(const QString &path)
    : m_path(QFile::encodeName(path))
{
    check(::mkfifo(m_path.constData(), 0600) == 0, "mkfifo");
}

QByteArray Fifo::portName() const
{
    return "LPT:" + m_path;
}

void Fifo::openReader()
{
    m_reader.reset(::open(m_path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    check(m_reader.get() >= 0, "open FIFO");
}

void Fifo::collect(qsizetype expected)
{
    const int fd = m_reader.get();
    // To the end of the stream: the writer's close ends it.
    m_collected = std::async(std::launch::async,
                             [fd, expected] { return readFrom(fd, expected, true, CollectLimit); });
}

QByteArray Fifo::received()
{
    return m_collected.valid() ? m_collected.get() : QByteArray();
}

} // namespace NvPosTest
