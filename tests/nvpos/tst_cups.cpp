// DRIVER connections against the private print server of the build tree (fixture cupsd): each
// document is one raw job whose bytes the queue's backend stores unchanged.
#include "peers.h"

#include <printer/nvpos/nvpos.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cups/cups.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

using namespace NvPosTest;

namespace {

constexpr int JobWaitMs = 60000;

QByteArray jobBytes(int job)
{
    QFile file(QStringLiteral(NVLOGO_CUPS_JOBDIR "/%1.prn").arg(job));
    // The backend renames the file into place once complete; reading it at once is safe.
    if (!QTest::qWaitFor([&] { return file.exists(); }, JobWaitMs))
        return "(job " + QByteArray::number(job) + " never came out of the queue)";
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray lastError()
{
    char reason[512] = {};
    NVPOS_LastError(reason, sizeof reason);
    return reason;
}

std::int32_t openQueue(const char *queue = NVLOGO_CUPS_QUEUE)
{
    return POS_Open(queue, 0, 0, 0, 0, NVPOS_MODE_DRIVER);
}

// Points libcups at another print server and shortens the library's waits while it lives.
class OtherServer
{
public:
    explicit OtherServer(const QByteArray &address)
        : m_server(qgetenv("CUPS_SERVER"))
    {
        qputenv("CUPS_SERVER", address);
        qputenv("NVPOS_WRITE_TIMEOUT_MS", "500");
        cupsSetServer(nullptr); // libcups reads CUPS_SERVER again
    }
    ~OtherServer()
    {
        qputenv("CUPS_SERVER", m_server);
        qunsetenv("NVPOS_WRITE_TIMEOUT_MS");
        cupsSetServer(nullptr);
    }
    OtherServer(const OtherServer &) = delete;
    OtherServer &operator=(const OtherServer &) = delete;

private:
    QByteArray m_server;
};

// A print server on loopback in front of the private one. It passes every request on, and the
// server's answers too until a connection carried the document, which it knows by its bytes:
// the answer to the document never arrives.
class AnswerDroppingProxy
{
public:
    AnswerDroppingProxy(const QByteArray &serverSocket, const QByteArray &document)
        : m_serverSocket(serverSocket)
        , m_document(document)
        , m_thread([this] { run(); })
    {}
    ~AnswerDroppingProxy()
    {
        m_stop = true;
        m_thread.join();
    }
    AnswerDroppingProxy(const AnswerDroppingProxy &) = delete;
    AnswerDroppingProxy &operator=(const AnswerDroppingProxy &) = delete;

    QByteArray address() const { return m_listener.address(); }

private:
    struct Link
    {
        Fd client;
        Fd server;
        QByteArray sent; // what the client sent
    };

    void run()
    {
        std::vector<Link> links;
        while (!m_stop) {
            std::vector<pollfd> fds{{m_listener.fd(), POLLIN, 0}};
            for (const Link &link : links) {
                fds.push_back({link.client.get(), POLLIN, 0});
                fds.push_back({link.server.get(), POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), 50) <= 0)
                continue;
            for (std::size_t i = 0; i < links.size(); ++i) {
                if (!pass(links[i], fds[1 + 2 * i].revents, fds[2 + 2 * i].revents))
                    links[i].client.reset();
            }
            links.erase(std::remove_if(links.begin(),
                                       links.end(),
                                       [](const Link &link) { return link.client.get() < 0; }),
                        links.end());
            if (fds[0].revents & POLLIN)
                links.push_back(accepted());
        }
    }

    Link accepted()
    {
        Link link;
        link.client.reset(::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
        link.server.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_serverSocket.constData(), sizeof address.sun_path - 1);
        if (::connect(link.server.get(), reinterpret_cast<sockaddr *>(&address), sizeof address)
            != 0) {
            link.client.reset();
        }
        return link;
    }

    // Moves what came in on either side; false once either side is gone.
    bool pass(Link &link, short fromClient, short fromServer) const
    {
        char buffer[16384];
        if (fromClient) {
            const ssize_t got = ::read(link.client.get(), buffer, sizeof buffer);
            if (got <= 0)
                return false;
            link.sent.append(buffer, got);
            if (!sendAll(link.server.get(), buffer, got))
                return false;
        }
        if (fromServer) {
            const ssize_t got = ::read(link.server.get(), buffer, sizeof buffer);
            if (got <= 0)
                return false;
            if (!link.sent.contains(m_document) && !sendAll(link.client.get(), buffer, got))
                return false;
        }
        return true;
    }

    static bool sendAll(int fd, const char *data, ssize_t count)
    {
        while (count > 0) {
            const ssize_t sent = ::send(fd, data, static_cast<std::size_t>(count), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            data += sent;
            count -= sent;
        }
        return true;
    }

    TcpListener m_listener;
    QByteArray m_serverSocket;
    QByteArray m_document;
    std::atomic<bool> m_stop{false};
    std::thread m_thread; // last, so that it starts with everything else in place
};

} // namespace

class tst_Cups : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void jobBytesArriveUnchanged_data();
    void jobBytesArriveUnchanged();
    void eachDocumentIsAJob();
    void missingQueueFails();
    void stoppedQueueFails();
    void stoppedWriteCancelsTheJob();
    void silentServerFailsInTime();
    void unansweredDocumentFails_data();
    void unansweredDocumentFails();
};

void tst_Cups::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("CUPS_SERVER"), "run through ctest, fixture cupsd");
}

