// The conversations with a printer, in process: the real printer library on loopback against
// scripted printers that greet with stale bytes, hang up, answer nonsense or keep NV graphics.

#include <tests/support/scriptedpeer.h>

#include <commands/askprinter.h>
#include <commands/graphicscommand.h>
#include <commands/printerlink.h>
#include <printer/poslibrary.h>

#include <QTest>

using namespace std::chrono_literals;

namespace {

Printer::Target targetOf(const ScriptedPeer &peer)
{
    return Printer::Target::parse(QStringLiteral("ETHERNET ") + peer.ip()).value();
}

// The status byte DLE EOT 1 answers when the printer is offline, and that of DLE EOT 4 when
// its paper is out.
constexpr char Offline = '\x1a';
constexpr char PaperOut = '\x72';

} // namespace

class tst_Conversations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void staleBytesAreNoAnswer_data();
    void staleBytesAreNoAnswer();
    void aConfirmedPrintOutSendsNothingToAPrinterThatIsNotReady();
    void waitUntilReadyTakesOnlyAnAnswerToItsQuestion();
    void waitUntilReadyKeepsItsPaceWhenThePrinterHangsUp();
    void keyList_data();
    void keyList();
    void defineGraphic_data();
    void defineGraphic();
    void deleteGraphicChecksTheKeyList_data();
    void deleteGraphicChecksTheKeyList();

private:
    Printer::PosLibrary m_library{QStringLiteral(NVPOS_LIBRARY)};
};

void tst_Conversations::staleBytesAreNoAnswer_data()
{
    QTest::addColumn<QByteArray>("onConnect");
    QTest::newRow("nothing before") << QByteArray();
    QTest::newRow("a status byte on connect") << QByteArray("\x12");
    QTest::newRow("two of them") << QByteArray("\x12\x12");
    QTest::newRow("an automatic status block") << QByteArray("\x14\x00\x00\x0f", 4);
}

void tst_Conversations::staleBytesAreNoAnswer()
{
    QFETCH(QByteArray, onConnect);
    // The printer truthfully reports its paper out; what it sent before the questions is
    // no answer to them.
    ScriptedPeer peer(Scripts::status(PaperOut), {onConnect, false});
    Commands::PrinterLink link(m_library, targetOf(peer));
    QVERIFY(link.open().ok());
    const auto report = Commands::askStatus(link, 500ms);
    QVERIFY2(report.ok(), qPrintable(report.failure().reason));
    QCOMPARE(report.value().status.paper, EscPos::Paper::End);
    QVERIFY(!report.value().status.ready());
}

void tst_Conversations::aConfirmedPrintOutSendsNothingToAPrinterThatIsNotReady()
{
    ScriptedPeer peer(Scripts::status(PaperOut), {QByteArray("\x12"), false});
    Commands::PrinterLink link(m_library, targetOf(peer));
    QVERIFY(link.open().ok());
    const QByteArray printOut("\x1c\x70\x01\x00\x1d\x56\x42\x00", 8);
    const auto printed = Commands::printConfirmed(link, printOut, 500ms);
    QVERIFY2(printed.ok(), qPrintable(printed.failure().reason));
    QCOMPARE(printed.value().result, Commands::PrintConfirmation::NotReady);
    QVERIFY2(printed.value().reason.contains(QLatin1String("paper out")),
             qPrintable(printed.value().reason));
    QVERIFY(!peer.received().contains("\x1c\x70"));
}

void tst_Conversations::waitUntilReadyTakesOnlyAnAnswerToItsQuestion()
{
    // Online on connect, then offline to every question: not ready.
    ScriptedPeer peer(Scripts::status('\x12', Offline), {QByteArray("\x12"), false});
    Commands::PrinterLink link(m_library, targetOf(peer));
    const auto waited = Commands::waitUntilReady(link, 1500ms);
    QVERIFY(!waited.ok());
    QCOMPARE(waited.failure().kind, Printer::FailureKind::Timeout);
    QVERIFY2(waited.failure().reason.contains(QLatin1String("still reports offline")),
             qPrintable(waited.failure().reason));
}

void tst_Conversations::waitUntilReadyKeepsItsPaceWhenThePrinterHangsUp()
{
    ScriptedPeer peer(Scripts::status(), {QByteArray(), true});
    Commands::PrinterLink link(m_library, targetOf(peer));
    const auto waited = Commands::waitUntilReady(link, 2s);
    QVERIFY(!waited.ok());
    // About two questions a second: a connection every half second at most, not one after
    // another.
    QVERIFY2(peer.connections() >= 1 && peer.connections() <= 5,
             qPrintable(QString::number(peer.connections())));
}

void tst_Conversations::keyList_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("garble");
    QTest::newRow("none") << 0 << false;
    QTest::newRow("one block full") << 40 << false;
    QTest::newRow("two blocks") << 41 << false;
    QTest::newRow("three blocks") << 95 << false;
    QTest::newRow("damaged block asked again") << 95 << true;
}

