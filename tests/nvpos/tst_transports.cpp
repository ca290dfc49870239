// The printer library, loaded the way the program loads it, against a real peer of each kind:
// every byte arrives unchanged and in order.
#include "peers.h"

#include <printer/nvpos/nvpos.h>
#include <printer/poslibrary.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace NvPosTest;

namespace {

enum class Kind { Tcp, TcpByName, TcpIPv6, Serial, Fifo, File };

// One peer of a kind: where the library connects, and what arrived.
class Peer
{
public:
    Peer(Kind kind, const QString &folder)
        : m_kind(kind)
        , m_filePath(folder + QStringLiteral("/printer.out"))
    {
        switch (kind) {
        case Kind::Tcp:
        case Kind::TcpByName:
            m_tcp = std::make_unique<TcpListener>();
            break;
        case Kind::TcpIPv6:
            m_tcp = std::make_unique<TcpListener>(4, 0, TcpListener::IPv6);
            break;
        case Kind::Serial:
            m_pty = std::make_unique<PtyPair>();
            break;
        case Kind::Fifo:
            m_fifo = std::make_unique<Fifo>(folder + QStringLiteral("/printer.fifo"));
            m_fifo->openReader();
            break;
        case Kind::File: {
            QFile file(m_filePath);
            file.open(QIODevice::WriteOnly); // the library appends to an existing file only
            break;
        }
        }
    }

    QByteArray name() const
    {
        switch (m_kind) {
        case Kind::Tcp:
        case Kind::TcpIPv6:
            return m_tcp->address();
        case Kind::TcpByName:
            return "localhost:" + QByteArray::number(m_tcp->port());
        case Kind::Serial:
            return m_pty->portName();
        case Kind::Fifo:
            return m_fifo->portName();
        case Kind::File:
            return "LPT:" + QFile::encodeName(m_filePath);
        }
        return {};
    }

    std::int32_t baud() const { return m_kind == Kind::Serial ? 115200 : 0; }
    std::int32_t dataBits() const { return m_kind == Kind::Serial ? 8 : 0; }

    std::int32_t mode() const
    {
        switch (m_kind) {
        case Kind::Tcp:
        case Kind::TcpByName:
        case Kind::TcpIPv6:
            return NVPOS_MODE_ETHERNET;
        case Kind::Serial:
            return NVPOS_MODE_SERIAL;
        default:
            return NVPOS_MODE_PARALLEL;
        }
    }

    void collect(qsizetype expected)
    {
        if (m_tcp)
            m_tcp->collect(expected);
        if (m_pty)
            m_pty->collect(expected);
        if (m_fifo)
            m_fifo->collect(expected);
    }