void tst_Cups::cleanup()
{
    while (POS_Close() != NVPOS_ERR_NO_CONNECTION) {
    }
}

enum class Framing { Document, WriteThenClose, WriteThenEndDoc };
Q_DECLARE_METATYPE(Framing)

void tst_Cups::jobBytesArriveUnchanged_data()
{
    QTest::addColumn<Framing>("framing");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("writes");

    QTest::newRow("StartDoc, write, EndDoc: every byte value")
            << Framing::Document << allByteValues() << 1;
    QTest::newRow("write, Close: every byte value")
            << Framing::WriteThenClose << allByteValues() << 1;
    QTest::newRow("write, EndDoc: every byte value")
            << Framing::WriteThenEndDoc << allByteValues() << 1;
    QTest::newRow("StartDoc, 5 writes, EndDoc: 300 KB")
            << Framing::Document << pattern(300 * 1024) << 5;
}

void tst_Cups::jobBytesArriveUnchanged()
{
    QFETCH(Framing, framing);
    QFETCH(QByteArray, payload);
    QFETCH(int, writes);

    const std::int32_t handle = openQueue();
    QVERIFY(handle > 0);
    std::int32_t job = 0;
    if (framing == Framing::Document) {
        job = POS_StartDoc();
        QVERIFY(job > 0);
    }
    const qsizetype step = payload.size() / writes + 1;
    for (qsizetype offset = 0; offset < payload.size(); offset += step) {
        const auto count = static_cast<std::int32_t>(qMin(step, payload.size() - offset));
        QCOMPARE(POS_WriteFile(handle, payload.constData() + offset, count), count);
    }
    switch (framing) {
    case Framing::Document:
        QCOMPARE(POS_EndDoc(), job);
        QCOMPARE(POS_Close(), NVPOS_OK);
        break;
    case Framing::WriteThenClose:
        job = POS_Close();
        break;
    case Framing::WriteThenEndDoc:
        job = POS_EndDoc();
        QCOMPARE(POS_Close(), NVPOS_OK);
        break;
    }
    QVERIFY(job > 0);
    QCOMPARE(jobBytes(job), payload);
}

void tst_Cups::eachDocumentIsAJob()
{
    QVERIFY(openQueue() > 0);
    const std::int32_t handle = openQueue(); // the last opened is the one framed
    // A queue frames documents and passes no answers back.
    QCOMPARE(NVPOS_Capabilities(handle), NVPOS_FRAMES_DOCUMENTS);
    char reply[4];
    QCOMPARE(NVPOS_Read(handle, reply, sizeof reply, 1000), NVPOS_ERR_UNSUPPORTED);
    QCOMPARE(NVPOS_LastErrorKind(), NVPOS_KIND_UNSUPPORTED);
    const std::int32_t first = POS_StartDoc();
    QVERIFY(first > 0);
    QCOMPARE(POS_WriteFile(handle, "first", 5), 5);
    const std::int32_t second = POS_StartDoc(); // finishes the first
    QVERIFY(second > first);
    QCOMPARE(POS_WriteFile(handle, "second", 6), 6);
    QCOMPARE(POS_EndDoc(), second);
    QCOMPARE(POS_EndDoc(), NVPOS_OK); // no document open
    QCOMPARE(POS_Close(), NVPOS_OK);
    QCOMPARE(POS_Close(), NVPOS_OK); // the first connection, which framed nothing

    QCOMPARE(jobBytes(first), QByteArray("first"));
    QCOMPARE(jobBytes(second), QByteArray("second"));
}

