// nvlogo-cli find from end to end, inside a network namespace of its own: a private D-Bus and
// avahi daemon on a dummy interface announce a printer over DNS-SD, printers listen on
// loopback addresses for the scan, and the private print server has its queue. The targets
// file it writes then feeds a download. Nothing leaves the namespace, which has no way out.

#include <tests/support/cliprocess.h>
#include <tests/support/scriptedpeer.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <unistd.h>

namespace {

// The namespace's own network, on its dummy (or, where the kernel has none, veth) interface.
const QByteArray AnnouncedAddress = "10.123.0.1";
constexpr quint16 RawPort = 9100;

QString tool(const QString &name)
{
    return QStandardPaths::findExecutable(name,
                                          {QStringLiteral("/usr/sbin"),
                                           QStringLiteral("/sbin"),
                                           QStringLiteral("/usr/bin"),
                                           QStringLiteral("/bin")});
}

// Runs a short command to its end; its output on failure.
QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return program.toUtf8() + ' ' + arguments.join(QLatin1Char(' ')).toUtf8() + ": "
               + process.readAll() + process.errorString().toUtf8();
    return {};
}

// A daemon started for the test, stopped when it goes.
struct Daemon
{
    QProcess process;
    QByteArray seen;

    ~Daemon()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
    // Waits, bounded, until its output holds text.
    bool says(const QByteArray &text, int ms = 15000)
    {
        return QTest::qWaitFor(
                       [&] {
                           seen += process.readAll();
                           return seen.contains(text) || process.state() == QProcess::NotRunning;
                       },
                       ms)
               && seen.contains(text);
    }
};

QString writeText(const QDir &dir, const QString &name, const QByteArray &text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

QJsonObject entryFor(const QJsonArray &entries, const QString &target)
{
    for (const QJsonValue &entry : entries) {
        if (entry.toObject().value(QStringLiteral("target")).toString() == target)
            return entry.toObject();
    }
    return {};
}

PeerOptions at(const QByteArray &address)
{
    PeerOptions options;
    options.address = address;
    options.port = RawPort;
    return options;
}

} // namespace

class tst_CliFind : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void findsAndFeedsADownload();

private:
    QString enterNamespace();
    QString startDaemons();
    QString configure(const QString &name, const QByteArray &text);

    QTemporaryDir m_dir;
    Daemon m_bus;
    Daemon m_avahi;
    Daemon m_publish;
};

// A namespace with loopback and one dummy interface; this process's threads and programs
// started from now on live in it.
QString tst_CliFind::enterNamespace()
{
    if (::geteuid() != 0)
        return QStringLiteral("making a network namespace needs root");
    const QString ip = tool(QStringLiteral("ip"));
    if (ip.isEmpty())
        return QStringLiteral("ip (iproute2) is not installed");
    if (::unshare(CLONE_NEWNET) != 0)
        return QStringLiteral("no network namespace: unshare(CLONE_NEWNET): %1")
                .arg(QString::fromLocal8Bit(std::strerror(errno)));
    const QString link = QStringLiteral("nvlogo0");
    QByteArray failed = runTool(ip, {"link", "set", "lo", "up"});
    if (!runTool(ip, {"link", "add", link, "type", "dummy"}).isEmpty()) {
        // A kernel without dummy interfaces: a veth pair with both ends in here.
        failed += runTool(ip, {"link", "add", link, "type", "veth", "peer", "name", "nvlogo1"});
        failed += runTool(ip, {"link", "set", "nvlogo1", "up"});
    }
    failed += runTool(ip, {"link", "set", link, "multicast", "on", "up"});
    failed += runTool(ip,
                      {"addr", "add", QString::fromLatin1(AnnouncedAddress + "/24"), "dev", link});
    return QString::fromUtf8(failed);
}

QString tst_CliFind::configure(const QString &name, const QByteArray &text)
{
    return writeText(QDir(m_dir.path()), name, text);
}

