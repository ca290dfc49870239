#pragma once

// Real peers for the printer library's transports: a TCP listener, a pty pair and a FIFO,
// each read on a thread of its own while the library writes.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <future>

namespace NvPosTest {

// Every byte value once, in order.
QByteArray allByteValues();
// size bytes of a pattern that does not repeat every 256 bytes, so that a dropped or
// repeated block shows.
QByteArray pattern(qsizetype size);

// Reads fd until expected bytes came, or end of stream, or the deadline; with untilEof it
// goes on after expected bytes to the end of the stream, so that extra bytes show.
QByteArray readFrom(int fd, qsizetype expected, bool untilEof, std::chrono::milliseconds limit);

// An open descriptor that closes itself.
class Fd
{
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {}
    ~Fd();
    Fd(Fd &&other) noexcept
        : m_fd(other.release())
    {}
    Fd &operator=(Fd &&other) noexcept;
    int get() const { return m_fd; }
    int release();
    void reset(int fd = -1);

private:
    int m_fd;
};

// A TCP listener on 127.0.0.1 (or ::1) with a port of the system's choice.
class TcpListener
{
public:
    enum Family { IPv4, IPv6 };
    // backlog 0 and a small receive buffer serve the failure tests.
    explicit TcpListener(int backlog = 4, int receiveBuffer = 0, Family family = IPv4);
    static bool ipv6Available();
    quint16 port() const { return m_port; }
    // "127.0.0.1:port" or "[::1]:port".
    QByteArray address() const;
    int fd() const { return m_fd.get(); }

    // Accepts one connection on a thread and collects what arrives until the stream ends.
    void collect(qsizetype expected);
    // Accepts one connection on a thread and hands it to reader, whose result received()
    // returns; the connection is closed when reader returns.
    void serve(std::function<QByteArray(int connection)> reader);
    QByteArray received();

    // Fills the accept queue until a further connect stays pending: from then on a connect
    // to this listener hangs. Returns false when the system would not let it hang.
    bool clog();

private:
    Fd m_fd;
    Family m_family;
    quint16 m_port = 0;
    std::vector<Fd> m_clogs;
    std::future<QByteArray> m_reader;
};

// A pty pair in raw mode; the library writes to the follower "COM:/dev/pts/N" and the test
// reads the leader.
class PtyPair
{
public:
    PtyPair();
    QByteArray portName() const { return "COM:" + m_path; }
    int leader() const { return m_leader.get(); }
    void collect(qsizetype expected);
    QByteArray received();

private:
    Fd m_leader;
    Fd m_follower; // held open, so that the library's close does not hang up the line
    QByteArray m_path;
    std::future<QByteArray> m_reader;
};

// A FIFO in a private folder; the reader end is opened only on request.
class Fifo
{
public:
    explicit Fifo(const QString &path);
    QByteArray portName() const;
    void openReader();
    void closeReader() { m_reader.reset(); }
    void collect(qsizetype expected);
    QByteArray received();

private:
    QByteArray m_path;
    Fd m_reader;
    std::future<QByteArray> m_collected;
};

} // namespace NvPosTest
