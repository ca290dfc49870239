#include <tests/support/recordinglibrary.h>

#include <printer/portconnection.h>
#include <printer/poslibrary.h>

#include <QElapsedTimer>
#include <QTest>

using Printer::PortSettings;

class tst_OpenPort : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensWithTheArgumentsOfEachKind_data();
    void opensWithTheArgumentsOfEachKind();
    void passesTheHandleOnUnchanged_data();
    void passesTheHandleOnUnchanged();
    void badBaudTextFailsBeforeAnyCall();
    void closeReturnsTheLibraryResult();
    void missingLibraryFailsClearly();
    void missingEntryPointFailsClearly();
    void optionalEntryPoints_data();
    void optionalEntryPoints();
    void unknownKindNeedsNoLibrary();

private:
    RecordingLibrary m_rec{QStringLiteral(RECORDING_POS_LIBRARY)};
};

void tst_OpenPort::opensWithTheArgumentsOfEachKind_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("printer");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("expectedCall"); // empty: no call at all

    QTest::newRow("ethernet trims spaces") << "ETHERNET"
                                           << "  192.168.1.5   "
                                           << "Receipt"
                                           << "19200"
                                           << R"(POS_Open("192.168.1.5",0,0,0,0,21))";
    QTest::newRow("ethernet keeps inner text and tabs")
            << "ETHERNET"
            << "\t10.0.0.1:9101 "
            << ""
            << "19200"
            << "POS_Open(\"\t10.0.0.1:9101\",0,0,0,0,21)";
    QTest::newRow("ETH alone") << "ETH"
                               << "10.1.1.1"
                               << ""
                               << "9600"
                               << R"(POS_Open("10.1.1.1",0,0,0,0,21))";
    QTest::newRow("anything after ETH") << "ETHx"
                                        << "10.1.1.2"
                                        << ""
                                        << "9600"
                                        << R"(POS_Open("10.1.1.2",0,0,0,0,21))";
    QTest::newRow("serial") << "COM3"
                            << "10.0.0.1"
                            << ""
                            << "115200"
                            << R"(POS_Open("COM3",115200,8,0,0,1))";
    QTest::newRow("typed serial port") << "COM12"
                                       << ""
                                       << ""
                                       << "19200"
                                       << R"(POS_Open("COM12",19200,8,0,0,1))";
    QTest::newRow("serial device path") << "COM:/dev/ttyUSB0"
                                        << ""
                                        << ""
                                        << "9600"
                                        << R"(POS_Open("COM:/dev/ttyUSB0",9600,8,0,0,1))";
    QTest::newRow("parallel") << "LPT1"
                              << "10.0.0.1"
                              << "x"
                              << "9600"
                              << R"(POS_Open("LPT1",0,0,0,0,18))";
    QTest::newRow("typed parallel port") << "LPT9"
                                         << ""
                                         << ""
                                         << "9600"
                                         << R"(POS_Open("LPT9",0,0,0,0,18))";
    QTest::newRow("driver") << "DRIVER"
                            << "10.0.0.1"
                            << "Receipt Printer"
                            << "38400"
                            << R"(POS_Open("Receipt Printer",0,0,0,0,20))";
    QTest::newRow("driver without printers") << "DRIVER"
                                             << "10.0.0.1"
                                             << ""
                                             << "38400"
                                             << R"(POS_Open("",0,0,0,0,20))";
    QTest::newRow("non-ASCII printer name") << "DRIVER"
                                            << ""
                                            << "Kasse Küche"
                                            << "9600"
                                            << R"(POS_Open("Kasse Küche",0,0,0,0,20))";
    QTest::newRow("lower case") << "com1"
                                << ""
                                << ""
                                << "9600"
                                << "";
    QTest::newRow("mixed case") << "Ethernet"
                                << "10.0.0.1"
                                << ""
                                << "9600"
                                << "";
    QTest::newRow("other kind") << "USB"
                                << ""
                                << ""
                                << "9600"
                                << "";
    QTest::newRow("empty") << ""
                           << "10.0.0.1"
                           << ""
                           << "9600"
                           << "";
    QTest::newRow("leading blank") << " COM1"
                                   << ""
                                   << ""
                                   << "9600"
                                   << "";
}

void tst_OpenPort::opensWithTheArgumentsOfEachKind()
{
    QFETCH(QString, port);
    QFETCH(QString, ip);
    QFETCH(QString, printer);
    QFETCH(QString, baud);
    QFETCH(QString, expectedCall);

    m_rec.reset();
    m_rec.setOpenResult(5);
    QElapsedTimer timer;
    timer.start();
    const std::int32_t handle
            = Printer::OpenPort(m_rec.library, PortSettings{port, ip, printer, baud});
    const qint64 elapsed = timer.elapsed();

    if (expectedCall.isEmpty()) {
        QCOMPARE(m_rec.calls(), QStringList());
        QCOMPARE(handle, 0);
    } else {
        QCOMPARE(m_rec.calls(), QStringList{expectedCall});
        QCOMPARE(handle, 5);
    }
    // The printer gets its pause after every attempt, also when nothing was opened.
    QVERIFY2(elapsed >= 100, qPrintable(QString::number(elapsed)));
}

void tst_OpenPort::passesTheHandleOnUnchanged_data()
{
    QTest::addColumn<std::int32_t>("openResult");
    QTest::newRow("failure") << -1;
    QTest::newRow("zero") << 0;
    QTest::newRow("other negative") << -7;
    QTest::newRow("small") << 3;
    QTest::newRow("largest") << std::int32_t(2147483647);
}

