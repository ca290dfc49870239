// What the discovery makes of what it reads: scan ranges, IEEE 1284 device IDs, device URIs,
// a made-up device tree with pseudo-terminals behind its serial ports, and the private print
// server's queue.

#include <printer/discovery.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using Printer::ScanRange;

namespace {

quint32 v4(int a, int b, int c, int d)
{
    return quint32(a) << 24 | quint32(b) << 16 | quint32(c) << 8 | quint32(d);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool makeLink(const QString &target, const QString &link)
{
    QDir().mkpath(QFileInfo(link).path());
    return QFile::link(target, link);
}

// A pseudo-terminal: the master end and the slave's path.
struct Pty
{
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            qFatal("no pseudo-terminal");
        path = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() { ::close(master); }
    int master = -1;
    QString path;
};

} // namespace

class tst_Discovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scanRanges_data();
    void scanRanges();
    void refusedScanRanges_data();
    void refusedScanRanges();
    void addressesOfARun_data();
    void addressesOfARun();
    void deviceIds_data();
    void deviceIds();
    void targetBehindQueues_data();
    void targetBehindQueues();
    void serialPortsWithADeviceBehind();
    void usbPrintersWithTheirIds();
    void queuesOfThePrintServer();
};

void tst_Discovery::scanRanges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<quint32>("first");
    QTest::addColumn<quint32>("last");
    QTest::addColumn<int>("port");

    QTest::newRow("a /24 without its network and broadcast address")
            << "192.168.1.0/24"
            << "" << v4(192, 168, 1, 1) << v4(192, 168, 1, 254) << 9100;
    QTest::newRow("a host's own address with its prefix")
            << "192.168.1.77/24"
            << "" << v4(192, 168, 1, 1) << v4(192, 168, 1, 254) << 9100;
    QTest::newRow("/20 is the largest network")
            << "10.0.16.0/20"
            << "" << v4(10, 0, 16, 1) << v4(10, 0, 31, 254) << 9100;
    QTest::newRow("/31 keeps both") << "10.0.0.4/31"
                                    << "" << v4(10, 0, 0, 4) << v4(10, 0, 0, 5) << 9100;
    QTest::newRow("/32 is one") << "10.0.0.9/32"
                                << "" << v4(10, 0, 0, 9) << v4(10, 0, 0, 9) << 9100;
    QTest::newRow("a network with a port") << "127.0.0.0/30:9101"
                                           << "" << v4(127, 0, 0, 1) << v4(127, 0, 0, 2) << 9101;
    QTest::newRow("a span") << "10.0.0.5-10.0.0.40"
                            << "" << v4(10, 0, 0, 5) << v4(10, 0, 0, 40) << 9100;
    QTest::newRow("a span over a /24 border") << "10.0.0.250-10.0.1.3"
                                              << "" << v4(10, 0, 0, 250) << v4(10, 0, 1, 3) << 9100;
    QTest::newRow("a span to a last number") << "10.0.0.5-40:9102"
                                             << "" << v4(10, 0, 0, 5) << v4(10, 0, 0, 40) << 9102;
    QTest::newRow("4096 addresses") << "10.0.0.0-10.0.15.255"
                                    << "" << v4(10, 0, 0, 0) << v4(10, 0, 15, 255) << 9100;
    QTest::newRow("one address") << "127.0.0.1"
                                 << "" << v4(127, 0, 0, 1) << v4(127, 0, 0, 1) << 9100;
    QTest::newRow("one address and port") << "127.0.0.1:65535"
                                          << "" << v4(127, 0, 0, 1) << v4(127, 0, 0, 1) << 65535;
    QTest::newRow("a host") << "printer.local"
                            << "printer.local" << 0u << 0u << 9100;
    QTest::newRow("a host and port") << "shop-till-2:9101"
                                     << "shop-till-2" << 0u << 0u << 9101;
    QTest::newRow("IPv6 bare, in its one spelling") << "fd00:0::10"
                                                    << "fd00::10" << 0u << 0u << 9100;
    QTest::newRow("IPv6 in brackets with a port") << "[::1]:9101"
                                                  << "::1" << 0u << 0u << 9101;
    QTest::newRow("IPv6 link-local with its interface") << "[fe80::1%eth0]"
                                                        << "fe80::1%eth0" << 0u << 0u << 9100;
}

void tst_Discovery::scanRanges()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(quint32, first);
    QFETCH(quint32, last);
    QFETCH(int, port);
    const auto range = Printer::parseScanRange(text);
    QVERIFY2(range.ok(), qPrintable(range.failure().reason));
    QCOMPARE(range.value().host, host);
    QCOMPARE(range.value().first, first);
    QCOMPARE(range.value().last, last);
    QCOMPARE(int(range.value().port), port);
    QCOMPARE(range.value().count(), host.isEmpty() ? qint64(last) - first + 1 : 1);
}

