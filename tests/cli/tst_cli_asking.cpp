// nvlogo-cli listening to the printer: status, download --wait-ready and print --confirm,
// against the virtual printer in its states and against small loopback peers that stay
// silent or answer nonsense.

#include <tests/nvimage/testpictures.h>
#include <tests/support/cliprocess.h>
#include <tests/support/printerprocess.h>
#include <tests/support/scriptedpeer.h>
#include <tests/support/tcpsink.h>

#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_CliAsking : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void statusOfEachState_data();
    void statusOfEachState();
    void statusWithoutAnAnswer_data();
    void statusWithoutAnAnswer();
    void waitReadyAfterTheReset_data();
    void waitReadyAfterTheReset();
    void confirmedPrintOut_data();
    void confirmedPrintOut();

private:
    // A virtual printer with these options; its address, or an empty string.
    QString startPrinter(PrinterProcess &printer, const QStringList &options);

    QTemporaryDir m_dir;
    QString m_picture;
    int m_printers = 0;
};

void tst_CliAsking::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QImage black(16, 8, QImage::Format_RGB32);
    black.fill(Qt::black);
    m_picture
            = TestPictures::savePicture(m_dir.filePath(QStringLiteral("black.bmp")), black, "bmp");
}

QString tst_CliAsking::startPrinter(PrinterProcess &printer, const QStringList &options)
{
    printer.start(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + options);
    const auto listening = printer.waitFor(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)$"));
    return listening.hasMatch() ? QStringLiteral("127.0.0.1:") + listening.captured(1) : QString();
}

void tst_CliAsking::statusOfEachState_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("paper");
    QTest::addColumn<bool>("coverOpen");

    QTest::newRow("ready") << QStringList{} << 0 << "ok" << false;
    QTest::newRow("paper near its end")
            << QStringList{"--paper", "near-end"} << 0 << "near-end" << false;
    QTest::newRow("paper out") << QStringList{"--paper", "end"} << 3 << "end" << false;
    QTest::newRow("cover open") << QStringList{"--cover", "open"} << 3 << "ok" << true;
}

void tst_CliAsking::statusOfEachState()
{
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, paper);
    QFETCH(bool, coverOpen);

    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH),
                           m_dir.filePath(QString::number(++m_printers)));
    const QString ip = startPrinter(printer, options);
    QVERIFY2(!ip.isEmpty(), qPrintable(printer.transcript()));

    const CliRun run = runCli(
            {QStringLiteral("status"), QStringLiteral("--ip"), ip, QStringLiteral("--json")});
    QVERIFY2(run.exitCode == exitCode, transcript(run).constData());
    const QJsonObject json = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(json.value(QLatin1String("target")).toString(), ip);
    QCOMPARE(json.value(QLatin1String("answered")).toBool(), true);
    QCOMPARE(json.value(QLatin1String("ready")).toBool(), exitCode == 0);
    // A printer stops, offline, at the end of its paper as with its cover open.
    QCOMPARE(json.value(QLatin1String("online")).toBool(), exitCode == 0);
    QCOMPARE(json.value(QLatin1String("cover_open")).toBool(), coverOpen);
    QCOMPARE(json.value(QLatin1String("paper")).toString(), paper);
    QVERIFY(json.value(QLatin1String("error")).isNull());
    QVERIFY2(!json.value(QLatin1String("model")).toString().isEmpty(), run.out.constData());
    QVERIFY2(!json.value(QLatin1String("firmware")).toString().isEmpty(), run.out.constData());

    // The readable form says the same.
    const CliRun lines = runCli({QStringLiteral("status"), QStringLiteral("--ip"), ip});
    QCOMPARE(lines.exitCode, exitCode);
    QVERIFY2(lines.out.contains(exitCode == 0 ? "online and ready" : "not ready"),
             transcript(lines).constData());
}

void tst_CliAsking::statusWithoutAnAnswer_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QString>("reason");

    QTest::newRow("silent") << "silent"
                            << "did not answer within 1.0 s";
    QTest::newRow("nonsense") << "nonsense"
                              << "not status replies";
    QTest::newRow("no back channel") << "no-replies"
                                     << "did not answer";
    QTest::newRow("plain file") << "file"
                                << "cannot hear the printer";
}

