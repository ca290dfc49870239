#include "printerservice.h"

#include <vprinter/pseudoterminal.h>

#include <QFile>
#include <QQueue>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

namespace VirtualPrinter::NvlogoPrinter {

namespace {
constexpr qint64 FileChunk = 65536;
// What the socket reads ahead from the network; beyond it the sender waits for the printer.
constexpr qint64 SocketReadAhead = 64 * 1024;
} // namespace

// A listening socket whose connections wait as bare descriptors until their turn. A socket
// object made at once would read a waiting client's bytes and its end of sending, and close
// before the printer got to it: a client that sends its questions and half-closes its side
// would never hear the answers.
class WaitingConnections : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;
    ~WaitingConnections() override
    {
        while (!m_waiting.isEmpty())
            QTcpSocket().setSocketDescriptor(m_waiting.dequeue()); // closed with the socket
    }

    bool hasWaiting() const { return !m_waiting.isEmpty(); }
    qintptr takeNext()
    {
        const qintptr descriptor = m_waiting.dequeue();
        resumeAccepting();
        return descriptor;
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        m_waiting.enqueue(descriptor);
        if (m_waiting.size() >= PrinterService::MaxWaitingConnections)
            pauseAccepting();
    }

private:
    QQueue<qintptr> m_waiting;
};

namespace {

// The peer as host:port, taken when the connection is served.
QString peerName(const QTcpSocket &socket)
{
    const QHostAddress address = socket.peerAddress();
    if (address.isNull())
        return QStringLiteral("a peer that has gone");
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(address.toString())
                                 : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(socket.peerPort());
}

} // namespace

PrinterService::PrinterService(ReceiptPrinter *printer, QObject *parent)
    : QObject(parent)
    , m_printer(printer)
{
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, &PrinterService::onIdle);
    m_printerTimer.setSingleShot(true);
    connect(&m_printerTimer, &QTimer::timeout, this, [this] { m_printer->poll(); });
    m_printer->onTimer = [this](qint64 ms) {
        m_printerTimer.start(int(std::min<qint64>(ms, 24 * 3600 * 1000)));
    };
    m_printer->onReset = [this](int) {
        if (!m_dropOnReset || !m_socket)
            return;
        // Not from inside the printer's receive(): the connection ends once that returns.
        QMetaObject::invokeMethod(
                this,
                [this] { endConnection(QStringLiteral("closed by the printer's reset")); },
                Qt::QueuedConnection);
    };
}

bool PrinterService::listen(const QHostAddress &address, quint16 port, QString *error)
{
    m_server = new WaitingConnections(this);
    if (!m_server->listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(address.toString())
                         .arg(port)
                         .arg(m_server->errorString());
        return false;
    }
    m_printer->onReply = [this](const QByteArray &bytes) {
        if (m_socket)
            m_socket->write(bytes);
    };
    connect(m_server, &QTcpServer::newConnection, this, &PrinterService::serveNextConnection);
    const QHostAddress bound = m_server->serverAddress();
    const QString host = bound.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(bound.toString())
                                 : bound.toString();
    emit message(QStringLiteral("listening on %1:%2").arg(host).arg(m_server->serverPort()));
    return true;
}

quint16 PrinterService::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

// One connection at a time, as a printer takes them; others wait their turn.
void PrinterService::serveNextConnection()
{
    if (m_socket || !m_server->hasWaiting())
        return;
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(m_server->takeNext())) {
        emit message(
                QStringLiteral("connection lost before its turn: %1").arg(socket->errorString()));
        delete socket;
        QTimer::singleShot(0, this, &PrinterService::serveNextConnection);
        return;
    }
    m_socket = socket;
    m_socket->setReadBufferSize(SocketReadAhead);
    m_connectionBytes = 0;
    m_paused = false;
    emit message(QStringLiteral("connection from %1").arg(peerName(*m_socket)));
    m_printer->connectionOpened();
    connect(m_socket, &QTcpSocket::readyRead, this, &PrinterService::readSocket);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &PrinterService::repliesWritten);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        endConnection(QStringLiteral("closed by the sender"));
    });
    readSocket();
    restartIdleTimer();
}

