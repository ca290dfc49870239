// The printer library's failure paths: every one ends with a negative result, in bounded time.
#include "peers.h"

#include "nvpos.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace NvPosTest;

namespace {

// A safety net against the kernel's minutes of connect retries, not a speed target.
constexpr qint64 KernelMinutesMs = 30000;

QByteArray pathIn(const QTemporaryDir &folder, const char *name)
{
    return QFile::encodeName(folder.filePath(QLatin1String(name)));
}

std::int32_t openFile(const QByteArray &path)
{
    QFile file(QFile::decodeName(path));
    if (!file.exists() && !file.open(QIODevice::WriteOnly))
        return NVPOS_ERR_OPEN;
    return POS_Open(("LPT:" + path).constData(), 0, 0, 0, 0, NVPOS_MODE_PARALLEL);
}

} // namespace

class tst_Failures : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void openFails_data();
    void openFails();
    void connectThatNeverCompletesTimesOut();
    void refusedPortFails();
    void fifoWithoutReaderFailsAtOnce();

    void badWrites_data();
    void badWrites();
    void documentCallsNeedAConnection();
    void handlesGrowAndCloseTakesTheLastOpened();

    void stalledPeerTimesOut_data();
    void stalledPeerTimesOut();
    void vanishedReaderIsAnError();
};

void tst_Failures::cleanup()
{
    qunsetenv("NVPOS_WRITE_TIMEOUT_MS");
    while (POS_Close() != NVPOS_ERR_NO_CONNECTION) {
    }
}

void tst_Failures::openFails_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("mode");

    QTest::newRow("ethernet, no address") << QByteArray("  ") << 0 << NVPOS_MODE_ETHERNET;
    QTest::newRow("ethernet, port 0") << QByteArray("127.0.0.1:0") << 0 << NVPOS_MODE_ETHERNET;
    QTest::newRow("ethernet, unknown host")
            << QByteArray("nvpos-test.invalid") << 0 << NVPOS_MODE_ETHERNET;
    QTest::newRow("serial, missing device")
            << QByteArray("COM:/nonexistent/ttyUSB0") << 9600 << NVPOS_MODE_SERIAL;
    QTest::newRow("serial, COM4000 missing") << QByteArray("COM4000") << 9600 << NVPOS_MODE_SERIAL;
    QTest::newRow("serial, COM0") << QByteArray("COM0") << 9600 << NVPOS_MODE_SERIAL;
    QTest::newRow("serial, LPT name") << QByteArray("LPT1") << 9600 << NVPOS_MODE_SERIAL;
    QTest::newRow("parallel, missing device")
            << QByteArray("LPT:/nonexistent/lp0") << 0 << NVPOS_MODE_PARALLEL;
    QTest::newRow("parallel, LPT4000 missing") << QByteArray("LPT4000") << 0 << NVPOS_MODE_PARALLEL;
    QTest::newRow("parallel, empty path") << QByteArray("LPT:") << 0 << NVPOS_MODE_PARALLEL;
    QTest::newRow("parallel, a folder") << QByteArray("LPT:/") << 0 << NVPOS_MODE_PARALLEL;
    QTest::newRow("driver, no name") << QByteArray("") << 0 << NVPOS_MODE_DRIVER;
    QTest::newRow("unknown mode") << QByteArray("127.0.0.1") << 0 << 5;
}

void tst_Failures::openFails()
{
    QFETCH(QByteArray, name);
    QFETCH(int, baud);
    QFETCH(int, mode);
    QCOMPARE(POS_Open(name.constData(), baud, baud ? 8 : 0, 0, 0, mode), NVPOS_ERR_OPEN);
    QCOMPARE(POS_Close(), NVPOS_ERR_NO_CONNECTION);
}