void tst_OpenPort::passesTheHandleOnUnchanged()
{
    QFETCH(std::int32_t, openResult);
    for (const char *port : {"ETHERNET", "COM1", "LPT2", "DRIVER"}) {
        m_rec.reset();
        m_rec.setOpenResult(openResult);
        const PortSettings settings{QLatin1String(port),
                                    QStringLiteral("10.0.0.9"),
                                    QStringLiteral("P"),
                                    QStringLiteral("9600")};
        QCOMPARE(Printer::OpenPort(m_rec.library, settings), openResult);
    }
}

void tst_OpenPort::badBaudTextFailsBeforeAnyCall()
{
    for (const char *baud : {"", "fast", "19200x", "99999999999"}) {
        m_rec.reset();
        const PortSettings settings{
                QStringLiteral("COM1"), QString(), QString(), QLatin1String(baud)};
        QVERIFY_THROWS_EXCEPTION(Printer::ConversionError,
                                 Printer::OpenPort(m_rec.library, settings));
        QCOMPARE(m_rec.calls(), QStringList());
    }
}

void tst_OpenPort::closeReturnsTheLibraryResult()
{
    m_rec.reset();
    // The handle names the connection: another one open in the process is left alone.
    QCOMPARE(Printer::ClosePort(m_rec.library, 7), 0);
    QCOMPARE(m_rec.calls(), QStringList{QStringLiteral("NVPOS_Close(7)")});
}

void tst_OpenPort::missingLibraryFailsClearly()
{
    Printer::PosLibrary missing(QStringLiteral("/nonexistent/folder/libnvpos.so"));
    try {
        Printer::OpenPort(missing,
                          {QStringLiteral("ETHERNET"), QStringLiteral("10.0.0.1"), {}, {}});
        QFAIL("opening through a missing library succeeded");
    } catch (const Printer::PrinterLibraryError &error) {
        QVERIFY2(QString::fromUtf8(error.what()).contains(QLatin1String("/nonexistent/folder")),
                 error.what());
    }
}

void tst_OpenPort::missingEntryPointFailsClearly()
{
    Printer::PosLibrary partial(QStringLiteral(RECORDING_POS_NOSTARTDOC_LIBRARY));
    QCOMPARE(partial.POS_Close(), 0); // the entry points that exist still work
    try {
        partial.POS_StartDoc();
        QFAIL("a missing entry point was called");
    } catch (const Printer::PrinterLibraryError &error) {
        QVERIFY2(QString::fromUtf8(error.what()).contains(QLatin1String("POS_StartDoc")),
                 error.what());
    }
}

void tst_OpenPort::optionalEntryPoints_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<bool>("hasThem");
    QTest::newRow("a library without them") << QStringLiteral(RECORDING_POS_V1_LIBRARY) << false;
    QTest::newRow("the printer library") << QStringLiteral(NVPOS_LIBRARY) << true;
}

void tst_OpenPort::optionalEntryPoints()
{
    QFETCH(QString, library);
    QFETCH(bool, hasThem);
    RecordingLibrary older{QStringLiteral(RECORDING_POS_V1_LIBRARY)};
    Printer::PosLibrary pos(library);
    const auto stopAtOnce = [](std::int64_t, std::int64_t, void *) -> std::int32_t {
        return 1;
    };
    QCOMPARE(pos.setProgressCallback(stopAtOnce, nullptr), hasThem);
    QCOMPARE(pos.setProgressCallback(nullptr, nullptr), hasThem);
    // The printer library refuses a handle it never issued, and tells why; the other has no
    // reasons to give, and its calls work all the same.
    pos.POS_WriteFile(987654, "x", 1);
    QCOMPARE(pos.lastErrorText(),
             hasThem ? QStringLiteral("No open connection has handle 987654") : QString());

    // The calls an older library lacks: reads fail and say why, and the calls without a handle
    // stand in for the handle-taking ones.
    QCOMPARE(pos.NVPOS_Version(), hasThem ? (NVPOS_VERSION_MAJOR << 16) | NVPOS_VERSION_MINOR : 0);
    char buffer[4];
    QCOMPARE(pos.NVPOS_Read(987654, buffer, sizeof buffer, 0),
             hasThem ? NVPOS_ERR_NO_CONNECTION : NVPOS_ERR_UNSUPPORTED);
    const Printer::Failure failure = pos.lastFailure();
    QCOMPARE(failure.kind, hasThem ? Printer::FailureKind::Io : Printer::FailureKind::Unsupported);
    QVERIFY2(hasThem ? failure.reason == QLatin1String("No open connection has handle 987654")
                     : failure.reason.contains(QLatin1String("cannot read")),
             qPrintable(failure.reason));
    QCOMPARE(pos.NVPOS_Capabilities(987654), hasThem ? NVPOS_ERR_NO_CONNECTION : 0);
    QCOMPARE(pos.NVPOS_EndDoc(987654), hasThem ? NVPOS_ERR_NO_CONNECTION : 1);
    QCOMPARE(pos.NVPOS_Close(987654), hasThem ? NVPOS_ERR_NO_CONNECTION : 0);
    if (!hasThem) {
        QCOMPARE(older.calls(),
                 (QStringList{QStringLiteral("POS_WriteFile(987654,78,1)"),
                              QStringLiteral("POS_EndDoc()"),
                              QStringLiteral("POS_Close()")}));
    }
}

void tst_OpenPort::unknownKindNeedsNoLibrary()
{
    Printer::PosLibrary missing(QStringLiteral("/nonexistent/libnvpos.so"));
    QCOMPARE(Printer::OpenPort(missing, {QStringLiteral("USB001"), {}, {}, {}}), 0);
}

QTEST_GUILESS_MAIN(tst_OpenPort)
#include "tst_openport.moc"
