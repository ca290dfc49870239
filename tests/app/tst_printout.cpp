#include <tests/support/recordingdialogs.h>
#include <tests/support/recordinglibrary.h>

#include <commands/commandstate.h>
#include <commands/printoutcommand.h>
#include <printer/portconnection.h>

#include <QTest>

using Commands::MessageIcon;

namespace {

QString writeCall(int handle, const QString &hex)
{
    return QStringLiteral("POS_WriteFile(%1,%2,8)").arg(handle).arg(hex);
}

const QString Open = QStringLiteral(R"(POS_Open("10.0.0.9",0,0,0,0,21))");
// The document and the close name the connection by its handle.
QString StartDoc(int handle = 1)
{
    return QStringLiteral("NVPOS_StartDoc(%1)").arg(handle);
}
QString EndDoc(int handle = 1)
{
    return QStringLiteral("NVPOS_EndDoc(%1)").arg(handle);
}
QString Close(int handle = 1)
{
    return QStringLiteral("NVPOS_Close(%1)").arg(handle);
}

const Printer::PortSettings Ethernet{
        QStringLiteral("ETHERNET"), QStringLiteral("10.0.0.9"), QString(), QStringLiteral("19200")};

} // namespace

class tst_PrintOut : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void bytes_data();
    void bytes();
    void numbersBeyondAByteFailBeforeAnyCall_data();
    void numbersBeyondAByteFailBeforeAnyCall();
    void sendsOneWriteInsideADocument();
    void openFailureShowsOneMessageAndCallsNothingElse();
    void unknownPortKindGoesOnWithHandleZero();
    void failedWriteIsReportedAfterClosing();
    void errorAfterOpenStillCloses();
    void docStatusFollowsTheLibrary();

private:
    RecordingLibrary m_rec{QStringLiteral(RECORDING_POS_LIBRARY)};
    RecordingDialogs m_dialogs;
    Commands::CommandState m_state;
};

void tst_PrintOut::init()
{
    m_rec.reset();
    m_dialogs = RecordingDialogs();
    m_state = Commands::CommandState();
}

void tst_PrintOut::bytes_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("1 normal") << "1" << 0 << QByteArray::fromHex("1c7001001d564200");
    QTest::newRow("13 double") << "13" << 3 << QByteArray::fromHex("1c700d031d564200");
    QTest::newRow("2 double width") << "2" << 1 << QByteArray::fromHex("1c7002011d564200");
    QTest::newRow("2 double height") << "2" << 2 << QByteArray::fromHex("1c7002021d564200");
    QTest::newRow("no mode selected") << "5" << -1 << QByteArray::fromHex("1c7005001d564200");
    QTest::newRow("mode beyond the list") << "5" << 4 << QByteArray::fromHex("1c7005001d564200");
    QTest::newRow("empty number") << "" << 0 << QByteArray::fromHex("1c7000001d564200");
    QTest::newRow("255") << "255" << 0 << QByteArray::fromHex("1c70ff001d564200");
    QTest::newRow("2.5 rounds to even") << "2.5" << 0 << QByteArray::fromHex("1c7002001d564200");
    QTest::newRow("3.5 rounds to even") << "3.5" << 0 << QByteArray::fromHex("1c7004001d564200");
    QTest::newRow("2.51 rounds up") << "2.51" << 0 << QByteArray::fromHex("1c7003001d564200");
    QTest::newRow("leading blanks, trailing text")
            << "  7 pictures" << 0 << QByteArray::fromHex("1c7007001d564200");
    QTest::newRow("no number at the start")
            << "No. 4" << 1 << QByteArray::fromHex("1c7000011d564200");
    QTest::newRow("exponent") << "1e2" << 0 << QByteArray::fromHex("1c7064001d564200");
    QTest::newRow("dangling exponent") << "9e" << 0 << QByteArray::fromHex("1c7009001d564200");
    QTest::newRow("small negative rounds to 0")
            << "-0.4" << 0 << QByteArray::fromHex("1c7000001d564200");
    QTest::newRow("sign") << "+12" << 0 << QByteArray::fromHex("1c700c001d564200");
    QTest::newRow("fraction only") << ".6" << 0 << QByteArray::fromHex("1c7001001d564200");
}

void tst_PrintOut::bytes()
{
    QFETCH(QString, number);
    QFETCH(int, mode);
    QFETCH(QByteArray, expected);
    QCOMPARE(Commands::printOutBytes(number, mode).toHex(), expected.toHex());
}

