// A termination signal in each phase of picture work: nvlogo-cli stops, exits non-zero, and
// leaves no scratch file and no half-written output behind.

#include <tests/nvimage/testpictures.h>
#include <tests/support/cliprocess.h>
#include <tests/support/tcpsink.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether the process has a handler for the signal yet (SigCgt in /proc/PID/status).
bool catches(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    }
    return false;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                  | QDir::NoDotAndDotDot);
}

} // namespace

class tst_CliSignals : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void stopsInEveryPhase_data();
    void stopsInEveryPhase();

private:
    QTemporaryDir m_dir;
    QStringList m_pictures; // one large photo, many times: seconds of work
};

void tst_CliSignals::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString photo = TestPictures::savePicture(m_dir.filePath(QStringLiteral("photo.bmp")),
                                                    TestPictures::randomColours(3000, 2000, 11),
                                                    "bmp");
    for (int i = 0; i < 60; ++i)
        m_pictures << photo;
}

void tst_CliSignals::stopsInEveryPhase_data()
{
    QTest::addColumn<QStringList>("arguments"); // OUT: the output; SINK: a printer's address
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("times");
    QTest::newRow("stream, while decoding") << QStringList{"stream", "-o", "OUT"} << SIGINT << 1;
    QTest::newRow("stream, signalled twice") << QStringList{"stream", "-o", "OUT"} << SIGINT << 2;
    QTest::newRow("stream into a FIFO nobody reads")
            << QStringList{"stream", "-o", "FIFO"} << SIGINT << 1;
    QTest::newRow("preview") << QStringList{"preview", "-o", "OUT"} << SIGTERM << 1;
    QTest::newRow("download") << QStringList{"download", "--ip", "SINK"} << SIGTERM << 1;
}

void tst_CliSignals::stopsInEveryPhase()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, signal);
    QFETCH(int, times);
    QTemporaryDir work;
    const QString temporary = work.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(temporary));
    const QString fifo = work.filePath(QStringLiteral("fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    // A reader that never reads: the stream fills the pipe and stalls.
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    TcpSink printer;
    arguments.replaceInStrings(QStringLiteral("OUT"), work.filePath(QStringLiteral("out")));
    arguments.replaceInStrings(QStringLiteral("FIFO"), fifo);
    arguments.replaceInStrings(QStringLiteral("SINK"),
                               QStringLiteral("127.0.0.1:%1").arg(printer.port()));
    // Fitted, so that the size on disk does not refuse them, and held by a large memory. Into
    // the FIFO, three: more than the pipe holds, soon built, then the write stalls.
    const bool stall = arguments.contains(fifo);
    arguments << (stall ? m_pictures.mid(0, 3) : m_pictures) << QStringLiteral("--fit")
              << QStringLiteral("--nv-capacity") << QStringLiteral("67108864");

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temporary);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(NVLOGO_CLI_PATH), arguments);
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY(catches(process.processId(), signal) || process.state() == QProcess::NotRunning);
    if (stall) {
        pollfd ready{reader, POLLIN, 0};
        QTRY_VERIFY(::poll(&ready, 1, 0) == 1);
    }
    for (int i = 0; i < times; ++i)
        ::kill(pid_t(process.processId()), signal);
    const CliRun run = finishCli(process);
    ::close(reader);

    QVERIFY2(run.exitCode != 0, transcript(run).constData());
    QCOMPARE(entries(temporary), QStringList());
    const QStringList left = entries(work.path());
    QVERIFY2(left == QStringList({QStringLiteral("fifo"), QStringLiteral("tmp")})
                     || left.contains(QStringLiteral("out"))
                                == arguments.contains(QStringLiteral("preview")),
             qPrintable(left.join(QLatin1Char(' '))));
    QVERIFY2(!left.contains(QStringLiteral("out"))
                     || arguments.constFirst() == QLatin1String("preview"),
             qPrintable(left.join(QLatin1Char(' '))));
    QCOMPARE(printer.connectionCount(), 0);
}

QTEST_GUILESS_MAIN(tst_CliSignals)
#include "tst_cli_signals.moc"