void tst_Failures::connectThatNeverCompletesTimesOut()
{
    TcpListener listener(0);
    QVERIFY2(listener.clog(), "the listener's queue could not be filled");

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(POS_Open(listener.address().constData(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET),
             NVPOS_ERR_OPEN);
    QVERIFY2(timer.elapsed() < KernelMinutesMs, QByteArray::number(timer.elapsed()).constData());
}

void tst_Failures::refusedPortFails()
{
    // Bound but not listening: the port stays ours, and every connect to it is refused.
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::bind(socket.get(), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    QCOMPARE(::getsockname(socket.get(), reinterpret_cast<sockaddr *>(&address), &length), 0);

    const QByteArray name = "127.0.0.1:" + QByteArray::number(ntohs(address.sin_port));
    QCOMPARE(POS_Open(name.constData(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET), NVPOS_ERR_OPEN);
}

void tst_Failures::fifoWithoutReaderFailsAtOnce()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Fifo fifo(folder.filePath(QStringLiteral("lp.fifo")));
    // Without O_NONBLOCK this open would wait for a reader for ever; the test would then end
    // only by ctest's timeout.
    QCOMPARE(POS_Open(fifo.portName().constData(), 0, 0, 0, 0, NVPOS_MODE_PARALLEL),
             NVPOS_ERR_OPEN);
}

void tst_Failures::badWrites_data()
{
    QTest::addColumn<int>("handle"); // 1: the open handle, -2: a closed one
    QTest::addColumn<bool>("withData");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("result");

    QTest::newRow("handle 0") << 0 << true << 4 << NVPOS_ERR_NO_CONNECTION;
    QTest::newRow("handle -1") << -1 << true << 4 << NVPOS_ERR_NO_CONNECTION;
    QTest::newRow("never issued") << 1000000 << true << 4 << NVPOS_ERR_NO_CONNECTION;
    QTest::newRow("closed handle") << -2 << true << 4 << NVPOS_ERR_NO_CONNECTION;
    QTest::newRow("null data") << 1 << false << 4 << NVPOS_ERR_ARGUMENT;
    QTest::newRow("negative count") << 1 << true << -4 << NVPOS_ERR_ARGUMENT;
    QTest::newRow("nothing to send") << 1 << true << 0 << 0;
}

void tst_Failures::badWrites()
{
    QFETCH(int, handle);
    QFETCH(bool, withData);
    QFETCH(int, count);
    QFETCH(int, result);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray path = pathIn(folder, "lp.out");

    const std::int32_t open = openFile(path);
    QVERIFY(open > 0);
    if (handle == -2) {
        const std::int32_t closed = open;
        QCOMPARE(POS_Close(), NVPOS_OK);
        QVERIFY(openFile(path) > closed); // something is open, just not that one
        handle = closed;
    } else if (handle == 1) {
        handle = open;
    }
    const char bytes[4] = {'\x1b', '@', '\x1d', 'V'};
    QCOMPARE(POS_WriteFile(handle, withData ? bytes : nullptr, count), result);
    QCOMPARE(POS_Close(), NVPOS_OK);

    QFile written(QFile::decodeName(path));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.size(), 0); // a failed write sent nothing to the other connection
}

void tst_Failures::documentCallsNeedAConnection()
{
    QCOMPARE(POS_StartDoc(), NVPOS_ERR_NO_CONNECTION);
    QCOMPARE(POS_EndDoc(), NVPOS_ERR_NO_CONNECTION);
    QCOMPARE(POS_Close(), NVPOS_ERR_NO_CONNECTION);
}

void tst_Failures::handlesGrowAndCloseTakesTheLastOpened()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::int32_t first = openFile(pathIn(folder, "first"));
    const std::int32_t second = openFile(pathIn(folder, "second"));
    QVERIFY(first > 0);
    QVERIFY(second > first);

    QCOMPARE(POS_Close(), NVPOS_OK); // the second
    QCOMPARE(POS_WriteFile(second, "x", 1), NVPOS_ERR_NO_CONNECTION);
    QCOMPARE(POS_WriteFile(first, "x", 1), 1);
    const std::int32_t third = openFile(pathIn(folder, "third"));
    QVERIFY(third > second); // a closed handle is not handed out again

    QCOMPARE(POS_Close(), NVPOS_OK); // the third
    QCOMPARE(POS_Close(), NVPOS_OK); // the first
    QCOMPARE(POS_WriteFile(first, "x", 1), NVPOS_ERR_NO_CONNECTION);
    QCOMPARE(POS_Close(), NVPOS_ERR_NO_CONNECTION);

    QFile firstFile(folder.filePath(QStringLiteral("first")));
    QVERIFY(firstFile.open(QIODevice::ReadOnly));
    QCOMPARE(firstFile.readAll(), QByteArray("x"));
}

void tst_Failures::stalledPeerTimesOut_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("tcp peer that never reads") << true;
    QTest::newRow("fifo reader that never reads") << false;
}

void tst_Failures::stalledPeerTimesOut()
{
    QFETCH(bool, tcp);
    qputenv("NVPOS_WRITE_TIMEOUT_MS", "300");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // The listener never accepts and keeps a small receive buffer; the FIFO reader never
    // reads. Either way the system's buffers fill up and the write stops moving.
    TcpListener listener(4, 4096);
    Fifo fifo(folder.filePath(QStringLiteral("lp.fifo")));
    fifo.openReader();
    const QByteArray name = tcp ? listener.address() : fifo.portName();
    const std::int32_t handle = POS_Open(
            name.constData(), 0, 0, 0, 0, tcp ? NVPOS_MODE_ETHERNET : NVPOS_MODE_PARALLEL);
    QVERIFY(handle > 0);

    const QByteArray payload = pattern(16 * 1024 * 1024);
    QCOMPARE(POS_WriteFile(handle, payload.constData(), payload.size()), NVPOS_ERR_TIMEOUT);
    QCOMPARE(POS_Close(), NVPOS_OK);
}

void tst_Failures::vanishedReaderIsAnError()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Fifo fifo(folder.filePath(QStringLiteral("lp.fifo")));
    fifo.openReader();
    const std::int32_t handle
            = POS_Open(fifo.portName().constData(), 0, 0, 0, 0, NVPOS_MODE_PARALLEL);
    QVERIFY(handle > 0);
    QCOMPARE(POS_WriteFile(handle, "\x1b@", 2), 2);
    // The reader goes away: the next write is an error, not a SIGPIPE that ends the program.
    fifo.closeReader();
    QCOMPARE(POS_WriteFile(handle, "\x1b@", 2), NVPOS_ERR_IO);
    QCOMPARE(POS_Close(), NVPOS_OK);
}

QTEST_GUILESS_MAIN(tst_Failures)
#include "tst_failures.moc"