    QByteArray received()
    {
        if (m_tcp)
            return m_tcp->received();
        if (m_pty)
            return m_pty->received();
        if (m_fifo)
            return m_fifo->received();
        QFile file(m_filePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    Kind m_kind;
    QString m_filePath;
    std::unique_ptr<TcpListener> m_tcp;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<Fifo> m_fifo;
};

// What the progress function was told, and whether it asks to stop at its first call.
struct ProgressLog
{
    QList<QPair<qint64, qint64>> calls;
    bool stop = false;

    static std::int32_t record(std::int64_t moved, std::int64_t total, void *context)
    {
        auto *log = static_cast<ProgressLog *>(context);
        log->calls.append({moved, total});
        return log->stop ? 1 : 0;
    }

    // Empty when the counts rose, never fell and ended with one call at the total.
    QByteArray faultsFor(qint64 total) const
    {
        if (calls.isEmpty() || calls.last() != qMakePair(total, total))
            return "the last call was not (total, total)";
        for (qsizetype i = 0; i < calls.size(); ++i) {
            if (calls[i].second != total || (i > 0 && calls[i].first < calls[i - 1].first)
                || (i + 1 < calls.size() && calls[i].first >= total)) {
                return "call " + QByteArray::number(i) + " was ("
                       + QByteArray::number(calls[i].first) + ", "
                       + QByteArray::number(calls[i].second) + ")";
            }
        }
        return {};
    }
};

// A printer that takes 2 KB at a time with a pause after each, counting what it has read.
QByteArray readSlowly(int connection, std::atomic<qsizetype> &taken)
{
    QByteArray data;
    char buffer[2048];
    for (;;) {
        pollfd pfd{connection, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0) // a writer that went quiet: the test has failed
            return data;
        const ssize_t got = ::read(connection, buffer, sizeof buffer);
        if (got <= 0)
            return data;
        data.append(buffer, got);
        taken += got;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class tst_Transports : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void bytesArriveUnchanged_data();
    void bytesArriveUnchanged();
    void regularFileIsAppendedTo();
    void tcpWriteWaitsForTheSlowPrinter();
    void progressFunctionStopsTheWrite_data();
    void progressFunctionStopsTheWrite();

private:
    Printer::PosLibrary m_library{QStringLiteral(NVPOS_LIBRARY)};
    ProgressLog m_progress;
};

void tst_Transports::cleanup()
{
    m_library.setProgressCallback(nullptr, nullptr);
    m_progress = {};
    while (m_library.POS_Close() != NVPOS_ERR_NO_CONNECTION) {
    }
}

void tst_Transports::bytesArriveUnchanged_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("writes");

    const struct
    {
        const char *name;
        Kind kind;
    } kinds[] = {{"tcp", Kind::Tcp},
                 {"serial pty", Kind::Serial},
                 {"parallel fifo", Kind::Fifo},
                 {"parallel file", Kind::File}};
    for (const auto &kind : kinds) {
        QTest::addRow("%s, every byte value", kind.name) << kind.kind << allByteValues() << 1;
        QTest::addRow("%s, 300 KB", kind.name) << kind.kind << pattern(300 * 1024) << 1;
        QTest::addRow("%s, 300 KB in 7 writes", kind.name)
                << kind.kind << pattern(300 * 1024 + 3) << 7;
    }
    QTest::newRow("tcp by host name, every byte value") << Kind::TcpByName << allByteValues() << 1;
    QTest::newRow("tcp over IPv6, every byte value") << Kind::TcpIPv6 << allByteValues() << 1;
}

void tst_Transports::bytesArriveUnchanged()
{
    QFETCH(Kind, kind);
    QFETCH(QByteArray, payload);
    QFETCH(int, writes);
    if (kind == Kind::TcpIPv6 && !TcpListener::ipv6Available())
        QSKIP("This machine has no IPv6 loopback address");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Peer peer(kind, folder.path());
    peer.collect(payload.size());

    const std::int32_t handle
            = m_library.POS_Open(peer.name(), peer.baud(), peer.dataBits(), 0, 0, peer.mode());
    QVERIFY2(handle > 0, peer.name().constData());
    QCOMPARE(m_library.POS_StartDoc(), NVPOS_OK);
    QVERIFY(m_library.setProgressCallback(ProgressLog::record, &m_progress));
    const qsizetype step = payload.size() / writes + 1;
    for (qsizetype offset = 0; offset < payload.size(); offset += step) {
        const auto count = static_cast<std::int32_t>(qMin(step, payload.size() - offset));
        m_progress.calls.clear();
        QCOMPARE(m_library.POS_WriteFile(handle, payload.constData() + offset, count), count);
        const QByteArray faults = m_progress.faultsFor(count);
        QVERIFY2(faults.isEmpty(), faults.constData());
    }
    QCOMPARE(m_library.POS_EndDoc(), NVPOS_OK);
    QCOMPARE(m_library.POS_Close(), NVPOS_OK);

    const QByteArray received = peer.received();
    QCOMPARE(received.size(), payload.size());
    QVERIFY(received == payload);
}

void tst_Transports::regularFileIsAppendedTo()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Peer peer(Kind::File, folder.path());
    const QByteArray first = pattern(1000);
    const QByteArray second = allByteValues();
    for (const QByteArray &bytes : {first, second}) {
        const std::int32_t handle
                = m_library.POS_Open(peer.name(), 0, 0, 0, 0, NVPOS_MODE_PARALLEL);
        QVERIFY(handle > 0);
        QCOMPARE(m_library.POS_WriteFile(handle, bytes.constData(), bytes.size()), bytes.size());
        QCOMPARE(m_library.POS_Close(), NVPOS_OK);
    }
    QCOMPARE(peer.received(), first + second);
}

void tst_Transports::tcpWriteWaitsForTheSlowPrinter()
{
    // The printer's receive buffer holds a few KB, and this machine's send buffer far more
    // than the payload: the write may end only when the printer has acknowledged the last
    // byte, by which time it has read nearly all of them.
    constexpr qsizetype PrinterBuffer = 16 * 1024;
    TcpListener listener(4, 4096);
    std::atomic<qsizetype> taken{0};
    listener.serve([&taken](int connection) { return readSlowly(connection, taken); });
    const std::int32_t handle
            = m_library.POS_Open(listener.address(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET);
    QVERIFY(handle > 0);
    QVERIFY(m_library.setProgressCallback(ProgressLog::record, &m_progress));

    const QByteArray payload = pattern(64 * 1024);
    QCOMPARE(m_library.POS_WriteFile(handle, payload.constData(), payload.size()), payload.size());
    const qsizetype takenAtReturn = taken;
    QVERIFY2(takenAtReturn >= payload.size() - PrinterBuffer,
             QByteArray::number(takenAtReturn).constData());
    const QByteArray faults = m_progress.faultsFor(payload.size());
    QVERIFY2(faults.isEmpty(), faults.constData());
    QVERIFY(m_progress.calls.size() > 2); // it rose on the way, not only at the end
    QCOMPARE(m_library.POS_Close(), NVPOS_OK);
    QVERIFY(listener.received() == payload);
}

void tst_Transports::progressFunctionStopsTheWrite_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::newRow("tcp") << Kind::Tcp;
    QTest::newRow("serial pty") << Kind::Serial;
    QTest::newRow("parallel fifo") << Kind::Fifo;
}

void tst_Transports::progressFunctionStopsTheWrite()
{
    QFETCH(Kind, kind);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // Nobody reads the pty and the FIFO, and the TCP printer reads slowly: the write would
    // take long, and the first progress report stops it.
    Peer peer(kind, folder.path());
    TcpListener slowPrinter(4, 4096);
    std::atomic<qsizetype> taken{0};
    if (kind == Kind::Tcp)
        slowPrinter.serve([&taken](int connection) { return readSlowly(connection, taken); });
    const QByteArray name = kind == Kind::Tcp ? slowPrinter.address() : peer.name();
    const std::int32_t handle
            = m_library.POS_Open(name, peer.baud(), peer.dataBits(), 0, 0, peer.mode());
    QVERIFY(handle > 0);
    m_progress.stop = true;
    QVERIFY(m_library.setProgressCallback(ProgressLog::record, &m_progress));

    const QByteArray payload = pattern(4 * 1024 * 1024);
    QCOMPARE(m_library.POS_WriteFile(handle, payload.constData(), payload.size()),
             NVPOS_ERR_CANCELLED);
    QCOMPARE(m_progress.calls.size(), 1);
    QCOMPARE(m_library.lastErrorText(),
             QStringLiteral("Stopped after %1 of %2 bytes")
                     .arg(m_progress.calls.first().first)
                     .arg(payload.size()));
    QCOMPARE(m_library.lastFailure().kind, Printer::FailureKind::Cancelled);
    QCOMPARE(m_library.POS_Close(), NVPOS_OK);
    if (kind == Kind::Tcp) // what was still queued never reached the printer
        QVERIFY(slowPrinter.received().size() < payload.size());
}

QTEST_GUILESS_MAIN(tst_Transports)
#include "tst_transports.moc"
