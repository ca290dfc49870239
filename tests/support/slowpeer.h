#pragma once

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

// A printer stand-in on 127.0.0.1 that takes its time: it reads chunk bytes every pauseMs,
// with a small receive buffer so that the sender feels it, and may hang up after hangUpAfter
// bytes. One connection; it runs on its own thread, so it keeps reading whatever the test's
// thread does.
class SlowPeer
{
public:
    SlowPeer(int chunk, int pauseMs, qint64 hangUpAfter = -1)
        : m_chunk(chunk)
        , m_pauseMs(pauseMs)
        , m_hangUpAfter(hangUpAfter)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Set before listening, so that the accepted socket advertises a small window.
        const int small = 4096;
        ::setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_listener, 1) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            qFatal("SlowPeer: cannot listen");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }

    ~SlowPeer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }

    quint16 port() const { return m_port; }
    qint64 received() const { return m_received; }
    // Whether the sender closed its end after everything it sent was read.
    bool sawEnd() const { return m_sawEnd; }

private:
    void run()
    {
        int fd = -1;
        while (!m_stop && fd < 0) {
            pollfd pfd{m_listener, POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0)
                fd = ::accept(m_listener, nullptr, nullptr);
        }
        char buffer[65536];
        while (!m_stop && fd >= 0) {
            qint64 want = m_chunk;
            if (m_hangUpAfter >= 0)
                want = std::min<qint64>(want, m_hangUpAfter - m_received);
            if (want <= 0)
                break;
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0)
                continue;
            const ssize_t got = ::recv(fd, buffer, size_t(want), 0);
            if (got <= 0) {
                m_sawEnd = got == 0;
                break;
            }
            m_received += got;
            std::this_thread::sleep_for(std::chrono::milliseconds(m_pauseMs));
        }
        if (fd >= 0)
            ::close(fd);
    }

    int m_chunk;
    int m_pauseMs;
    qint64 m_hangUpAfter;
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_received{0};
    std::atomic<bool> m_sawEnd{false};
};