void tst_Discovery::refusedScanRanges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << ""
                           << "is no address";
    QTest::newRow("/19 is too large") << "10.0.0.0/19"
                                      << "names 8190 addresses; at most 4096";
    QTest::newRow("/8 is far too large") << "10.0.0.0/8"
                                         << "names 16777216 addresses";
    QTest::newRow("4097 addresses") << "10.0.0.0-10.0.16.0"
                                    << "names 4097 addresses";
    QTest::newRow("/33") << "10.0.0.0/33"
                         << "is no network";
    QTest::newRow("a prefix that is no number") << "10.0.0.0/x"
                                                << "is no network";
    QTest::newRow("backwards") << "10.0.0.40-10.0.0.5"
                               << "ends before it starts";
    QTest::newRow("backwards to a last number") << "10.0.0.40-5"
                                                << "ends before it starts";
    QTest::newRow("a last number above 255") << "10.0.0.5-256"
                                             << "is no address range";
    QTest::newRow("an octet above 255") << "10.0.0.256"
                                        << "is no IPv4 address";
    QTest::newRow("three octets") << "10.0.1"
                                  << "is no IPv4 address";
    QTest::newRow("a leading zero") << "10.0.0.010"
                                    << "is no IPv4 address";
    QTest::newRow("multicast") << "224.0.0.251"
                               << "multicast";
    QTest::newRow("a span into multicast") << "223.255.255.250-224.0.0.2"
                                           << "multicast";
    QTest::newRow("broadcast") << "255.255.255.255"
                               << "multicast or reserved";
    QTest::newRow("this network") << "0.0.0.0/24"
                                  << "names no host";
    QTest::newRow("port 0") << "10.0.0.5:0"
                            << "is no address";
    QTest::newRow("port 65536") << "10.0.0.5:65536"
                                << "is no address";
    QTest::newRow("an empty port") << "printer:"
                                   << "is no address";
    QTest::newRow("no IPv6 address") << "[fe80::zz]:9100"
                                     << "is no IPv6 address";
    QTest::newRow("an empty interface") << "fe80::1%"
                                        << "is no IPv6 address";
    QTest::newRow("IPv6 multicast") << "ff02::1"
                                    << "multicast";
    QTest::newRow("a host with a blank") << "shop printer"
                                         << "is no address";
    QTest::newRow("a host with an underscore") << "shop_printer"
                                               << "is no host name";
    QTest::newRow("a URL") << "http://10.0.0.5/"
                           << "is no";
}

void tst_Discovery::refusedScanRanges()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    const auto range = Printer::parseScanRange(text);
    QVERIFY(!range.ok());
    QCOMPARE(range.failure().kind, Printer::FailureKind::Invalid);
    QVERIFY2(range.failure().reason.contains(reason), qPrintable(range.failure().reason));
}

void tst_Discovery::addressesOfARun_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("ok");
    QTest::newRow("none") << QStringList{} << true;
    QTest::newRow("4096 in three ranges")
            << QStringList{"10.0.0.0-10.0.7.255", "10.0.8.0-10.0.15.254", "printer"} << true;
    QTest::newRow("4097 in two ranges")
            << QStringList{"10.0.0.0-10.0.7.255", "10.1.0.0-10.1.8.0"} << false;
    QTest::newRow("one wrong among right ones")
            << QStringList{"10.0.0.5", "10.0.0.0/33", "printer"} << false;
}

void tst_Discovery::addressesOfARun()
{
    QFETCH(QStringList, texts);
    QFETCH(bool, ok);
    const auto ranges = Printer::parseScanRanges(texts);
    QCOMPARE(ranges.ok(), ok);
    if (ok)
        QCOMPARE(ranges.value().size(), texts.size());
}

