// nvlogo-cli with many printers at once: loopback peers that take the stream, take it slowly,
// hang up or refuse; a targets file; a termination signal in the middle of a run.

#include <tests/support/cliprocess.h>
#include <tests/support/scriptedpeer.h>
#include <tests/support/slowpeer.h>
#include <tests/support/tcpsink.h>

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString address(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

// Nothing listens on port 1 of the loopback address.
const QString Refusing = QStringLiteral("127.0.0.1:1");

QJsonArray jsonArray(const CliRun &run)
{
    return QJsonDocument::fromJson(run.out).array();
}

} // namespace

class tst_CliFleet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void healthySlowHangingUpAndRefusing();
    void targetsFileMixesTcpAndLpt();
    void badTargets_data();
    void badTargets();
    void printAndStatusToMany();
    void signalStopsEveryPrinter_data();
    void signalStopsEveryPrinter();

private:
    QString file(const QString &name, const QByteArray &contents);

    QTemporaryDir m_dir;
    QString m_picture;
    QByteArray m_stream;
};

QString tst_CliFleet::file(const QString &name, const QByteArray &contents)
{
    const QString path = QDir(m_dir.path()).filePath(name);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void tst_CliFleet::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // One bit a pixel with a pattern: small on disk, 16 KB of stream, more than a hanging-up
    // peer takes.
    QImage mono(2048, 64, QImage::Format_Mono);
    mono.fill(0);
    for (int i = 0; i < 64; ++i)
        mono.setPixel(i * 31 % 2048, i, 1);
    m_picture = QDir(m_dir.path()).filePath(QStringLiteral("logo.bmp"));
    QVERIFY(mono.save(m_picture, "BMP"));
    const QString streamFile = QDir(m_dir.path()).filePath(QStringLiteral("logo.bin"));
    const CliRun stream
            = runCli({QStringLiteral("stream"), m_picture, QStringLiteral("-o"), streamFile});
    QVERIFY2(stream.exitCode == 0, transcript(stream).constData());
    QFile written(streamFile);
    QVERIFY(written.open(QIODevice::ReadOnly));
    m_stream = written.readAll();
    QVERIFY(m_stream.size() > 16000);
}

void tst_CliFleet::healthySlowHangingUpAndRefusing()
{
    // Eight printers: four take the stream at once, one slowly, two hang up part-way, one
    // refuses the connection.
    std::vector<std::unique_ptr<TcpSink>> healthy;
    for (int i = 0; i < 4; ++i)
        healthy.push_back(std::make_unique<TcpSink>());
    SlowPeer slow(4096, 20);
    SlowPeer hangsUp1(8192, 1, 6000);
    SlowPeer hangsUp2(8192, 1, 10240);
    QStringList arguments{QStringLiteral("download"), m_picture, QStringLiteral("--json")};
    QStringList good;
    for (const auto &sink : healthy)
        good << address(sink->port());
    good << address(slow.port());
    const QStringList bad = {address(hangsUp1.port()), Refusing, address(hangsUp2.port())};
    for (const QString &ip : good + bad)
        arguments << QStringLiteral("--ip") << ip;

    const CliRun run = runCli(arguments);
    QVERIFY2(run.exitCode == 1, transcript(run).constData());
    for (const auto &sink : healthy)
        QCOMPARE(sink->waitForClosedConnection().toHex(), m_stream.toHex());
    for (int waited = 0; waited < 20000 && !slow.sawEnd(); waited += 10)
        QThread::msleep(10);
    QVERIFY(slow.sawEnd());
    QCOMPARE(slow.received(), qint64(m_stream.size()));

    // One row a printer, in the order given; the failed ones say why.
    const QJsonArray rows = jsonArray(run);
    QCOMPARE(rows.size(), good.size() + bad.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonObject row = rows.at(i).toObject();
        const bool ok = i < good.size();
        QCOMPARE(row.value(QLatin1String("target")).toString(), (good + bad).at(i));
        QCOMPARE(row.value(QLatin1String("ok")).toBool(), ok);
        // On loopback a printer may be served in well under a millisecond.
        QVERIFY(row.value(QLatin1String("seconds")).isDouble());
        QVERIFY(row.value(QLatin1String("seconds")).toDouble() >= 0);
        if (ok) {
            QCOMPARE(row.value(QLatin1String("bytes")).toInteger(), m_stream.size());
            QVERIFY(row.value(QLatin1String("reason")).isNull());
        } else {
            QVERIFY(row.value(QLatin1String("bytes")).toInteger() < m_stream.size());
            QVERIFY2(!row.value(QLatin1String("reason")).toString().isEmpty(), run.out.constData());
        }
    }
    QVERIFY2(rows.at(6).toObject().value(QLatin1String("reason")).toString().contains("refused"),
             run.out.constData());
    QVERIFY2(run.err.contains("8 of 8 done, 3 failed"), run.err.constData());
}