void tst_Cups::missingQueueFails()
{
    QCOMPARE(openQueue("nvlogo_no_such_queue"), NVPOS_ERR_OPEN);
    const QByteArray said = lastError();
    QVERIFY2(said.startsWith("The print server ")
                     && said.contains(" has no queue nvlogo_no_such_queue: "),
             said.constData());
    QCOMPARE(NVPOS_LastErrorKind(), NVPOS_KIND_NOT_FOUND);
    QCOMPARE(POS_Close(), NVPOS_ERR_NO_CONNECTION);
}

void tst_Cups::stoppedQueueFails()
{
    // A queue added without enabling it is stopped and rejects jobs.
    QProcess lpadmin;
    lpadmin.start(QStringLiteral("lpadmin"),
                  {QStringLiteral("-h"),
                   qEnvironmentVariable("CUPS_SERVER"),
                   QStringLiteral("-p"),
                   QStringLiteral("nvlogo_stopped"),
                   QStringLiteral("-v"),
                   QStringLiteral("capture:" NVLOGO_CUPS_JOBDIR),
                   QStringLiteral("-m"),
                   QStringLiteral("raw")});
    QVERIFY2(lpadmin.waitForFinished(30000), qPrintable(lpadmin.errorString()));
    if (lpadmin.exitCode() != 0)
        QSKIP(lpadmin.readAllStandardError().constData());

    QCOMPARE(openQueue("nvlogo_stopped"), NVPOS_ERR_OPEN);
    const QByteArray said = lastError();
    QVERIFY2(said.startsWith("The print queue nvlogo_stopped on ") && said.contains(" is stopped"),
             said.constData());
    QCOMPARE(NVPOS_LastErrorKind(), NVPOS_KIND_REFUSED);
}

void tst_Cups::stoppedWriteCancelsTheJob()
{
    const std::int32_t handle = openQueue();
    QVERIFY(handle > 0);
    const std::int32_t job = POS_StartDoc();
    QVERIFY(job > 0);
    NVPOS_SetProgressCallback([](std::int64_t, std::int64_t, void *) { return 1; }, nullptr);
    const QByteArray payload = pattern(300 * 1024);
    const std::int32_t result = POS_WriteFile(handle, payload.constData(), payload.size());
    NVPOS_SetProgressCallback(nullptr, nullptr);
    QCOMPARE(result, NVPOS_ERR_CANCELLED);
    QVERIFY2(lastError().startsWith("Stopped after "), lastError().constData());
    QCOMPARE(POS_EndDoc(), NVPOS_OK); // the document is gone with its job

    http_t *http = httpConnect2(cupsServer(),
                                ippPort(),
                                nullptr,
                                AF_UNSPEC,
                                HTTP_ENCRYPTION_IF_REQUESTED,
                                1,
                                30000,
                                nullptr);
    QVERIFY(http);
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const QByteArray uri = "ipp://localhost/jobs/" + QByteArray::number(job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.constData());
    ippAddString(
            request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t *response = cupsDoRequest(http, request, "/");
    const int state = ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0);
    ippDelete(response);
    httpClose(http);
    QCOMPARE(state, int(IPP_JSTATE_CANCELED));
}

void tst_Cups::silentServerFailsInTime()
{
    // A server that takes the connection but never answers.
    TcpListener silent;
    const OtherServer server(silent.address());

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(openQueue(), NVPOS_ERR_OPEN);
    QVERIFY2(timer.elapsed() < 30000,
             QByteArray::number(timer.elapsed()).constData()); // a safety net
}

void tst_Cups::unansweredDocumentFails_data()
{
    QTest::addColumn<bool>("byClose");
    QTest::newRow("EndDoc") << false;
    QTest::newRow("Close") << true;
}

// The document went out, but the server never said it took it: that is no success.
void tst_Cups::unansweredDocumentFails()
{
    QFETCH(bool, byClose);
    const QByteArray document = "\x1b@an unanswered document\x1dVB";
    const AnswerDroppingProxy proxy(qgetenv("CUPS_SERVER"), document);
    const OtherServer server(proxy.address());

    const std::int32_t handle = openQueue();
    QVERIFY2(handle > 0, lastError().constData());
    QVERIFY2(POS_StartDoc() > 0, lastError().constData());
    QCOMPARE(POS_WriteFile(handle, document.constData(), document.size()), document.size());
    QCOMPARE(byClose ? POS_Close() : POS_EndDoc(), NVPOS_ERR_TIMEOUT);
    QCOMPARE(NVPOS_LastErrorKind(), NVPOS_KIND_TIMEOUT);
    const QByteArray said = lastError();
    QVERIFY2(said.startsWith("The print server did not answer the document on " NVLOGO_CUPS_QUEUE),
             said.constData());
}

QTEST_GUILESS_MAIN(tst_Cups)
#include "tst_cups.moc"