void tst_PrintOut::numbersBeyondAByteFailBeforeAnyCall_data()
{
    QTest::addColumn<QString>("number");
    QTest::newRow("256") << "256";
    QTest::newRow("255.5 rounds to 256") << "255.5";
    QTest::newRow("-1") << "-1";
    QTest::newRow("-0.6") << "-0.6";
    QTest::newRow("huge") << "1e400";
    QTest::newRow("many digits") << "99999999999999999999999";
}

void tst_PrintOut::numbersBeyondAByteFailBeforeAnyCall()
{
    QFETCH(QString, number);
    QVERIFY_THROWS_EXCEPTION(Commands::ByteOverflowError,
                             Commands::PrintOut(m_rec.library, Ethernet, number, 0, m_state));
    QCOMPARE(m_rec.calls(), QStringList());
    QCOMPARE(m_dialogs.messages.size(), 0);
}

void tst_PrintOut::sendsOneWriteInsideADocument()
{
    m_rec.setOpenResult(7);
    m_dialogs.show(Commands::PrintOut(m_rec.library, Ethernet, QStringLiteral("13"), 3, m_state));
    const QStringList expected{Open,
                               StartDoc(7),
                               writeCall(7, QStringLiteral("1c700d031d564200")),
                               EndDoc(7),
                               Close(7)};
    QCOMPARE(m_rec.calls(), expected);
    QCOMPARE(m_dialogs.messages.size(), 0);
    QCOMPARE(m_state.PortHandle, 7);
    QCOMPARE(m_state.CallResult, 0); // the close's answer comes last
}

void tst_PrintOut::openFailureShowsOneMessageAndCallsNothingElse()
{
    m_rec.setOpenResult(-1);
    m_dialogs.show(Commands::PrintOut(m_rec.library, Ethernet, QStringLiteral("1"), 0, m_state));
    QCOMPARE(m_rec.calls(), QStringList{Open});
    QCOMPARE(m_dialogs.messages.size(), 1);
    QCOMPARE(m_dialogs.messages[0].text, QStringLiteral("Fail to open port,please check!"));
    QCOMPARE(m_dialogs.messages[0].caption, QStringLiteral("error"));
    QCOMPARE(m_dialogs.messages[0].icon, MessageIcon::Critical);
    QCOMPARE(m_state.PortHandle, -1);
}

void tst_PrintOut::unknownPortKindGoesOnWithHandleZero()
{
    const Printer::PortSettings usb{QStringLiteral("USB001"), QString(), QString(), QString()};
    m_dialogs.show(Commands::PrintOut(m_rec.library, usb, QStringLiteral("1"), 0, m_state));
    const QStringList expected{
            StartDoc(0), writeCall(0, QStringLiteral("1c7001001d564200")), EndDoc(0), Close(0)};
    QCOMPARE(m_rec.calls(), expected);
    QCOMPARE(m_state.PortHandle, 0);
}

void tst_PrintOut::failedWriteIsReportedAfterClosing()
{
    m_rec.setWriteResult(-4);
    m_dialogs.show(Commands::PrintOut(m_rec.library, Ethernet, QStringLiteral("2"), 1, m_state));
    QCOMPARE(m_rec.calls().last(), Close());
    QCOMPARE(m_rec.calls().size(), 5);
    QCOMPARE(m_dialogs.messages.size(), 1);
    QCOMPARE(m_dialogs.messages[0].text, QStringLiteral("Fail to send to printer,please check!"));
    QCOMPARE(m_dialogs.messages[0].caption, QStringLiteral("error"));
    QCOMPARE(m_dialogs.messages[0].icon, MessageIcon::Critical);
}

void tst_PrintOut::errorAfterOpenStillCloses()
{
    RecordingLibrary partial(QStringLiteral(RECORDING_POS_NOSTARTDOC_LIBRARY));
    QVERIFY_THROWS_EXCEPTION(
            Printer::PrinterLibraryError,
            Commands::PrintOut(partial.library, Ethernet, QStringLiteral("1"), 0, m_state));
    QCOMPARE(partial.calls(), (QStringList{Open, Close()}));
}

void tst_PrintOut::docStatusFollowsTheLibrary()
{
    m_rec.setDocResult(0);
    m_dialogs.show(Commands::PrintOut(m_rec.library, Ethernet, QStringLiteral("1"), 0, m_state));
    QCOMPARE(m_state.DocStatus, qint16(0));
    m_rec.setDocResult(3);
    m_dialogs.show(Commands::PrintOut(m_rec.library, Ethernet, QStringLiteral("1"), 0, m_state));
    QCOMPARE(m_state.DocStatus, qint16(-1));
}

QTEST_GUILESS_MAIN(tst_PrintOut)
#include "tst_printout.moc"