QString tst_CliFind::startDaemons()
{
    const QString dbus = tool(QStringLiteral("dbus-daemon"));
    const QString avahi = tool(QStringLiteral("avahi-daemon"));
    const QString publish = tool(QStringLiteral("avahi-publish"));
    const QString unshare = tool(QStringLiteral("unshare"));
    if (dbus.isEmpty() || avahi.isEmpty() || publish.isEmpty() || unshare.isEmpty())
        return QStringLiteral("needs dbus-daemon, avahi-daemon, avahi-publish and unshare "
                              "(scripts/install-deps --test)");
    const QByteArray bus = QDir(m_dir.path()).filePath(QStringLiteral("bus")).toUtf8();
    const QString busConfig = configure(
            QStringLiteral("bus.conf"),
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>"
            "<type>system</type><listen>unix:path="
                    + bus
                    + "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                      "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                      "<allow receive_sender=\"*\"/></policy></busconfig>\n");
    m_bus.process.setProcessChannelMode(QProcess::MergedChannels);
    m_bus.process.start(dbus,
                        {QStringLiteral("--nofork"),
                         QStringLiteral("--config-file=") + busConfig,
                         QStringLiteral("--print-address")});
    if (!m_bus.says("unix:path="))
        return QStringLiteral("the private D-Bus did not start: ") + QString::fromUtf8(m_bus.seen);
    // Every program from now on (avahi, nvlogo-cli) asks this bus.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + bus);

    const QString avahiConfig = configure(
            QStringLiteral("avahi.conf"),
            "[server]\nhost-name=nvlogo-test\nuse-ipv4=yes\nuse-ipv6=no\n"
            "allow-interfaces=nvlogo0\nenable-dbus=yes\n[wide-area]\nenable-wide-area=no\n"
            "[publish]\npublish-hinfo=no\npublish-workstation=no\n");
    // Its own /run, so that the system's avahi daemon (pid file, socket) is left alone.
    m_avahi.process.setProcessChannelMode(QProcess::MergedChannels);
    m_avahi.process.start(unshare,
                          {"-m",
                           "sh",
                           "-c",
                           "mount -t tmpfs tmpfs /run && exec " + avahi
                                   + " --no-drop-root --no-chroot --no-rlimits -f " + avahiConfig});
    if (!m_avahi.says("Server startup complete"))
        return QStringLiteral("the private avahi daemon did not start: ")
               + QString::fromUtf8(m_avahi.seen);
    m_publish.process.setProcessChannelMode(QProcess::MergedChannels);
    m_publish.process.start(publish,
                            {"-s",
                             "Kitchen printer",
                             "_pdl-datastream._tcp",
                             QString::number(RawPort),
                             "ty=VP-80 Kitchen"});
    if (!m_publish.says("Established under name"))
        return QStringLiteral("avahi-publish did not announce the printer: ")
               + QString::fromUtf8(m_publish.seen);
    return {};
}

void tst_CliFind::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!qEnvironmentVariableIsSet("CUPS_SERVER"))
        QSKIP("run through ctest, fixture cupsd");
    if (const QString why = enterNamespace(); !why.isEmpty())
        QSKIP(qPrintable(why));
    if (const QString why = startDaemons(); !why.isEmpty())
        QSKIP(qPrintable(why));
}

