// One printer, many spellings: the targets grammar, what it refuses, and which spellings name
// the same printer.

#include <printer/portconnection.h>
#include <printer/target.h>

#include <QTemporaryDir>
#include <QTest>

using Printer::PortKind;
using Printer::Target;

class tst_Target : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parses_data();
    void parses();
    void refuses_data();
    void refuses();
    void sameKeyForOnePrinter_data();
    void sameKeyForOnePrinter();
    void targetsFileReadsBackWhatItWrites();
    void windowSettingsKeepTheWindowsRules();
};

void tst_Target::parses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("baud");
    QTest::newRow("ethernet") << "ETHERNET 10.0.0.5" << int(PortKind::Ethernet)
                              << QByteArray("10.0.0.5") << 0;
    QTest::newRow("lower case, colon form")
            << "ethernet:[::1]:9101" << int(PortKind::Ethernet) << QByteArray("[::1]:9101") << 0;
    QTest::newRow("numbered serial, default speed")
            << "com3" << int(PortKind::Serial) << QByteArray("COM3") << 19200;
    QTest::newRow("serial path with speed") << "COM:/dev/ttyUSB0 115200" << int(PortKind::Serial)
                                            << QByteArray("COM:/dev/ttyUSB0") << 115200;
    QTest::newRow("parallel path keeps its case")
            << "lpt:/tmp/Out.bin" << int(PortKind::Parallel) << QByteArray("LPT:/tmp/Out.bin") << 0;
    QTest::newRow("queue") << "DRIVER receipt_raw" << int(PortKind::Driver)
                           << QByteArray("receipt_raw") << 0;
}

void tst_Target::parses()
{
    QFETCH(QString, text);
    QFETCH(int, kind);
    QFETCH(QByteArray, name);
    QFETCH(int, baud);
    const auto target = Target::parse(text);
    QVERIFY2(target.ok(), qPrintable(target.failure().reason));
    QCOMPARE(int(target.value().kind()), kind);
    QCOMPARE(target.value().name(), name);
    QCOMPARE(target.value().baud(), baud);
    // Its line reads back as the same printer.
    QCOMPARE(Target::parse(target.value().line()).value(), target.value());
}

void tst_Target::refuses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("why");
    QTest::newRow("nothing") << "   "
                             << "no printer";
    QTest::newRow("no address") << "ETHERNET"
                                << "needs host";
    QTest::newRow("port out of range") << "ETHERNET 10.0.0.1:65536"
                                       << "port 1 to 65535";
    QTest::newRow("signed port") << "ETHERNET 10.0.0.1:+80"
                                 << "port 1 to 65535";
    QTest::newRow("a word too many") << "LPT1 19200"
                                     << "not understood";
    QTest::newRow("odd speed") << "COM1 12345"
                               << "baud rate";
    QTest::newRow("unknown kind") << "USB001"
                                  << "unknown printer";
    QTest::newRow("a prefix alone") << "ETHx 10.0.0.1"
                                    << "unknown printer";
    QTest::newRow("empty path") << "COM:"
                                << "unknown printer";
    QTest::newRow("NUL byte") << QStringLiteral("LPT:/tmp/a") + QChar(0) + QStringLiteral("b")
                              << "control characters";
}

void tst_Target::refuses()
{
    QFETCH(QString, text);
    QFETCH(QString, why);
    const auto target = Target::parse(text);
    QVERIFY(!target.ok());
    QCOMPARE(target.failure().kind, Printer::FailureKind::Invalid);
    QVERIFY2(target.failure().reason.contains(why), qPrintable(target.failure().reason));
}

void tst_Target::sameKeyForOnePrinter_data()
{
    QTest::addColumn<QString>("one");
    QTest::addColumn<QString>("other");
    QTest::addColumn<bool>("same");
    QTest::newRow("leading zero in the port") << "ETHERNET 127.0.0.1:9100"
                                              << "ETHERNET 127.0.0.1:09100" << true;
    QTest::newRow("default port") << "ETHERNET ::1"
                                  << "ETHERNET [::1]:9100" << true;
    QTest::newRow("v6 spelled out") << "ETHERNET [::1]"
                                    << "ETHERNET [0:0:0:0:0:0:0:1]:9100" << true;
    QTest::newRow("host name case") << "ETHERNET LOCALHOST"
                                    << "ETHERNET localhost" << true;
    QTest::newRow("double slash") << "LPT:out/x.bin"
                                  << "LPT:out//x.bin" << true;
    QTest::newRow("numbered serial port") << "COM1"
                                          << "COM:/dev/ttyS0" << true;
    QTest::newRow("queue name case") << "DRIVER Receipt"
                                     << "DRIVER receipt" << true;
    QTest::newRow("another port") << "ETHERNET 127.0.0.1:9100"
                                  << "ETHERNET 127.0.0.1:9101" << false;
    QTest::newRow("another device") << "COM1"
                                    << "COM2" << false;
}

void tst_Target::sameKeyForOnePrinter()
{
    QFETCH(QString, one);
    QFETCH(QString, other);
    QFETCH(bool, same);
    const Target a = Target::parse(one).value();
    const Target b = Target::parse(other).value();
    QCOMPARE(a.key() == b.key(), same);
    QCOMPARE(Printer::findTwice({a, b}) != nullptr, same);
}

void tst_Target::targetsFileReadsBackWhatItWrites()
{
    const QList<Target> targets = {Target::parse(QStringLiteral("ETHERNET 10.0.0.5:9101")).value(),
                                   Target::parse(QStringLiteral("COM2 9600")).value(),
                                   Target::parse(QStringLiteral("DRIVER receipt")).value()};
    const auto read = Printer::parseTargets("# the shop\n\n" + Printer::targetsText(targets),
                                            QStringLiteral("shop.txt"));
    QVERIFY(read.ok());
    QCOMPARE(read.value(), targets);
    // A wrong line names the file and the line; a NUL byte does not cut a line short.
    const auto broken = Printer::parseTargets(QByteArray("LPT1\nLPT:/tmp/a\0b\n", 16),
                                              QStringLiteral("shop.txt"));
    QVERIFY(!broken.ok());
    QVERIFY2(broken.failure().reason.startsWith(QLatin1String("shop.txt:2:")),
             qPrintable(broken.failure().reason));
    QTemporaryDir dir;
    QVERIFY(!Printer::readTargetsFile(dir.path()).ok()); // a folder is no targets file
}

void tst_Target::windowSettingsKeepTheWindowsRules()
{
    // The window passes what it has: the address trimmed of spaces only, a typed port as it is.
    const Target ethernet = Target::fromWindowSettings(
            {QStringLiteral("ETHx"), QStringLiteral(" 10.0.0.1:9101\t "), {}, {}});
    QCOMPARE(ethernet.kind(), PortKind::Ethernet);
    QCOMPARE(ethernet.name(), QByteArray("10.0.0.1:9101\t"));
    const Target typed = Target::fromWindowSettings(
            {QStringLiteral("COM12"), {}, {}, QStringLiteral("115200")});
    QCOMPARE(typed.name(), QByteArray("COM12"));
    QCOMPARE(typed.baud(), 115200);
    QCOMPARE(Target::fromWindowSettings({QStringLiteral("com1"), {}, {}, {}}).kind(),
             PortKind::Unknown);
    QVERIFY_THROWS_EXCEPTION(Printer::ConversionError,
                             Target::fromWindowSettings({QStringLiteral("COM1"), {}, {}, {}}));
}

QTEST_GUILESS_MAIN(tst_Target)
#include "tst_target.moc"