void tst_CliAsking::statusWithoutAnAnswer()
{
    QFETCH(QString, peer);
    QFETCH(QString, reason);

    TcpSink silent;
    ScriptedPeer nonsense(Scripts::echo(QByteArray("\xff\x01", 2)));
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH),
                           m_dir.filePath(QString::number(++m_printers)));
    QStringList port;
    if (peer == QLatin1String("silent")) {
        port = {QStringLiteral("--ip"), QStringLiteral("127.0.0.1:%1").arg(silent.port())};
    } else if (peer == QLatin1String("nonsense")) {
        port = {QStringLiteral("--ip"), QStringLiteral("127.0.0.1:%1").arg(nonsense.port())};
    } else if (peer == QLatin1String("no-replies")) {
        const QString ip = startPrinter(printer, {QStringLiteral("--no-replies")});
        QVERIFY2(!ip.isEmpty(), qPrintable(printer.transcript()));
        port = {QStringLiteral("--ip"), ip};
    } else {
        const QString file = m_dir.filePath(QStringLiteral("printer.bin"));
        QFile(file).open(QIODevice::WriteOnly);
        port = {QStringLiteral("--port"), QStringLiteral("LPT:") + file};
    }

    const CliRun run = runCli(QStringList{QStringLiteral("status"),
                                          QStringLiteral("--timeout"),
                                          QStringLiteral("1"),
                                          QStringLiteral("--json")}
                              + port);
    QVERIFY2(run.exitCode == 1, transcript(run).constData());
    const QJsonObject json = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(json.value(QLatin1String("answered")).toBool(true), false);
    QCOMPARE(json.value(QLatin1String("ready")).toBool(true), false);
    QVERIFY2(run.err.contains(reason.toUtf8()), transcript(run).constData());
}

void tst_CliAsking::waitReadyAfterTheReset_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("stays connected") << QStringList{"--reset-ms", "1500"} << 0;
    QTest::newRow("reconnects") << QStringList{"--reset-ms", "1500", "--drop-on-reset"} << 0;
    QTest::newRow("never comes back") << QStringList{"--no-replies"} << 3;
}

void tst_CliAsking::waitReadyAfterTheReset()
{
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);

    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH),
                           m_dir.filePath(QString::number(++m_printers)));
    const QString ip = startPrinter(printer, options);
    QVERIFY2(!ip.isEmpty(), qPrintable(printer.transcript()));

    const CliRun run = runCli({QStringLiteral("download"),
                               QStringLiteral("--ip"),
                               ip,
                               QStringLiteral("--wait-ready"),
                               QStringLiteral("4"),
                               m_picture});
    QVERIFY2(run.exitCode == exitCode, transcript(run).constData() + printer.transcript().toUtf8());
    QVERIFY2(run.err.contains("Wait until printer reset."), transcript(run).constData());
    if (exitCode == 0) {
        QVERIFY2(run.err.contains("The printer is ready again after"), transcript(run).constData());
        // Only an answer given after the reset may end the wait.
        QVERIFY2(printer.waitFor(QStringLiteral("reset: over")).hasMatch(),
                 qPrintable(printer.transcript()));
    } else {
        QVERIFY2(run.err.contains("the printer's state is unknown"), transcript(run).constData());
    }
}

void tst_CliAsking::confirmedPrintOut_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("says");

    QTest::newRow("printed") << QStringList{} << 0 << QByteArray("Printed.");
    QTest::newRow("paper out") << QStringList{"--paper", "end"} << 3
                               << QByteArray("nothing was printed: 127.0.0.1");
}

void tst_CliAsking::confirmedPrintOut()
{
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, says);

    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH),
                           m_dir.filePath(QString::number(++m_printers)));
    const QString ip = startPrinter(printer, options);
    QVERIFY2(!ip.isEmpty(), qPrintable(printer.transcript()));
    const CliRun download
            = runCli({QStringLiteral("download"), QStringLiteral("--ip"), ip, m_picture});
    QVERIFY2(download.exitCode == 0, transcript(download).constData());

    const CliRun run = runCli({QStringLiteral("print"),
                               QStringLiteral("1"),
                               QStringLiteral("--confirm"),
                               QStringLiteral("--ip"),
                               ip});
    QVERIFY2(run.exitCode == exitCode, transcript(run).constData() + printer.transcript().toUtf8());
    QVERIFY2(run.err.contains(says), transcript(run).constData());
    printer.stop();
    const QString log = printer.transcript();
    // A printer that is not ready is sent no FS p at all.
    QCOMPARE(log.contains(QLatin1String("FS p:")), exitCode == 0);
}

QTEST_GUILESS_MAIN(tst_CliAsking)
#include "tst_cli_asking.moc"
