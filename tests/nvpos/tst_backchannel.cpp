// What the printer sends back: reads over each kind of connection, replies that arrive while
// a long write is on its way, and two connections used from two threads at once.
#include "peers.h"

#include <printer/nvpos/nvpos.h>

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace NvPosTest;

namespace {

QByteArray lastError()
{
    char reason[512] = {};
    NVPOS_LastError(reason, sizeof reason);
    return reason;
}

// Everything the connection hears until the peer closes it, bounded by a number of reads.
QByteArray readUntilClosed(std::int32_t handle, std::int32_t &ending)
{
    QByteArray heard;
    char buffer[4096];
    for (int i = 0; i < 10000; ++i) {
        ending = NVPOS_Read(handle, buffer, sizeof buffer, 5000);
        if (ending <= 0)
            break;
        heard.append(buffer, ending);
    }
    return heard;
}

bool sendAll(int fd, const QByteArray &data)
{
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

} // namespace

class tst_BackChannel : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void tcpRead_data();
    void tcpRead();
    void serialRead();
    void noBackChannel_data();
    void noBackChannel();
    void busySerialPort();
    void repliesDuringALongWrite_data();
    void repliesDuringALongWrite();
    void twoPrintersAtOnce();
};

void tst_BackChannel::cleanup()
{
    qunsetenv("NVPOS_WRITE_TIMEOUT_MS");
    for (int i = 0; i < 100 && POS_Close() != NVPOS_ERR_NO_CONNECTION; ++i) {
    }
}

void tst_BackChannel::tcpRead_data()
{
    QTest::addColumn<QByteArray>("answer"); // what the peer sends after the query
    QTest::addColumn<bool>("hangsUp");      // then closes at once instead of waiting
    QTest::addColumn<int>("result");

    QTest::newRow("answers") << QByteArray("\x16\x00\x12", 3) << false << 3;
    QTest::newRow("never answers") << QByteArray() << false << 0;
    QTest::newRow("hangs up") << QByteArray() << true << int(NVPOS_ERR_IO);
}

void tst_BackChannel::tcpRead()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, hangsUp);
    QFETCH(int, result);
    TcpListener listener;
    std::atomic<bool> done{false};
    listener.serve([&](int connection) {
        const QByteArray query = readFrom(connection, 3, false, std::chrono::seconds(10));
        sendAll(connection, answer);
        for (int i = 0; !hangsUp && !done && i < 1000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return query;
    });
    const std::int32_t handle
            = POS_Open(listener.address().constData(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET);
    QVERIFY(handle > 0);
    QCOMPARE(NVPOS_Capabilities(handle), NVPOS_CAN_READ);
    QCOMPARE(POS_WriteFile(handle, "\x10\x04\x01", 3), 3);

    char buffer[16] = {};
    std::int32_t got = NVPOS_Read(handle, buffer, sizeof buffer, 2000);
    // An answer may come in pieces; what came first is read first.
    for (int i = 0; got > 0 && got < answer.size() && i < 10; ++i) {
        const std::int32_t more = NVPOS_Read(handle, buffer + got, sizeof buffer - got, 2000);
        got = more > 0 ? got + more : got;
    }
    done = true;
    QCOMPARE(got, result);
    QCOMPARE(QByteArray(buffer, qMax(got, 0)), answer);
    if (hangsUp) {
        QCOMPARE(lastError(), listener.address() + " closed the connection");
        QCOMPARE(NVPOS_LastErrorKind(), NVPOS_KIND_IO);
    }
    QCOMPARE(listener.received(), QByteArray("\x10\x04\x01"));
    QCOMPARE(NVPOS_Close(handle), NVPOS_OK);
}

void tst_BackChannel::serialRead()
{
    PtyPair pty;
    const std::int32_t handle
            = POS_Open(pty.portName().constData(), 115200, 8, 0, 0, NVPOS_MODE_SERIAL);
    QVERIFY(handle > 0);
    QCOMPARE(NVPOS_Capabilities(handle), NVPOS_CAN_READ);
    char buffer[8] = {};
    QCOMPARE(NVPOS_Read(handle, buffer, sizeof buffer, 0), 0);
    QCOMPARE(::write(pty.leader(), "\x12\x00", 2), ssize_t(2));
    std::int32_t got = 0;
    for (int i = 0; got < 2 && i < 10; ++i) {
        const std::int32_t more = NVPOS_Read(handle, buffer + got, sizeof buffer - got, 2000);
        QVERIFY(more >= 0);
        got += more;
    }
    QCOMPARE(QByteArray(buffer, got), QByteArray("\x12\x00", 2));
    QCOMPARE(NVPOS_Close(handle), NVPOS_OK);
    QCOMPARE(NVPOS_Read(handle, buffer, sizeof buffer, 0), NVPOS_ERR_NO_CONNECTION);
}

void tst_BackChannel::noBackChannel_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("reasonEnd");
    QTest::newRow("regular file") << "file"
                                  << QByteArray(" is a file: no printer can answer "
                                                "through it");
    QTest::newRow("FIFO") << "fifo" << QByteArray(" is a FIFO: no printer can answer through it");
    QTest::newRow("a device with nothing behind it")
            << "null" << QByteArray(" passes no answers from the printer");
}