void tst_CliFind::findsAndFeedsADownload()
{
    ScriptedPeer kitchen(Scripts::identity("VP-80 Kitchen", "1.0"), at(AnnouncedAddress));
    ScriptedPeer counter(Scripts::identity("VP-80", "1.07"), at("127.0.0.2"));
    ScriptedPeer bar(Scripts::identity("VP-58", "2.00", '\x72'), at("127.0.0.3"));
    ScriptedPeer raw(Scripts::echo(QByteArray()), at("127.0.0.5"));
    // 127.0.0.6 and the rest of the range listen on nothing.
    const QString targets = QDir(m_dir.path()).filePath(QStringLiteral("found.targets"));

    const CliRun find = runCli(
            {"find", "--json", "--scan", "127.0.0.1-127.0.0.40", "--write-targets", targets});
    QVERIFY2(find.exitCode == 0, transcript(find).constData());
    const QJsonArray entries = QJsonDocument::fromJson(find.out).array();
    QVERIFY2(find.err.contains("scanned 40 addresses: 3 accepted, 37 refused"),
             transcript(find).constData());

    const QJsonObject announced = entryFor(entries, "ETHERNET " + kitchen.ip());
    QCOMPARE(announced.value("source").toString(), QStringLiteral("dns-sd"));
    QCOMPARE(announced.value("model").toString(), QStringLiteral("VP-80 Kitchen"));
    QCOMPARE(announced.value("origin").toString(), QStringLiteral("Kitchen printer"));
    QVERIFY(announced.value("state").isNull()); // not named: not asked
    QCOMPARE(kitchen.connections(), 0);

    const QJsonObject ready = entryFor(entries, "ETHERNET " + counter.ip());
    QCOMPARE(ready.value("source").toString(), QStringLiteral("scan"));
    QCOMPARE(ready.value("model").toString(), QStringLiteral("VP-80"));
    QCOMPARE(ready.value("firmware").toString(), QStringLiteral("1.07"));
    QCOMPARE(ready.value("state").toObject().value("ready").toBool(), true);
    const QJsonObject paperOut = entryFor(entries, "ETHERNET " + bar.ip());
    QCOMPARE(paperOut.value("model").toString(), QStringLiteral("VP-58"));
    QCOMPARE(paperOut.value("state").toObject().value("paper").toString(), QStringLiteral("end"));
    const QJsonObject silent = entryFor(entries, "ETHERNET " + raw.ip());
    QCOMPARE(silent.value("note").toString(),
             QStringLiteral("takes raw printing, does not answer"));
    QVERIFY(silent.value("state").isNull());
    const QJsonObject queue = entryFor(entries, "DRIVER " NVLOGO_CUPS_QUEUE);
    QCOMPARE(queue.value("source").toString(), QStringLiteral("cups"));
    QCOMPARE(queue.value("kind").toString(), QStringLiteral("DRIVER"));

    // The file as written feeds a download to every printer in it. Other tests may add queues
    // of their own to the shared print server for a moment: this test's printers are checked.
    QFile file(targets);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#'))
            lines << QString::fromUtf8(line);
    }
    const QStringList mine = {"DRIVER " NVLOGO_CUPS_QUEUE,
                              "ETHERNET " + kitchen.ip(),
                              "ETHERNET " + counter.ip(),
                              "ETHERNET " + bar.ip(),
                              "ETHERNET " + raw.ip()};
    for (const QString &line : mine)
        QVERIFY2(lines.contains(line), qPrintable(lines.join(QLatin1Char('\n'))));
    QImage logo(64, 16, QImage::Format_Mono);
    logo.fill(1);
    const QString picture = QDir(m_dir.path()).filePath(QStringLiteral("logo.bmp"));
    QVERIFY(logo.save(picture, "BMP"));
    const CliRun download = runCli({"download", "--targets", targets, "--json", picture});
    const QJsonArray rows = QJsonDocument::fromJson(download.out).array();
    QVERIFY2(rows.size() == lines.size(), transcript(download).constData());
    int delivered = 0;
    for (const QJsonValue &row : rows) {
        const QString target = row.toObject().value("target").toString();
        if (target == "queue \"" NVLOGO_CUPS_QUEUE "\"" || target.startsWith("127.0.0.")
            || target.startsWith(QString::fromLatin1(AnnouncedAddress))) {
            QVERIFY2(row.toObject().value("ok").toBool(), transcript(download).constData());
            ++delivered;
        }
    }
    QCOMPARE(delivered, mine.size());
    for (const ScriptedPeer *peer : {&kitchen, &counter, &bar, &raw})
        QVERIFY2(peer->received().contains("\x1b\x40\x1c\x71"), qPrintable(peer->ip()));
}

QTEST_GUILESS_MAIN(tst_CliFind)
#include "tst_cli_find.moc"
