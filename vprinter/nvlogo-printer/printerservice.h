#pragma once

#include <vprinter/receiptprinter.h>

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QTcpSocket;

namespace VirtualPrinter {
class PseudoTerminal;
}

namespace VirtualPrinter::NvlogoPrinter {

class WaitingConnections;

// Feeds the virtual printer from one source: a TCP port, a pseudo-terminal or a file.
class PrinterService : public QObject
{
    Q_OBJECT

public:
    explicit PrinterService(ReceiptPrinter *printer, QObject *parent = nullptr);

    // How long a connection may stay silent before it is closed; 0: no limit.
    void setIdleTimeout(int seconds) { m_idleTimeoutSeconds = seconds; }
    // Whether a TCP connection is closed when the printer resets, as some network
    // interfaces do.
    void setDropOnReset(bool drop) { m_dropOnReset = drop; }

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    ReceiptPrinter *printer() const { return m_printer; }
    // The TCP port listened on; 0 before listen().
    quint16 port() const;
    bool openSerial(QString *error);
    bool processFile(const QString &path, QString *error);

    // Ends the current connection, and writes a strip that was not cut.
    void shutDown();

    // Replies a connection may leave unread before the printer stops reading from it.
    static constexpr qint64 MaxPendingReplies = 64 * 1024;
    // Input is taken in pieces of this size, so that one piece adds at most this many replies.
    static constexpr qint64 ReadChunk = 4096;
    // Connections accepted and waiting for their turn; beyond these the system's queue holds
    // them.
    static constexpr int MaxWaitingConnections = 64;

signals:
    void message(const QString &line);

private:
    void serveNextConnection();
    void readSocket();
    void repliesWritten();
    void endConnection(const QString &why);
    void restartIdleTimer();
    void onIdle();

    ReceiptPrinter *m_printer;
    WaitingConnections *m_server = nullptr;
    QPointer<QTcpSocket> m_socket;
    PseudoTerminal *m_terminal = nullptr;
    QTimer m_idleTimer;
    QTimer m_printerTimer; // the printer's own deadlines: the end of a reset, a wait for the host
    bool m_dropOnReset = false;
    int m_idleTimeoutSeconds = 0;
    qint64 m_connectionBytes = 0;
    bool m_paused = false;
};

} // namespace VirtualPrinter::NvlogoPrinter