void tst_BackChannel::noBackChannel()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, reasonEnd);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Fifo fifo(folder.filePath(QStringLiteral("lp.fifo")));
    QByteArray name = "LPT:/dev/null";
    if (kind == QLatin1String("fifo")) {
        fifo.openReader();
        name = fifo.portName();
    } else if (kind == QLatin1String("file")) {
        name = "LPT:" + QFile::encodeName(folder.filePath(QStringLiteral("lp.out")));
        QFile file(QString::fromUtf8(name.mid(4)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const std::int32_t handle = POS_Open(name.constData(), 0, 0, 0, 0, NVPOS_MODE_PARALLEL);
    QVERIFY(handle > 0);
    QCOMPARE(NVPOS_Capabilities(handle), 0);
    char buffer[4];
    // At once, however long the caller would wait (a test that hung here would end only by
    // ctest's timeout).
    QCOMPARE(NVPOS_Read(handle, buffer, sizeof buffer, 600000), NVPOS_ERR_UNSUPPORTED);
    QCOMPARE(NVPOS_LastErrorKind(), NVPOS_KIND_UNSUPPORTED);
    const QByteArray said = lastError();
    QVERIFY2(said.endsWith(reasonEnd), said.constData());
    QCOMPARE(POS_WriteFile(handle, "\x1b@", 2), 2); // writing still works
    QCOMPARE(NVPOS_Close(handle), NVPOS_OK);
}

void tst_BackChannel::busySerialPort()
{
    PtyPair pty;
    const QByteArray path = pty.portName().mid(4);
    Fd other(::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    QVERIFY(other.get() >= 0);
    QCOMPARE(::flock(other.get(), LOCK_EX | LOCK_NB), 0); // another program holds the line
    QCOMPARE(POS_Open(pty.portName().constData(), 9600, 8, 0, 0, NVPOS_MODE_SERIAL),
             NVPOS_ERR_OPEN);
    QCOMPARE(NVPOS_LastErrorKind(), NVPOS_KIND_BUSY);
    QCOMPARE(lastError(), "Cannot open " + path + ": another program is using it");
}

void tst_BackChannel::repliesDuringALongWrite_data()
{
    QTest::addColumn<int>("replySize");
    // Every reply is kept for the reader.
    QTest::newRow("a few replies") << 3000;
    // More than the system's buffers and ours hold: a write that did not read would stall
    // the printer, which answers before it reads on; the newest bytes are kept.
    QTest::newRow("more replies than are kept") << 8 * 1024 * 1024;
}

void tst_BackChannel::repliesDuringALongWrite()
{
    QFETCH(int, replySize);
    const QByteArray payload = pattern(4 * 1024 * 1024);
    const QByteArray replies = pattern(replySize);
    TcpListener listener;
    listener.serve([&](int connection) {
        // One reply piece for every piece read; the peer blocks while nobody takes its replies.
        QByteArray data;
        const qsizetype piece = qMax<qsizetype>(1, replies.size() / 64);
        qsizetype replied = 0;
        while (data.size() < payload.size()) {
            const QByteArray more = readFrom(connection, 1, false, std::chrono::seconds(20));
            if (more.isEmpty())
                break;
            data += more;
            const qsizetype due = qMin<qsizetype>(replies.size(),
                                                  replies.size() * data.size() / payload.size());
            if (due - replied >= piece || due == replies.size()) {
                if (!sendAll(connection, replies.mid(replied, due - replied)))
                    break;
                replied = due;
            }
        }
        return data;
    });
    const std::int32_t handle
            = POS_Open(listener.address().constData(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET);
    QVERIFY(handle > 0);
    QCOMPARE(POS_WriteFile(handle, payload.constData(), payload.size()), payload.size());
    std::int32_t ending = 0;
    const QByteArray heard = readUntilClosed(handle, ending);
    QCOMPARE(ending, NVPOS_ERR_IO); // the peer closed after its last reply
    QVERIFY(listener.received() == payload);
    if (replies.size() <= 64 * 1024) {
        QVERIFY(heard == replies);
    } else {
        // The oldest went; what is left runs on without a gap to the end.
        QVERIFY2(heard.size() >= 64 * 1024, QByteArray::number(heard.size()).constData());
        QVERIFY(replies.endsWith(heard));
    }
    QCOMPARE(NVPOS_Close(handle), NVPOS_OK);
}

void tst_BackChannel::twoPrintersAtOnce()
{
    // The first printer never reads: its write can only end when its progress function stops
    // it, which it does once the write to the second printer has returned.
    TcpListener silent(4, 4096);
    TcpListener listening;
    const QByteArray payload = pattern(256 * 1024);
    listening.collect(payload.size());
    const std::int32_t stuck
            = POS_Open(silent.address().constData(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET);
    const std::int32_t free
            = POS_Open(listening.address().constData(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET);
    QVERIFY(stuck > 0 && free > 0);

    struct Flags
    {
        std::atomic<bool> waiting{false};
        std::atomic<bool> release{false};
        std::atomic<bool> finished{false};
    } flags;
    std::int32_t stuckResult = 0;
    std::thread writer([&] {
        NVPOS_SetProgressCallback(
                [](std::int64_t, std::int64_t, void *context) -> std::int32_t {
                    auto *f = static_cast<Flags *>(context);
                    f->waiting = true;
                    return f->release ? 1 : 0;
                },
                &flags);
        const QByteArray big = pattern(16 * 1024 * 1024);
        stuckResult = POS_WriteFile(stuck, big.constData(), big.size());
        flags.finished = true;
    });
    for (int i = 0; !flags.waiting && i < 2000; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool wasWaiting = flags.waiting;
    const std::int32_t freeResult = POS_WriteFile(free, payload.constData(), payload.size());
    const bool stuckStillWriting = !flags.finished;
    const std::int32_t closed = NVPOS_Close(free);
    flags.release = true;
    writer.join();

    QVERIFY(wasWaiting);
    QCOMPARE(freeResult, payload.size());
    QVERIFY(stuckStillWriting);
    QCOMPARE(closed, NVPOS_OK);
    QVERIFY(listening.received() == payload);
    QCOMPARE(stuckResult, NVPOS_ERR_CANCELLED);
    QCOMPARE(NVPOS_Close(stuck), NVPOS_OK);
}

QTEST_GUILESS_MAIN(tst_BackChannel)
#include "tst_backchannel.moc"
