#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

// A printer stand-in on 127.0.0.1: accepts connections on its own thread and keeps every
// byte received, so that a command blocking the test's thread can still deliver.
class TcpSink
{
public:
    TcpSink()
    {
        m_thread.reset(QThread::create([this] { run(); }));
        m_thread->start();
        while (!m_ready.load())
            QThread::msleep(1);
    }

    ~TcpSink()
    {
        m_stop = true;
        m_thread->wait();
    }

    quint16 port() const { return m_port; }

    // Waits until a connection has come and gone, or the time is up; the bytes received.
    QByteArray waitForClosedConnection(int timeoutMs = 20000)
    {
        for (int waited = 0; waited < timeoutMs && m_closedConnections.load() == 0; waited += 10)
            QThread::msleep(10);
        return received();
    }

    QByteArray received() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_data;
    }

    int connectionCount() const { return m_connections.load(); }

private:
    void run()
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        m_port = server.serverPort();
        m_ready = true;
        QTcpSocket *socket = nullptr;
        while (!m_stop.load()) {
            if (!socket) {
                if (server.waitForNewConnection(20)) {
                    socket = server.nextPendingConnection();
                    ++m_connections;
                }
                continue;
            }
            if (socket->waitForReadyRead(20) || socket->bytesAvailable() > 0) {
                const QByteArray chunk = socket->readAll();
                std::lock_guard<std::mutex> lock(m_mutex);
                m_data += chunk;
            }
            if (socket->state() != QAbstractSocket::ConnectedState
                && socket->bytesAvailable() == 0) {
                delete socket;
                socket = nullptr;
                ++m_closedConnections;
            }
        }
        delete socket;
    }

    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_closedConnections{0};
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    QByteArray m_data;
};