void tst_Discovery::deviceIds_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QString>("maker");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("makeAndModel");
    QTest::addColumn<int>("fields");

    // The forms receipt printers give, with the makers' names replaced.
    QTest::newRow("short keys, as most give them")
            << QByteArray("MFG:Acme;CMD:ESC/POS;MDL:TR-80 II;CLS:PRINTER;DES:Acme TR-80 II "
                          "Receipt;")
            << "Acme"
            << "TR-80 II"
            << "ESC/POS"
            << ""
            << "Acme TR-80 II" << 5;
    QTest::newRow("long keys and a serial number")
            << QByteArray("MANUFACTURER:Acme;COMMAND SET:ESC/POS,PJL;MODEL:TR-58;"
                          "SERIALNUMBER:X4KQ012345;CLASS:PRINTER")
            << "Acme"
            << "TR-58"
            << "ESC/POS,PJL"
            << "X4KQ012345"
            << "Acme TR-58" << 5;
    QTest::newRow("a model that names the maker")
            << QByteArray("MFG:Acme;MDL:Acme TR-80;CMD:ESC/POS;") << "Acme"
            << "Acme TR-80"
            << "ESC/POS"
            << ""
            << "Acme TR-80" << 3;
    QTest::newRow("blanks, lower case, a colon in a value")
            << QByteArray(" mfg : Borealis ; mdl: BP-3 ; des: Thermal: 80 mm ;SN:77;") << "Borealis"
            << "BP-3"
            << ""
            << "77"
            << "Borealis BP-3" << 4;
    QTest::newRow("only a description") << QByteArray("CLS:PRINTER;DES:Generic 80mm;") << ""
                                        << ""
                                        << ""
                                        << ""
                                        << "Generic 80mm" << 2;
    QTest::newRow("the first of a key twice wins")
            << QByteArray("MDL:TR-80;MDL:other;SERN:9;") << ""
            << "TR-80"
            << ""
            << "9"
            << "TR-80" << 3;
    QTest::newRow("pieces without a colon, and the end at NUL")
            << QByteArray("garbage;MFG:Acme;;:nokey;MDL:TR-80\0MFG:after", 44) << "Acme"
            << "TR-80"
            << ""
            << ""
            << "Acme TR-80" << 2;
    QTest::newRow("Latin-1 bytes") << QByteArray("MFG:M\xfcller;MDL:K\xe4sse 1;") << "Müller"
                                   << "Kässe 1"
                                   << ""
                                   << ""
                                   << "Müller Kässe 1" << 2;
    QTest::newRow("nothing") << QByteArray() << ""
                             << ""
                             << ""
                             << ""
                             << "" << 0;
}

void tst_Discovery::deviceIds()
{
    QFETCH(QByteArray, id);
    const Printer::DeviceId parsed = Printer::parseDeviceId(id);
    QTEST(parsed.manufacturer, "maker");
    QTEST(parsed.model, "model");
    QTEST(parsed.commandSet, "commands");
    QTEST(parsed.serialNumber, "serial");
    QTEST(parsed.makeAndModel(), "makeAndModel");
    QTEST(int(parsed.fields.size()), "fields");
}

void tst_Discovery::targetBehindQueues_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("line"); // empty: none
    QTest::newRow("socket with a port") << "socket://10.0.0.5:9101"
                                        << "ETHERNET 10.0.0.5:9101";
    QTest::newRow("socket without one") << "socket://10.0.0.5"
                                        << "ETHERNET 10.0.0.5:9100";
    QTest::newRow("socket with options") << "socket://printer.lan:9100?waiteof=false"
                                         << "ETHERNET printer.lan:9100";
    QTest::newRow("socket in capitals") << "SOCKET://10.0.0.5"
                                        << "ETHERNET 10.0.0.5:9100";
    QTest::newRow("socket to IPv6") << "socket://[fd00::5]:9100"
                                    << "ETHERNET [fd00::5]:9100";
    QTest::newRow("ipp") << "ipp://10.0.0.5/ipp/print"
                         << "";
    QTest::newRow("usb") << "usb://Acme/TR-80?serial=1"
                         << "";
    QTest::newRow("socket without a host") << "socket://"
                                           << "";
    QTest::newRow("the test server's backend") << "capture:/tmp/jobs"
                                               << "";
}

void tst_Discovery::targetBehindQueues()
{
    QFETCH(QString, uri);
    QFETCH(QString, line);
    const auto target = Printer::targetBehindUri(uri);
    QCOMPARE(target ? target->line() : QString(), line);
}