// A sender that sends status requests and never reads the answers would make the replies pile
// up without end. Once too many wait, the printer stops reading from it, as a printer with a
// full buffer does, until the sender has read them; the network then holds the sender back.
void PrinterService::readSocket()
{
    bool received = false;
    while (m_socket && !m_paused) {
        if (m_socket->bytesToWrite() >= MaxPendingReplies) {
            m_paused = true;
            emit message(QStringLiteral("connection paused: %1 bytes of replies unread; reading "
                                        "on when the sender has read them")
                                 .arg(m_socket->bytesToWrite()));
            break;
        }
        const QByteArray bytes = m_socket->read(ReadChunk);
        if (bytes.isEmpty())
            break;
        m_connectionBytes += bytes.size();
        m_printer->receive(bytes);
        received = true;
    }
    if (!received)
        return;
    m_printer->flushLog();
    restartIdleTimer();
    // The replies go out now, before the socket sees a sender that half-closed its side: once it
    // has, it closes and drops what it still holds.
    if (m_socket)
        m_socket->flush();
}

void PrinterService::repliesWritten()
{
    if (!m_socket)
        return;
    // The sender takes its replies, so it is still there.
    restartIdleTimer();
    if (m_paused && m_socket->bytesToWrite() <= MaxPendingReplies / 2) {
        m_paused = false;
        emit message(QStringLiteral("connection resumed: the sender read its replies"));
        readSocket();
    }
}

void PrinterService::endConnection(const QString &why)
{
    if (!m_socket)
        return;
    readSocket();
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    m_idleTimer.stop();
    // What arrived is still taken, even while paused; its replies have nowhere to go.
    const QByteArray rest = socket->readAll();
    m_connectionBytes += rest.size();
    m_printer->receive(rest);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    m_printer->endOfStream();
    emit message(QStringLiteral("connection %1 (%2 bytes)").arg(why).arg(m_connectionBytes));
    // Connections that arrived meanwhile may already wait in the server's queue.
    QTimer::singleShot(0, this, &PrinterService::serveNextConnection);
}

bool PrinterService::openSerial(QString *error)
{
    m_terminal = new PseudoTerminal(this);
    if (!m_terminal->open(error))
        return false;
    m_printer->onReply = [this](const QByteArray &bytes) {
        m_terminal->write(bytes);
    };
    connect(m_terminal, &PseudoTerminal::received, this, [this](const QByteArray &bytes) {
        m_printer->receive(bytes);
        m_printer->flushLog();
        restartIdleTimer();
    });
    connect(m_terminal, &PseudoTerminal::hungUp, this, [this] {
        m_idleTimer.stop();
        m_printer->endOfStream();
        emit message(QStringLiteral("serial port closed by the sender"));
    });
    emit message(QStringLiteral("serial port %1 (port text COM:%1)").arg(m_terminal->slaveName()));
    return true;
}

bool PrinterService::processFile(const QString &path, QString *error)
{
    QFile file(path);
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : file.open(QIODevice::ReadOnly);
    if (!opened) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    qint64 total = 0;
    for (;;) {
        const QByteArray bytes = file.read(FileChunk);
        if (bytes.isEmpty())
            break;
        total += bytes.size();
        m_printer->receive(bytes);
    }
    if (file.error() != QFileDevice::NoError) {
        m_printer->endOfStream();
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    m_printer->endOfStream();
    emit message(QStringLiteral("%1: %2 bytes processed").arg(path).arg(total));
    return true;
}

void PrinterService::restartIdleTimer()
{
    if (m_idleTimeoutSeconds > 0)
        m_idleTimer.start(m_idleTimeoutSeconds * 1000);
}

void PrinterService::onIdle()
{
    if (m_socket) {
        endConnection(m_paused ? QStringLiteral("closed: its replies went unread for %1 s")
                                         .arg(m_idleTimeoutSeconds)
                               : QStringLiteral("closed after %1 s without data")
                                         .arg(m_idleTimeoutSeconds));
        return;
    }
    // A serial line has no end: a command left unfinished for this long is given up.
    if (m_terminal && !m_printer->isIdle()) {
        emit message(QStringLiteral("serial port silent for %1 s in the middle of a command")
                             .arg(m_idleTimeoutSeconds));
        m_printer->endOfStream();
    }
}

void PrinterService::shutDown()
{
    if (m_socket)
        endConnection(QStringLiteral("closed at shutdown"));
    else
        m_printer->endOfStream();
    m_printer->tearOff();
}

} // namespace VirtualPrinter::NvlogoPrinter