void tst_CliFleet::targetsFileMixesTcpAndLpt()
{
    TcpSink printer;
    const QString lpt = QDir(m_dir.path()).filePath(QStringLiteral("lpt.bin"));
    file(QStringLiteral("lpt.bin"), QByteArray());
    const QString targets
            = file(QStringLiteral("mixed.txt"),
                   "# the shop's printers\n\n  ETHERNET " + address(printer.port()).toUtf8()
                           + "\nLPT:" + QFile::encodeName(lpt) + "\n");
    const CliRun run
            = runCli({QStringLiteral("download"), m_picture, QStringLiteral("--targets"), targets});
    QVERIFY2(run.exitCode == 0, transcript(run).constData());
    QCOMPARE(printer.waitForClosedConnection().toHex(), m_stream.toHex());
    QFile written(lpt);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll().toHex(), m_stream.toHex());
    // The table: a row each, with the bytes that arrived.
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).startsWith("TARGET"), run.out.constData());
    for (const QByteArray &line : lines.mid(1))
        QVERIFY2(line.contains(" ok ") && line.contains(QByteArray::number(m_stream.size())),
                 run.out.constData());
}

void tst_CliFleet::badTargets_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown kind") << QByteArray("ETHERNET 10.0.0.1\n\nUSB1\n") << QStringList{}
                                  << ":3: unknown printer 'USB1'";
    QTest::newRow("no host") << QByteArray("# none\nETHERNET\n") << QStringList{}
                             << ":2: ETHERNET needs host";
    QTest::newRow("port out of range")
            << QByteArray("ETHERNET 10.0.0.1:70000\n") << QStringList{} << ":1: '10.0.0.1:70000'";
    QTest::newRow("bad baud") << QByteArray("COM1 9600\nCOM2 1200\n") << QStringList{}
                              << ":2: the baud rate must be one of";
    QTest::newRow("word after LPT")
            << QByteArray("LPT1 fast\n") << QStringList{} << ":1: 'fast' after the printer";
    QTest::newRow("driver without queue")
            << QByteArray("DRIVER\n") << QStringList{} << ":1: DRIVER needs the printer queue";
    QTest::newRow("only comments")
            << QByteArray("# nothing yet\n\n") << QStringList{} << "names no printer";
    QTest::newRow("twice") << QByteArray("ETHERNET 10.0.0.1\nLPT1\nETHERNET 10.0.0.1:9100\n")
                           << QStringList{} << "10.0.0.1:9100 is named twice";
    QTest::newRow("a port beside")
            << QByteArray("LPT1\n") << QStringList{"--port", "COM1"} << "--port names one printer";
    QTest::newRow("no jobs") << QByteArray("LPT1\nLPT2\n") << QStringList{"--jobs", "0"}
                             << "--jobs must be";
}

void tst_CliFleet::badTargets()
{
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, options);
    QFETCH(QString, message);
    const QString targets = file(QStringLiteral("bad.txt"), contents);
    for (const QString &command : {QStringLiteral("print"), QStringLiteral("status")}) {
        QStringList arguments{command, QStringLiteral("--targets"), targets};
        if (command == QLatin1String("print"))
            arguments << QStringLiteral("1");
        const CliRun run = runCli(arguments + options);
        QVERIFY2(run.exitCode == 2, transcript(run).constData());
        QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
        QVERIFY2(run.out.isEmpty(), run.out.constData());
    }
}

