#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// How a scripted peer greets each connection.
struct PeerOptions
{
    QByteArray onConnect;      // sent at once on every connection, before any question
    bool hangUpAtOnce = false; // closes every connection as soon as it is accepted
    // Where it listens: another loopback address, or an address of a network namespace the
    // test made; port 0 takes a free one.
    QByteArray address = "127.0.0.1";
    quint16 port = 0;
};

// A printer stand-in on 127.0.0.1 (or the options' address) that answers as a script says: one
// connection after another, on its own thread. The script is handed what came in and was not taken
// yet; it takes the whole commands from the front and returns the bytes to answer with. The peer
// keeps every byte received and counts the connections.
class ScriptedPeer
{
public:
    using Script = std::function<QByteArray(QByteArray &pending)>;
    using Options = PeerOptions;

    explicit ScriptedPeer(Script script, Options options = Options())
        : m_script(std::move(script))
        , m_options(std::move(options))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_options.port);
        if (::inet_pton(AF_INET, m_options.address.constData(), &address.sin_addr) != 1)
            qFatal("ScriptedPeer: %s is no IPv4 address", m_options.address.constData());
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_listener, 16) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            qFatal("ScriptedPeer: cannot listen");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~ScriptedPeer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    quint16 port() const { return m_port; }
    QString ip() const
    {
        return QStringLiteral("%1:%2").arg(QString::fromLatin1(m_options.address)).arg(m_port);
    }
    QByteArray received() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    int connections() const { return m_connections.load(); }

    // Runs f with the script's state held still.
    template<typename F>
    auto locked(F f) const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return f();
    }

