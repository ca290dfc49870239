// How the library turns port texts into devices and addresses.
#include <printer/nvpos/portnames.h>

#include <QFileInfo>
#include <QTest>

using namespace Printer::NvPos;

class tst_PortNames : public QObject
{
    Q_OBJECT

private slots:
    void hostAndPort_data();
    void hostAndPort();
    void devices_data();
    void devices();
};

void tst_PortNames::hostAndPort_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("address") << QByteArray("192.168.123.100") << true
                             << QByteArray("192.168.123.100") << 9100;
    QTest::newRow("address and port")
            << QByteArray("10.0.0.7:4000") << true << QByteArray("10.0.0.7") << 4000;
    QTest::newRow("host name") << QByteArray("printer.local") << true << QByteArray("printer.local")
                               << 9100;
    QTest::newRow("host name and port")
            << QByteArray("printer:65535") << true << QByteArray("printer") << 65535;
    QTest::newRow("IPv6") << QByteArray("fe80::1") << true << QByteArray("fe80::1") << 9100;
    QTest::newRow("IPv6 in brackets") << QByteArray("[::1]") << true << QByteArray("::1") << 9100;
    QTest::newRow("IPv6 and port") << QByteArray("[::1]:9101") << true << QByteArray("::1") << 9101;
    QTest::newRow("empty") << QByteArray() << false << QByteArray() << 0;
    QTest::newRow("port only") << QByteArray(":9100") << false << QByteArray() << 0;
    QTest::newRow("empty port") << QByteArray("host:") << false << QByteArray() << 0;
    QTest::newRow("port 0") << QByteArray("host:0") << false << QByteArray() << 0;
    QTest::newRow("port 65536") << QByteArray("host:65536") << false << QByteArray() << 0;
    QTest::newRow("signed port") << QByteArray("host:+80") << false << QByteArray() << 0;
    QTest::newRow("text after bracket") << QByteArray("[::1]x") << false << QByteArray() << 0;
    QTest::newRow("empty brackets") << QByteArray("[]:80") << false << QByteArray() << 0;
}

void tst_PortNames::hostAndPort()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    const auto parsed = parseHostPort(text.toStdString());
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QTEST(QByteArray::fromStdString(parsed->host), "host");
        QTEST(int(parsed->port), "port");
    }
}

void tst_PortNames::devices_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("device"); // empty: names no device

    QTest::newRow("COM1") << true << QByteArray("COM1") << QByteArray("/dev/ttyS0");
    QTest::newRow("COM9") << true << QByteArray("COM9") << QByteArray("/dev/ttyS8");
    QTest::newRow("COM12") << true << QByteArray("COM12") << QByteArray("/dev/ttyS11");
    QTest::newRow("COM:path") << true << QByteArray("COM:/dev/ttyUSB0")
                              << QByteArray("/dev/ttyUSB0");
    QTest::newRow("COM0") << true << QByteArray("COM0") << QByteArray();
    QTest::newRow("COM") << true << QByteArray("COM") << QByteArray();
    QTest::newRow("COM:") << true << QByteArray("COM:") << QByteArray();
    QTest::newRow("COM1x") << true << QByteArray("COM1x") << QByteArray();
    QTest::newRow("COM-1") << true << QByteArray("COM-1") << QByteArray();
    QTest::newRow("lower case com1") << true << QByteArray("com1") << QByteArray();
    QTest::newRow("COM99999999999") << true << QByteArray("COM99999999999") << QByteArray();

    // /dev/lp<n-1> when it exists, else the USB printer class device.
    const QByteArray lp0
            = QFileInfo::exists(QStringLiteral("/dev/lp0")) ? "/dev/lp0" : "/dev/usb/lp0";
    const QByteArray lp2
            = QFileInfo::exists(QStringLiteral("/dev/lp2")) ? "/dev/lp2" : "/dev/usb/lp2";
    QTest::newRow("LPT1") << false << QByteArray("LPT1") << lp0;
    QTest::newRow("LPT3") << false << QByteArray("LPT3") << lp2;
    QTest::newRow("LPT:path") << false << QByteArray("LPT:/tmp/receipt.prn")
                              << QByteArray("/tmp/receipt.prn");
    QTest::newRow("LPT0") << false << QByteArray("LPT0") << QByteArray();
    QTest::newRow("LPT:") << false << QByteArray("LPT:") << QByteArray();
    QTest::newRow("COM1 as LPT") << false << QByteArray("COM1") << QByteArray();
}

void tst_PortNames::devices()
{
    QFETCH(bool, serial);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, device);
    const auto found
            = deviceOf(name.toStdString(), serial ? DeviceKind::Serial : DeviceKind::Parallel);
    QCOMPARE(found.has_value(), !device.isEmpty());
    if (found)
        QCOMPARE(QByteArray::fromStdString(*found), device);
}

QTEST_APPLESS_MAIN(tst_PortNames)
#include "tst_portnames.moc"
