// The printer library's failure paths: every one ends with a negative result, in bounded time.
#include "peers.h"

#include <printer/nvpos/nvpos.h>

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

using namespace NvPosTest;

namespace {

// A safety net against the kernel's minutes of connect retries, not a speed target.
constexpr qint64 KernelMinutesMs = 30000;

QByteArray pathIn(const QTemporaryDir &folder, const char *name)
{
    return QFile::encodeName(folder.filePath(QLatin1String(name)));
}

// True when this process's network namespace has no interface but loopback, so that looking
// up an unknown name cannot send a query to the network's name server.
bool onlyLoopback()
{
    QFile devices(QStringLiteral("/proc/self/net/dev"));
    if (!devices.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = devices.readAll().split('\n');
    for (const QByteArray &line : lines.mid(2)) { // two lines of headings
        const QByteArray name = line.left(line.indexOf(':')).trimmed();
        if (!name.isEmpty() && name != "lo")
            return false;
    }
    return true;
}

QByteArray lastError()
{
    char reason[512] = {};
    NVPOS_LastError(reason, sizeof reason);
    return reason;
}

// A port on 127.0.0.1 that is bound but not listening: every connect to it is refused.
class RefusingPort
{
public:
    RefusingPort()
        : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_socket.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::getsockname(m_socket.get(), reinterpret_cast<sockaddr *>(&address), &length)
                       == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    QByteArray address() const { return "127.0.0.1:" + QByteArray::number(m_port); }

private:
    Fd m_socket;
    quint16 m_port = 0;
};

// The reason POS_Open gives for name, asked in a child process that has no controlling
// terminal; "(opened)" when it opened.
QByteArray openWithoutTerminal(const QByteArray &name)
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return "(no pipe)";
    Fd reading(pipe[0]);
    Fd writing(pipe[1]);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        const bool failed
                = POS_Open(name.constData(), 0, 0, 0, 0, NVPOS_MODE_PARALLEL) == NVPOS_ERR_OPEN;
        const QByteArray said = failed ? lastError() : QByteArray("(opened)");
        const bool written = ::write(writing.get(), said.constData(), said.size()) == said.size();
        ::_exit(written ? 0 : 1);
    }
    writing.reset();
    const QByteArray said = readFrom(reading.get(), 1, true, std::chrono::seconds(30));
    int status = 0;
    ::waitpid(child, &status, 0);
    return said;
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
    void openSaysWhatThePathIs_data();
    void openSaysWhatThePathIs();
    void lastErrorTellsWhy_data();
    void lastErrorTellsWhy();
    void reasonIsLoggedOnlyOnRequest_data();
    void reasonIsLoggedOnlyOnRequest();

    void badWrites_data();
    void badWrites();
    void documentCallsNeedAConnection();
    void handlesGrowAndCloseTakesTheLastOpened();