private:
    void run()
    {
        int fd = -1;
        QByteArray pending;
        while (!m_stop) {
            pollfd p{fd < 0 ? m_listener : fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            if (fd < 0) {
                fd = accept(pending);
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                ::close(fd);
                fd = -1;
                continue;
            }
            QByteArray reply;
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_received.append(buffer, got);
                pending.append(buffer, got);
                reply = m_script(pending);
            }
            if (!reply.isEmpty())
                (void)::send(fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
        }
        if (fd >= 0)
            ::close(fd);
    }

    int accept(QByteArray &pending)
    {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return -1;
        m_connections.fetch_add(1);
        pending.clear();
        if (m_options.hangUpAtOnce) {
            ::close(fd);
            return -1;
        }
        if (!m_options.onConnect.isEmpty()) {
            (void)::send(fd,
                         m_options.onConnect.constData(),
                         size_t(m_options.onConnect.size()),
                         MSG_NOSIGNAL);
        }
        return fd;
    }

    Script m_script;
    Options m_options;
    mutable std::mutex m_mutex;
    QByteArray m_received;
    std::atomic<int> m_connections{0};
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Scripts for the peer.
namespace Scripts {

// Answers each DLE EOT n: paper to n = 4, ready to the others; every other byte is taken
// without an answer.
inline ScriptedPeer::Script status(char paper = '\x12', char others = '\x12')
{
    return [paper, others](QByteArray &pending) {
        QByteArray reply;
        for (qsizetype at = pending.indexOf("\x10\x04"); at >= 0 && at + 2 < pending.size();
             at = pending.indexOf("\x10\x04")) {
            reply.append(pending.at(at + 2) == 4 ? paper : others);
            pending.remove(0, at + 3);
        }
        return reply;
    };
}

// A printer that says who it is: DLE EOT n as status() does, GS I 67 with the model and GS I
// 65 with the firmware (each 5F text 00); other bytes are taken without an answer.
inline ScriptedPeer::Script identity(QByteArray model, QByteArray firmware, char paper = '\x12')
{
    return [model, firmware, paper](QByteArray &pending) {
        QByteArray reply;
        while (pending.size() >= 3) {
            const char n = pending.at(2);
            if (pending.startsWith("\x10\x04"))
                reply.append(n == 4 ? paper : '\x12');
            else if (pending.startsWith("\x1d\x49") && (n == 65 || n == 67))
                reply.append('\x5f' + (n == 67 ? model : firmware) + '\0');
            else if (!pending.startsWith("\x10") && !pending.startsWith("\x1d")) {
                pending.remove(0, 1);
                continue;
            }
            pending.remove(0, 3);
        }
        return reply;
    };
}

// Answers every byte it reads with the same bytes.
inline ScriptedPeer::Script echo(QByteArray answer)
{
    return [answer](QByteArray &pending) {
        QByteArray reply;
        for (qsizetype i = 0; i < pending.size(); ++i)
            reply.append(answer);
        pending.clear();
        return reply;
    };
}

} // namespace Scripts

// A printer that keeps NV graphics by key, as a script for the peer: it answers DLE EOT,
// the capacity and remaining questions and the key list (40 keys a block, waiting for ACK,
// NAK or CAN), and takes defines and deletes. Read it through the peer's locked().
class GraphicsModel
{
public:
    struct Setup
    {
        qint64 capacity = 262144;
        qint64 remaining = 262144;
        QList<QByteArray> keys;
        bool keepDefines = true;
        bool garbleSecondBlock = false; // sends block 2 damaged once
    };

    explicit GraphicsModel(Setup setup)
        : m_setup(std::move(setup))
    {}

    ScriptedPeer::Script script()
    {
        return [this](QByteArray &pending) {
            return consume(pending);
        };
    }
    QList<QByteArray> keys() const { return m_setup.keys; }
    int naks() const { return m_naks; }

private:
    QByteArray consume(QByteArray &pending)
    {
        QByteArray reply;
        while (!pending.isEmpty()) {
            const quint8 first = quint8(pending.at(0));
            if (first == 0x10) {
                if (pending.size() < 3)
                    return reply;
                reply.append('\x12');
                pending.remove(0, 3);
            } else if (first == 0x06 || first == 0x15 || first == 0x18) {
                pending.remove(0, 1);
                reply.append(handshake(first));
            } else if (first == 0x1d && pending.size() >= 2
                       && (pending.at(1) == 0x28 || pending.at(1) == 0x38)) {
                const int header = pending.at(1) == 0x38 ? 7 : 5;
                if (pending.size() < header)
                    return reply;
                qint64 size = 0;
                for (int i = header - 1; i >= 3; --i)
                    size = size * 256 + quint8(pending.at(i));
                if (pending.size() < header + size)
                    return reply;
                reply.append(graphics(pending.mid(header, size)));
                pending.remove(0, header + size);
            } else {
                pending.remove(0, 1);
            }
        }
        return reply;
    }

    QByteArray handshake(quint8 byte)
    {
        if (m_current < 0)
            return {};
        if (byte == 0x18) {
            m_current = -1;
            return {};
        }
        if (byte == 0x15)
            ++m_naks;
        else
            ++m_current;
        return sendBlock();
    }

    static QByteArray number(char which, qint64 value)
    {
        return QByteArray("\x37") + which + QByteArray::number(value) + '\0';
    }

    // One GS ( L body: m fn and its parameters.
    QByteArray graphics(const QByteArray &body)
    {
        if (body.size() < 2 || body.at(0) != 0x30)
            return {};
        switch (body.at(1)) {
        case 0x30:
            return number(0x30, m_setup.capacity);
        case 0x33:
            return number(0x31, m_setup.remaining);
        case 0x40:
            return keyList();
        case 0x41:
            m_setup.remaining = m_setup.capacity;
            m_setup.keys.clear();
            return {};
        case 0x42:
            m_setup.keys.removeAll(body.mid(2, 2));
            return {};
        case 0x43:
            if (m_setup.keepDefines && body.size() >= 12) {
                m_setup.keys.removeAll(body.mid(3, 2));
                m_setup.keys.append(body.mid(3, 2));
                m_setup.remaining -= body.size() - 11;
            }
            return {};
        default:
            return {};
        }
    }

    QByteArray keyList()
    {
        const QList<QByteArray> &keys = m_setup.keys;
        m_blocks.clear();
        for (qsizetype i = 0; i == 0 || i < keys.size(); i += 40) {
            const bool more = i + 40 < keys.size();
            QByteArray block("\x37\x72");
            block.append(more ? '\x41' : '\x40');
            for (qsizetype k = i; k < std::min(keys.size(), i + 40); ++k)
                block.append(keys.at(k));
            m_blocks.append(block + '\0');
        }
        m_current = 0;
        return sendBlock();
    }

    // The key-list block due now; the second goes out damaged once when asked for. After
    // the last block the list is over.
    QByteArray sendBlock()
    {
        QByteArray block = m_blocks.value(m_current);
        if (m_current == 1 && m_setup.garbleSecondBlock) {
            m_setup.garbleSecondBlock = false;
            block = QByteArray("\x37\x72\x41\x41\x00", 5); // an odd key byte
        } else if (m_current == m_blocks.size() - 1) {
            m_current = -1;
        }
        return block;
    }

    Setup m_setup;
    QList<QByteArray> m_blocks; // the key list's blocks
    int m_current = -1;         // the block sent last; -1 when no list is going on
    int m_naks = 0;
};