void tst_Conversations::keyList()
{
    QFETCH(int, count);
    QFETCH(bool, garble);
    QList<QByteArray> keys;
    for (int i = 0; i < count; ++i)
        keys.append(QByteArray(1, char(' ' + i / 95)) + char(' ' + i % 95));
    GraphicsModel model({262144, 262144, keys, true, garble});
    ScriptedPeer peer(model.script());
    Commands::PrinterLink link(m_library, targetOf(peer));
    QVERIFY(link.open().ok());
    const auto listed = Commands::askGraphicsKeys(link, 2s);
    QVERIFY2(listed.ok(), qPrintable(listed.failure().reason));
    QCOMPARE(listed.value(), keys);
    QCOMPARE(peer.locked([&] { return model.naks(); }), garble ? 1 : 0);
    // One ACK for each block after the first, nothing else after the request.
    const QByteArray sent = peer.received();
    const QByteArray answers = sent.mid(sent.indexOf("\x30\x40\x4b\x43") + 4);
    QCOMPARE(answers.count('\x06'), qsizetype(count > 0 ? (count - 1) / 40 : 0));
    QVERIFY(!answers.contains('\x18'));
}

void tst_Conversations::defineGraphic_data()
{
    QTest::addColumn<qint64>("capacity");
    QTest::addColumn<qint64>("remaining");
    QTest::addColumn<bool>("keepDefines");
    QTest::addColumn<int>("result"); // a DefineResult, or -1: no valid answer
    QTest::addColumn<bool>("sent");
    // The picture's dots take 8 bytes (8 x 8 dots).
    QTest::newRow("stored") << qint64(1000) << qint64(1000) << true
                            << int(Commands::DefineResult::Stored) << true;
    QTest::newRow("exactly fits") << qint64(1000) << qint64(8) << true
                                  << int(Commands::DefineResult::Stored) << true;
    QTest::newRow("one byte short")
            << qint64(1000) << qint64(7) << true << int(Commands::DefineResult::Refused) << false;
    QTest::newRow("accepted, never listed") << qint64(1000) << qint64(1000) << false
                                            << int(Commands::DefineResult::Unconfirmed) << true;
    QTest::newRow("more free than it has") << qint64(100) << qint64(1000) << true << -1 << false;
}

void tst_Conversations::defineGraphic()
{
    QFETCH(qint64, capacity);
    QFETCH(qint64, remaining);
    QFETCH(bool, keepDefines);
    QFETCH(int, result);
    QFETCH(bool, sent);
    GraphicsModel model({capacity, remaining, {}, keepDefines, false});
    ScriptedPeer peer(model.script(), {QByteArray("\x12"), false});
    Commands::PrinterLink link(m_library, targetOf(peer));
    QVERIFY(link.open().ok());
    EscPos::DotImage dots = EscPos::DotImage::blank(8, 8);
    dots.setDot(3, 3, true);
    const auto define = Commands::GraphicDefine::of("Q7", dots);
    const auto defined = Commands::defineGraphic(link, define, 2s);
    QCOMPARE(peer.received().contains(define.command), sent);
    if (result < 0) {
        QVERIFY(!defined.ok());
        QCOMPARE(defined.failure().kind, Printer::FailureKind::Io);
        return;
    }
    QVERIFY2(defined.ok(), qPrintable(defined.failure().reason));
    QCOMPARE(int(defined.value().result), result);
    QCOMPARE(peer.locked([&] { return model.keys().contains("Q7"); }),
             result == int(Commands::DefineResult::Stored));
}

void tst_Conversations::deleteGraphicChecksTheKeyList_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("graphicsPrinter");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("one key") << QByteArray("A1") << true << true;
    QTest::newRow("every key") << QByteArray() << true << true;
    QTest::newRow("no key list comes") << QByteArray("A1") << false << false;
}

void tst_Conversations::deleteGraphicChecksTheKeyList()
{
    QFETCH(QByteArray, key);
    QFETCH(bool, graphicsPrinter);
    QFETCH(bool, confirmed);
    GraphicsModel model({1000, 900, {"A1", "B2"}, true, false});
    ScriptedPeer peer(graphicsPrinter ? model.script() : Scripts::status());
    Commands::PrinterLink link(m_library, targetOf(peer));
    QVERIFY(link.open().ok());
    const auto deleted = Commands::deleteGraphic(link, key, 500ms);
    QVERIFY2(deleted.ok(), qPrintable(deleted.failure().reason));
    QCOMPARE(deleted.value().confirmed, confirmed);
    QCOMPARE(deleted.value().reason.isEmpty(), confirmed);
    if (graphicsPrinter) {
        const QList<QByteArray> left = peer.locked([&] { return model.keys(); });
        QCOMPARE(left, key.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{"B2"});
    }
}

QTEST_GUILESS_MAIN(tst_Conversations)
#include "tst_conversations.moc"