    void stalledPeerTimesOut_data();
    void stalledPeerTimesOut();
    void vanishedReaderIsAnError();
    void tcpReaderThatHangsUpFails_data();
    void tcpReaderThatHangsUpFails();
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
    if (name.endsWith(".invalid") && !onlyLoopback())
        QSKIP("the lookup would ask the network's name server; scripts/test runs it isolated");
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
    const RefusingPort refusing;
    QCOMPARE(POS_Open(refusing.address().constData(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET),
             NVPOS_ERR_OPEN);
}

enum class PathKind { Fifo, ListeningSocket, Socket, TerminalOfNobody };
Q_DECLARE_METATYPE(PathKind)

void tst_Failures::openSaysWhatThePathIs_data()
{
    QTest::addColumn<PathKind>("what");
    QTest::addColumn<QByteArray>("reason"); // %1: the path
    const QByteArray noDevice = "Cannot open %1: No such device or address";
    const QByteArray socket = "Cannot open %1: it is a socket, which cannot be opened as a file";
    // Without O_NONBLOCK this open would wait for a reader for ever; the test would then end
    // only by ctest's timeout.
    QTest::newRow("FIFO without a reader")
            << PathKind::Fifo << noDevice + " (nobody is reading it)";
    QTest::newRow("Unix socket with a listener") << PathKind::ListeningSocket << socket;
    QTest::newRow("Unix socket, nobody listening") << PathKind::Socket << socket;
    // /dev/tty with no controlling terminal: a device node with nothing behind it.
    QTest::newRow("device with nothing behind it") << PathKind::TerminalOfNobody << noDevice;
}

void tst_Failures::openSaysWhatThePathIs()
{
    QFETCH(PathKind, what);
    QFETCH(QByteArray, reason);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray path
            = what == PathKind::TerminalOfNobody ? QByteArray("/dev/tty") : pathIn(folder, "lp");
    Fd socket;
    if (what == PathKind::Fifo) {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else if (what != PathKind::TerminalOfNobody) {
        socket.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QCOMPARE(::bind(socket.get(), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        if (what == PathKind::ListeningSocket)
            QCOMPARE(::listen(socket.get(), 1), 0);
    }

    const QByteArray said
            = what == PathKind::TerminalOfNobody
                      ? openWithoutTerminal("LPT:" + path)
                      : (POS_Open(("LPT:" + path).constData(), 0, 0, 0, 0, NVPOS_MODE_PARALLEL)
                                         == NVPOS_ERR_OPEN
                                 ? lastError()
                                 : QByteArray("(opened)"));
    QCOMPARE(said, reason.replace("%1", path));
}

void tst_Failures::lastErrorTellsWhy_data()
{
    QTest::addColumn<QByteArray>("name"); // "refused": a port that refuses connections
    QTest::addColumn<int>("mode"); // 0: POS_Close with nothing open; negative: no serial settings
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<int>("kind");

    QTest::newRow("refused connection")
            << QByteArray("refused") << NVPOS_MODE_ETHERNET
            << QByteArray("Cannot connect to %1: Connection refused") << NVPOS_KIND_REFUSED;
    QTest::newRow("missing device")
            << QByteArray("LPT:/nonexistent/lp0") << NVPOS_MODE_PARALLEL
            << QByteArray("Cannot open /nonexistent/lp0: No such file or directory")
            << NVPOS_KIND_NOT_FOUND;
    QTest::newRow("missing serial port")
            << QByteArray("COM:/nonexistent/ttyUSB0") << NVPOS_MODE_SERIAL
            << QByteArray("Cannot open /nonexistent/ttyUSB0: No such file or directory")
            << NVPOS_KIND_NOT_FOUND;
    QTest::newRow("bad serial settings")
            << QByteArray("COM:/nonexistent/ttyUSB0") << -NVPOS_MODE_SERIAL
            << QByteArray("Bad serial settings for /nonexistent/ttyUSB0: 0 baud, 0 data bits, "
                          "parity 0, 1 stop bits")
            << NVPOS_KIND_IO;
    QTest::newRow("not a serial port")
            << QByteArray("COM:/dev/null") << NVPOS_MODE_SERIAL
            << QByteArray("Cannot open /dev/null: not a serial port") << NVPOS_KIND_NOT_FOUND;
    QTest::newRow("unknown mode") << QByteArray("127.0.0.1") << 5
                                  << QByteArray("Unknown open mode 5") << NVPOS_KIND_IO;
#ifndef NVLOGO_WITH_CUPS
    QTest::newRow("print queue, built without CUPS")
            << QByteArray("nvlogo_raw") << NVPOS_MODE_DRIVER
            << QByteArray("Print queues (DRIVER) are not available: this printer library was "
                          "built without CUPS")
            << NVPOS_KIND_UNSUPPORTED;
#endif
    QTest::newRow("nothing open") << QByteArray() << 0 << QByteArray("No connection is open")
                                  << NVPOS_KIND_IO;
}

void tst_Failures::lastErrorTellsWhy()
{
    QFETCH(QByteArray, name);
    QFETCH(int, mode);
    QFETCH(QByteArray, reason);
    QFETCH(int, kind);
    const RefusingPort refusing;
    if (name == "refused") {
        name = refusing.address();
        reason.replace("%1", name);
    }

    const bool serial = mode == NVPOS_MODE_SERIAL;
    if (mode == 0) {
        QCOMPARE(POS_Close(), NVPOS_ERR_NO_CONNECTION);
    } else {
        QCOMPARE(POS_Open(name.constData(), serial ? 9600 : 0, serial ? 8 : 0, 0, 0, qAbs(mode)),
                 NVPOS_ERR_OPEN);
    }

    QCOMPARE(NVPOS_LastErrorKind(), kind);
    QCOMPARE(NVPOS_LastError(nullptr, 0), reason.size());
    QCOMPARE(lastError(), reason);
    char cut[8];
    std::memset(cut, 'x', sizeof cut);
    QCOMPARE(NVPOS_LastError(cut, sizeof cut), reason.size());
    QCOMPARE(QByteArray(cut), reason.left(7));

    std::int32_t elsewhere = -1;
    std::thread([&] { elsewhere = NVPOS_LastError(nullptr, 0); }).join();
    QCOMPARE(elsewhere, 0); // the reason is this thread's own

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(openFile(pathIn(folder, "lp.out")) > 0);
    QCOMPARE(NVPOS_LastError(nullptr, 0), 0); // a call that succeeds starts without one
    QCOMPARE(NVPOS_LastErrorKind(), NVPOS_KIND_NONE);
}

void tst_Failures::reasonIsLoggedOnlyOnRequest_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QByteArray>("timeout"); // NVPOS_WRITE_TIMEOUT_MS; empty: unset
    QTest::addColumn<QStringList>("logged"); // what the category "nvlogo.nvpos" said
    const QString reason = QStringLiteral("info: Cannot open /nonexistent/lp0: No such file or "
                                          "directory");
    const QString ignored = QStringLiteral("warning: Ignoring NVPOS_WRITE_TIMEOUT_MS=soon: not a "
                                           "number of milliseconds");
    QTest::newRow("by default") << QString() << QByteArray() << QStringList();
    QTest::newRow("info on") << QStringLiteral("nvlogo.nvpos.info=true") << QByteArray()
                             << QStringList{reason};
    QTest::newRow("bad setting") << QString() << QByteArray("soon") << QStringList{ignored};
    QTest::newRow("bad setting, warnings off")
            << QStringLiteral("nvlogo.nvpos.warning=false") << QByteArray("soon") << QStringList();
}

// The caller shows a failure's reason, so the library's log repeats it only when asked to; it
// warns about what no result reports.
void tst_Failures::reasonIsLoggedOnlyOnRequest()
{
    QFETCH(QString, rules);
    QFETCH(QByteArray, timeout);
    QFETCH(QStringList, logged);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    if (!timeout.isEmpty())
        qputenv("NVPOS_WRITE_TIMEOUT_MS", timeout);
    static QStringList s_logged;
    s_logged.clear();
    QLoggingCategory::setFilterRules(rules);
    const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                if (qstrcmp(context.category, "nvlogo.nvpos") == 0)
                    s_logged << QLatin1String(type == QtInfoMsg ? "info: " : "warning: ") + text;
            });
    const std::int32_t handle = openFile(pathIn(folder, "lp.out"));
    const std::int32_t written = POS_WriteFile(handle, "\x1b@", 2); // reads the setting
    const std::int32_t missing = POS_Open("LPT:/nonexistent/lp0", 0, 0, 0, 0, NVPOS_MODE_PARALLEL);
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());