void tst_Discovery::serialPortsWithADeviceBehind()
{
    // Pseudo-terminals have no device in the system's tree, which is what the search looks
    // for: the tree here is made up, and its device nodes are pseudo-terminals.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString tty = root.filePath(QStringLiteral("sys/class/tty/"));
    const QString usb = root.filePath(QStringLiteral("sys/devices/usb1/1-1"));
    QVERIFY(writeFile(usb + QStringLiteral("/idVendor"), "1234\n"));
    QVERIFY(writeFile(usb + QStringLiteral("/manufacturer"), "Acme\n"));
    QVERIFY(writeFile(usb + QStringLiteral("/product"), "USB Serial\n"));
    QVERIFY(QDir().mkpath(usb + QStringLiteral("/1-1:1.0/ttyUSB0")));
    QVERIFY(makeLink(usb + QStringLiteral("/1-1:1.0"), tty + QStringLiteral("ttyUSB0/device")));
    QVERIFY(writeFile(tty + QStringLiteral("ttyS1/type"), "4\n")); // a 16550A
    QVERIFY(QDir().mkpath(tty + QStringLiteral("ttyS1/device")));
    QVERIFY(writeFile(tty + QStringLiteral("ttyS0/type"), "0\n")); // no UART found
    QVERIFY(QDir().mkpath(tty + QStringLiteral("ttyS0/device")));
    QVERIFY(QDir().mkpath(tty + QStringLiteral("tty1"))); // a console: no device
    QVERIFY(QDir().mkpath(tty + QStringLiteral("ttyACM0/device")));

    Pty held;
    Pty free;
    const int holding = ::open(QFile::encodeName(held.path).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(holding >= 0);
    const QString dev = root.filePath(QStringLiteral("dev"));
    QVERIFY(makeLink(held.path, dev + QStringLiteral("/ttyS1")));
    QVERIFY(makeLink(free.path, dev + QStringLiteral("/ttyS0")));
    QVERIFY(makeLink(free.path, dev + QStringLiteral("/ttyUSB0")));
    QVERIFY(makeLink(free.path, dev + QStringLiteral("/tty1")));
    QVERIFY(writeFile(dev + QStringLiteral("/ttyACM0"), "not a device"));

    const auto ports = Printer::serialPorts({dev, root.filePath(QStringLiteral("sys"))});
    ::close(holding);
    QCOMPARE(ports.size(), 2);
    QCOMPARE(ports.at(0).target.line(), QStringLiteral("COM:%1/ttyS1 19200").arg(dev));
    QCOMPARE(ports.at(0).access, Printer::Access::Busy);
    QVERIFY2(ports.at(0).note.contains(QStringLiteral("busy: tst_discovery (pid %1)")
                                               .arg(QCoreApplication::applicationPid())),
             qPrintable(ports.at(0).note));
    QCOMPARE(ports.at(1).target.line(), QStringLiteral("COM:%1/ttyUSB0 19200").arg(dev));
    QCOMPARE(ports.at(1).access, Printer::Access::Free);
    QVERIFY2(ports.at(1).note.startsWith(QLatin1String("USB serial adapter (Acme USB Serial)")),
             qPrintable(ports.at(1).note));
    for (const Printer::PrinterInfo &port : ports) {
        QCOMPARE(port.source, Printer::FoundBy::SerialPort);
        QVERIFY(!port.isPrinter);
    }
}

void tst_Discovery::usbPrintersWithTheirIds()
{
    // Regular files stand in for the devices: the driver's ID request fails on them, and the
    // ID comes from the device tree's copy, as for a device this user may not open.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString dev = root.filePath(QStringLiteral("dev"));
    const QString sys = root.filePath(QStringLiteral("sys"));
    for (const char *name : {"lp10", "lp2", "lp2.old", "lpx"})
        QVERIFY(writeFile(dev + QStringLiteral("/usb/") + QLatin1String(name), {}));
    QVERIFY(writeFile(sys + QStringLiteral("/class/usbmisc/lp2/device/ieee1284_id"),
                      "MFG:Acme;CMD:ESC/POS;MDL:TR-80;CLS:PRINTER;\n"));

    const auto printers = Printer::usbPrinters({dev, sys});
    QCOMPARE(printers.size(), 2);
    QCOMPARE(printers.at(0).target.line(), QStringLiteral("LPT:%1/usb/lp2").arg(dev));
    QCOMPARE(printers.at(0).model, QStringLiteral("Acme TR-80"));
    QCOMPARE(printers.at(0).deviceId.commandSet, QStringLiteral("ESC/POS"));
    QCOMPARE(printers.at(0).access, Printer::Access::Free);
    QCOMPARE(printers.at(1).target.line(), QStringLiteral("LPT:%1/usb/lp10").arg(dev));
    QVERIFY(printers.at(1).model.isEmpty());
    QVERIFY(printers.at(1).isPrinter);
}

void tst_Discovery::queuesOfThePrintServer()
{
    if (!qEnvironmentVariableIsSet("CUPS_SERVER"))
        QSKIP("run through ctest, fixture cupsd");
    const auto queues = Printer::printQueues();
    QVERIFY2(queues.ok(), qPrintable(queues.failure().reason));
    const auto found = std::find_if(
            queues.value().begin(), queues.value().end(), [](const Printer::PrinterInfo &info) {
                return info.target.line() == QLatin1String("DRIVER " NVLOGO_CUPS_QUEUE);
            });
    QVERIFY(found != queues.value().end());
    QCOMPARE(found->source, Printer::FoundBy::PrintQueue);
    QCOMPARE(found->origin, QStringLiteral("capture:" NVLOGO_CUPS_JOBDIR));
    QVERIFY(!found->behind);
    QVERIFY(found->model.isEmpty()); // a raw queue names no printer
}

QTEST_GUILESS_MAIN(tst_Discovery)
#include "tst_discovery.moc"
