// Serial connections over a pty pair. Built three times: with a QApplication (the program's
// GUI thread), with a QCoreApplication, and with no application object at all.
#include "peers.h"

#include <printer/nvpos/nvpos.h>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <thread>

#include <unistd.h>

using namespace NvPosTest;

class tst_Serial : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void bytesArriveUnchanged_data();
    void bytesArriveUnchanged();
    void usableFromAnotherThread();
    void badSettingsFail_data();
    void badSettingsFail();
    void stalledLineTimesOut_data();
    void stalledLineTimesOut();
    void slowLineHitsTheLineTimeBound();
};

void tst_Serial::init()
{
#if defined(NVPOS_TEST_GUI)
    QVERIFY(QCoreApplication::instance()->inherits("QApplication"));
#elif defined(NVPOS_TEST_CORE)
    QVERIFY(QCoreApplication::instance());
#else
    QVERIFY(!QCoreApplication::instance());
#endif
#if defined(NVPOS_TEST_GUI) || defined(NVPOS_TEST_CORE)
    // With an application object, the library must leave Qt's event machinery alone.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QSocketNotifier|QObject")));
#endif
}

void tst_Serial::cleanup()
{
    qunsetenv("NVPOS_WRITE_TIMEOUT_MS");
    qunsetenv("NVPOS_SERIAL_FLOW");
    while (POS_Close() != NVPOS_ERR_NO_CONNECTION) {
    }
}

void tst_Serial::bytesArriveUnchanged_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<QByteArray>("flow");
    QTest::addColumn<QByteArray>("payload");

    for (const int baud : {9600, 115200}) {
        for (const char *flow : {"", "none"}) {
            const char *flowName = *flow ? flow : "hardware";
            QTest::addRow("%d baud, %s flow, every byte value", baud, flowName)
                    << baud << QByteArray(flow) << allByteValues();
            QTest::addRow("%d baud, %s flow, 300 KB", baud, flowName)
                    << baud << QByteArray(flow) << pattern(300 * 1024);
        }
    }
}

void tst_Serial::bytesArriveUnchanged()
{
    QFETCH(int, baud);
    QFETCH(QByteArray, flow);
    QFETCH(QByteArray, payload);
    if (!flow.isEmpty())
        qputenv("NVPOS_SERIAL_FLOW", flow);
    PtyPair pty;
    pty.collect(payload.size());

    const std::int32_t handle
            = POS_Open(pty.portName().constData(), baud, 8, 0, 0, NVPOS_MODE_SERIAL);
    QVERIFY(handle > 0);
    QCOMPARE(POS_WriteFile(handle, payload.constData(), payload.size()), payload.size());
    QCOMPARE(POS_Close(), NVPOS_OK);
    QVERIFY(pty.received() == payload);
}

void tst_Serial::usableFromAnotherThread()
{
    PtyPair pty;
    const QByteArray first = allByteValues();
    const QByteArray second = pattern(64 * 1024);
    pty.collect(first.size() + second.size());

    const std::int32_t handle
            = POS_Open(pty.portName().constData(), 115200, 8, 0, 0, NVPOS_MODE_SERIAL);
    QVERIFY(handle > 0);
    std::int32_t written = 0;
    std::thread([&] { written = POS_WriteFile(handle, first.constData(), first.size()); }).join();
    QCOMPARE(written, first.size());
    QCOMPARE(POS_WriteFile(handle, second.constData(), second.size()), second.size());
    QCOMPARE(POS_Close(), NVPOS_OK);
    QVERIFY(pty.received() == first + second);
}

void tst_Serial::badSettingsFail_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("no baud rate") << 0 << 8 << 0 << 0;
    QTest::newRow("negative baud rate") << -9600 << 8 << 0 << 0;
    QTest::newRow("9 data bits") << 9600 << 9 << 0 << 0;
    QTest::newRow("4 data bits") << 9600 << 4 << 0 << 0;
    QTest::newRow("parity 3") << 9600 << 8 << 3 << 0;
    QTest::newRow("3 stop bits") << 9600 << 8 << 0 << 3;
}

void tst_Serial::badSettingsFail()
{
    QFETCH(int, baud);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    PtyPair pty;
    QCOMPARE(POS_Open(pty.portName().constData(),
                      baud,
                      dataBits,
                      parity,
                      stopBits,
                      NVPOS_MODE_SERIAL),
             NVPOS_ERR_OPEN);
}

void tst_Serial::stalledLineTimesOut_data()
{
    QTest::addColumn<int>("readFirst");
    QTest::newRow("nobody reads") << 0;
    QTest::newRow("the reader stops after 8 KB") << 8 * 1024;
}

void tst_Serial::stalledLineTimesOut()
{
    QFETCH(int, readFirst);
    qputenv("NVPOS_WRITE_TIMEOUT_MS", "300");
    PtyPair pty; // the pty's buffer fills and the line stops
    if (readFirst > 0)
        pty.collect(readFirst);
    const std::int32_t handle
            = POS_Open(pty.portName().constData(), 115200, 8, 0, 0, NVPOS_MODE_SERIAL);
    QVERIFY(handle > 0);
    const QByteArray payload = pattern(1024 * 1024);
    QCOMPARE(POS_WriteFile(handle, payload.constData(), payload.size()), NVPOS_ERR_TIMEOUT);
    char reason[256] = {};
    NVPOS_LastError(reason, sizeof reason);
    const QByteArray said(reason);
    QVERIFY2(said.startsWith("The printer on " + pty.portName().mid(4)
                             + " took no data for 300 ms; ")
                     && said.endsWith(" of 1048576 bytes left the port"),
             reason);
    QCOMPARE(POS_Close(), NVPOS_OK);
    if (readFirst > 0)
        QVERIFY(pty.received().size() >= readFirst);
}

void tst_Serial::slowLineHitsTheLineTimeBound()
{
    // 300 KB at 4 Mbaud may take 2 * 0.75 s + 1 s in all. The reader takes 4 KB every
    // 100 ms, well within the no-progress time but far too slow for the whole: only the
    // bound derived from the byte count and the baud rate can end this write.
    qputenv("NVPOS_WRITE_TIMEOUT_MS", "1000");
    PtyPair pty;
    std::atomic<bool> stop{false};
    std::atomic<qsizetype> taken{0};
    std::thread reader([&] {
        char buffer[4096];
        while (!stop) {
            const ssize_t got = ::read(pty.leader(), buffer, sizeof buffer);
            if (got > 0)
                taken += got;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const std::int32_t handle
            = POS_Open(pty.portName().constData(), 4000000, 8, 0, 0, NVPOS_MODE_SERIAL);
    const QByteArray payload = pattern(300 * 1024);
    const std::int32_t result
            = handle > 0 ? POS_WriteFile(handle, payload.constData(), payload.size()) : handle;
    stop = true;
    reader.join();
    QVERIFY(handle > 0);
    QCOMPARE(result, NVPOS_ERR_TIMEOUT);
    QVERIFY(taken < payload.size());
    QCOMPARE(POS_Close(), NVPOS_OK);
}

#if defined(NVPOS_TEST_GUI)
QTEST_MAIN(tst_Serial)
#elif defined(NVPOS_TEST_CORE)
QTEST_GUILESS_MAIN(tst_Serial)
#else
QTEST_APPLESS_MAIN(tst_Serial)
#endif
#include "tst_serial.moc"