    QCOMPARE(written, 2);
    QCOMPARE(missing, NVPOS_ERR_OPEN);
    QCOMPARE(s_logged, logged);
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
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("tcp peer that never reads")
            << true << 16 * 1024 * 1024
            << QByteArray("The printer took no data for 300 ms; %1 of 16777216 bytes were "
                          "acknowledged");
    // Small enough for this machine's buffers to take all of it: only the acknowledgements
    // tell that the printer never got it.
    QTest::newRow("tcp peer that never reads, 100 KB")
            << true << 100 * 1024
            << QByteArray("The printer took no data for 300 ms; %1 of 102400 bytes were "
                          "acknowledged");
    QTest::newRow("fifo reader that never reads")
            << false << 16 * 1024 * 1024
            << QByteArray("%2 took no data for 300 ms; %1 of 16777216 bytes were taken");
}

void tst_Failures::stalledPeerTimesOut()
{
    QFETCH(bool, tcp);
    QFETCH(int, size);
    QFETCH(QByteArray, reason);
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

    const QByteArray payload = pattern(size);
    QCOMPARE(POS_WriteFile(handle, payload.constData(), payload.size()), NVPOS_ERR_TIMEOUT);
    // How much got through depends on the system's buffers; the rest of the sentence does not.
    reason.replace("%2", fifo.portName().mid(4));
    const QByteArray before = reason.left(reason.indexOf("%1"));
    const QByteArray after = reason.mid(reason.indexOf("%1") + 2);
    const QByteArray said = lastError();
    QVERIFY2(said.startsWith(before) && said.endsWith(after), said.constData());
    QCOMPARE(NVPOS_LastErrorKind(), NVPOS_KIND_TIMEOUT);
    bool isNumber = false;
    const qlonglong moved = said.mid(before.size(), said.size() - before.size() - after.size())
                                    .toLongLong(&isNumber);
    QVERIFY2(isNumber && moved < size, said.constData());
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

void tst_Failures::tcpReaderThatHangsUpFails_data()
{
    QTest::addColumn<int>("taken");  // what the printer reads before it goes
    QTest::addColumn<bool>("reset"); // goes with a reset instead of a close with data unread
    QTest::newRow("reads 10 KB, closes") << 10 * 1024 << false;
    QTest::newRow("reads 64 KB, resets") << 64 * 1024 << true;
    QTest::newRow("reads 200 KB, resets") << 200 * 1024 << true;
}

// The count in the reason is never below what the printer demonstrably took.
void tst_Failures::tcpReaderThatHangsUpFails()
{
    QFETCH(int, taken);
    QFETCH(bool, reset);
    TcpListener listener(4, 4096); // a small window: the peer cannot take much unread
    listener.serve([taken, reset](int connection) {
        QByteArray data;
        while (data.size() < taken) {
            // Every byte read is acknowledged at once, not after the reset.
            const int on = 1;
            ::setsockopt(connection, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
            char buffer[4096];
            const ssize_t got = ::recv(
                    connection, buffer, qMin<qsizetype>(sizeof buffer, taken - data.size()), 0);
            if (got <= 0)
                break;
            data.append(buffer, got);
        }
        if (reset) {
            const linger now{1, 0};
            ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        }
        return data;
    });
    const std::int32_t handle
            = POS_Open(listener.address().constData(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET);
    QVERIFY(handle > 0);

    const QByteArray payload = pattern(1024 * 1024);
    QCOMPARE(POS_WriteFile(handle, payload.constData(), payload.size()), NVPOS_ERR_IO);
    QCOMPARE(listener.received().size(), taken);
    const QByteArray said = lastError();
    const QByteArray before = listener.address() + " closed the connection after ";
    const QByteArray after = " of 1048576 bytes were acknowledged";
    QVERIFY2(said.startsWith(before) && said.endsWith(after), said.constData());
    bool isNumber = false;
    const qlonglong acknowledged
            = said.mid(before.size(), said.size() - before.size() - after.size())
                      .toLongLong(&isNumber);
    QVERIFY2(isNumber && acknowledged >= taken && acknowledged < payload.size(), said.constData());
    QCOMPARE(POS_Close(), NVPOS_OK);
}

QTEST_GUILESS_MAIN(tst_Failures)
#include "tst_failures.moc"