void tst_CliFleet::printAndStatusToMany()
{
    TcpSink first;
    TcpSink second;
    const CliRun printed = runCli({QStringLiteral("print"),
                                   QStringLiteral("7"),
                                   QStringLiteral("--ip"),
                                   address(first.port()),
                                   QStringLiteral("--ip"),
                                   address(second.port())});
    QVERIFY2(printed.exitCode == 0, transcript(printed).constData());
    QCOMPARE(first.waitForClosedConnection().toHex(), QByteArray("1c7007001d564200"));
    QCOMPARE(second.waitForClosedConnection().toHex(), QByteArray("1c7007001d564200"));

    // One printer with --json: the one object, not an array.
    const CliRun one = runCli({QStringLiteral("print"),
                               QStringLiteral("7"),
                               QStringLiteral("--ip"),
                               Refusing,
                               QStringLiteral("--json")});
    QVERIFY2(one.exitCode == 1, transcript(one).constData());
    const QJsonObject row = QJsonDocument::fromJson(one.out).object();
    QCOMPARE(row.value(QLatin1String("target")).toString(), Refusing);
    QCOMPARE(row.value(QLatin1String("ok")).toBool(true), false);

    ScriptedPeer ready(Scripts::status(0x12));
    ScriptedPeer paperOut(Scripts::status(0x72));
    const QString ips[2] = {address(ready.port()), address(paperOut.port())};
    // Not ready beats ready; a printer that cannot be asked beats both.
    const struct
    {
        QStringList ips;
        int exitCode;
    } cases[] = {{{ips[0], ips[1]}, 3}, {{ips[1], Refusing, ips[0]}, 1}};
    for (const auto &test : cases) {
        // No model or firmware answer: a second is enough for the status bytes.
        QStringList arguments{QStringLiteral("status"),
                              QStringLiteral("--json"),
                              QStringLiteral("--timeout"),
                              QStringLiteral("1")};
        for (const QString &ip : test.ips)
            arguments << QStringLiteral("--ip") << ip;
        const CliRun run = runCli(arguments);
        QVERIFY2(run.exitCode == test.exitCode, transcript(run).constData());
        const QJsonArray rows = jsonArray(run);
        QCOMPARE(rows.size(), test.ips.size());
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QJsonObject status = rows.at(i).toObject();
            const QString ip = test.ips.at(i);
            QCOMPARE(status.value(QLatin1String("target")).toString(), ip);
            QCOMPARE(status.value(QLatin1String("answered")).toBool(), ip != Refusing);
            QCOMPARE(status.value(QLatin1String("ready")).toBool(), ip == ips[0]);
            if (ip == Refusing)
                QVERIFY(status.value(QLatin1String("reason")).toString().contains("refused"));
            else if (ip == ips[1])
                QCOMPARE(status.value(QLatin1String("paper")).toString(), QStringLiteral("end"));
        }
    }
}

void tst_CliFleet::signalStopsEveryPrinter_data()
{
    QTest::addColumn<bool>("define");
    QTest::addColumn<int>("signal");
    QTest::newRow("download, SIGINT") << false << SIGINT;
    QTest::newRow("graphics define, SIGTERM") << true << SIGTERM;
}

void tst_CliFleet::signalStopsEveryPrinter()
{
    QFETCH(bool, define);
    QFETCH(int, signal);
    // Three printers that would take minutes (a slow reader, or one that never answers); two
    // at once, so that one has not started.
    std::vector<std::unique_ptr<SlowPeer>> slow;
    std::vector<std::unique_ptr<ScriptedPeer>> silent;
    QStringList arguments = define ? QStringList{QStringLiteral("graphics"),
                                                 QStringLiteral("define"),
                                                 QStringLiteral("L1")}
                                   : QStringList{QStringLiteral("download")};
    arguments << m_picture << QStringLiteral("--json") << QStringLiteral("--jobs")
              << QStringLiteral("2");
    for (int i = 0; i < 3; ++i) {
        slow.push_back(std::make_unique<SlowPeer>(64, 50));
        silent.push_back(std::make_unique<ScriptedPeer>(Scripts::echo(QByteArray())));
        const quint16 port = define ? silent.back()->port() : slow.back()->port();
        arguments << QStringLiteral("--ip") << address(port);
    }
    const auto bytesAt = [&](int i) {
        return define ? qint64(silent[size_t(i)]->received().size()) : slow[size_t(i)]->received();
    };
    QProcess process;
    process.start(QStringLiteral(NVLOGO_CLI_PATH), arguments);
    QVERIFY(process.waitForStarted());
    for (int waited = 0; waited < 20000 && (bytesAt(0) == 0 || bytesAt(1) == 0); waited += 10)
        QThread::msleep(10);
    QVERIFY(bytesAt(0) > 0 && bytesAt(1) > 0);
    ::kill(pid_t(process.processId()), signal);
    const CliRun run = finishCli(process);
    // Every row stopped: a failure, not a printer that did not confirm.
    QVERIFY2(run.exitCode == 1, transcript(run).constData());

    const QJsonArray rows = jsonArray(run);
    QCOMPARE(rows.size(), 3);
    for (const QJsonValue &value : rows) {
        const QJsonObject row = value.toObject();
        QCOMPARE(row.value(QLatin1String("ok")).toBool(true), false);
        QVERIFY2(row.value(QLatin1String("reason")).toString().startsWith("Stopped"),
                 run.out.constData());
    }
    QCOMPARE(rows.at(2).toObject().value(QLatin1String("bytes")).toInteger(), 0);
    QCOMPARE(bytesAt(2), 0);
}

QTEST_GUILESS_MAIN(tst_CliFleet)
#include "tst_cli_fleet.moc"
