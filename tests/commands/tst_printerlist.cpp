// The list of printers behind the printers' window, in process: when printers are asked,
// what their rows say, and the list as a targets file; against scripted printers and the
// virtual printer.

#include <tests/support/printerprocess.h>
#include <tests/support/scriptedpeer.h>

#include <commands/pollschedule.h>
#include <commands/printerlistmodel.h>
#include <printer/poslibrary.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace std::chrono_literals;
using Commands::Clock;
using Commands::PrinterListModel;
using Commands::PrinterState;

Q_DECLARE_METATYPE(PrinterState)

class tst_PrinterList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void silentPrintersAreAskedLessOften_data();
    void silentPrintersAreAskedLessOften();
    void aRowFollowsThePrinter();
    void theVirtualPrinterInEachState_data();
    void theVirtualPrinterInEachState();
    void paperRunsOutOnTheVirtualPrinter();
    void noQuestionWhileAJobTalks();
    void aSavedListReadsBack();

private:
    // Polls quickly, so that the tests do not wait for the five seconds a window waits.
    static void pollQuickly(PrinterListModel &model, std::chrono::milliseconds timeout = 2s);
    // Waits until the row's printer has been asked count more times; false on a timeout.
    static bool waitForAnswers(PrinterListModel &model, int row, int count = 1);

    Printer::PosLibrary m_library{QStringLiteral(NVPOS_LIBRARY)};
    QTemporaryDir m_dir;
};

namespace {

Printer::Target tcp(const QString &address)
{
    return Printer::Target::parse(QStringLiteral("ETHERNET ") + address).value();
}

// A printer that answers DLE EOT (paper to n = 4, ready to the others) and names itself to
// GS I, so that a question takes no waiting for answers that do not come.
ScriptedPeer::Script answering(const std::atomic<char> &paper)
{
    return [&paper](QByteArray &pending) {
        QByteArray reply;
        while (pending.size() >= 3) {
            if (pending.startsWith("\x10\x04"))
                reply.append(pending.at(2) == 4 ? paper.load() : '\x12');
            else if (pending.startsWith("\x1d\x49"))
                reply.append(QByteArray("\x5fmodel-1\0", 9));
            pending.remove(0, pending.startsWith('\x10') || pending.startsWith('\x1d') ? 3 : 1);
        }
        return reply;
    };
}

} // namespace

void tst_PrinterList::pollQuickly(PrinterListModel &model, std::chrono::milliseconds timeout)
{
    Commands::PollSettings settings;
    settings.timing.interval = 20ms;
    settings.timing.longest = 200ms;
    settings.timeout = timeout;
    model.poller().setSettings(settings);
    model.poller().start();
}

bool tst_PrinterList::waitForAnswers(PrinterListModel &model, int row, int count)
{
    QSignalSpy answered(&model.poller(), &Commands::StatusPoller::answered);
    const QString key = model.entry(row).key;
    int seen = 0;
    while (seen < count) {
        if (answered.isEmpty() && !answered.wait(20000))
            return false;
        const QList<QVariant> one = answered.takeFirst();
        seen += one.at(0).toString() == key;
    }
    return true;
}

void tst_PrinterList::silentPrintersAreAskedLessOften_data()
{
    QTest::addColumn<QList<bool>>("answers"); // one per question, in order
    QTest::addColumn<int>("nextInSeconds");

    QTest::newRow("answering") << QList<bool>{true, true} << 5;
    QTest::newRow("one silence") << QList<bool>{true, false} << 10;
    QTest::newRow("three in a row") << QList<bool>{false, false, false} << 40;
    QTest::newRow("never above the longest") << QList<bool>(9, false) << 60;
    QTest::newRow("an answer ends it") << QList<bool>{false, false, false, true} << 5;
}

void tst_PrinterList::silentPrintersAreAskedLessOften()
{
    QFETCH(QList<bool>, answers);
    QFETCH(int, nextInSeconds);

    Commands::PollSchedule schedule({5s, 60s});
    Clock::time_point now{};
    schedule.add(QStringLiteral("a"), now);
    schedule.add(QStringLiteral("queue"), now, false);
    for (const bool answered : answers) {
        now = *schedule.dueAt(QStringLiteral("a"));
        QCOMPARE(schedule.takeDue(now), QStringList{QStringLiteral("a")});
        // One question at a time: a printer being asked is not due again.
        QVERIFY(schedule.takeDue(now + 1h).isEmpty());
        schedule.asked(QStringLiteral("a"), answered, now);
    }
    QCOMPARE(*schedule.dueAt(QStringLiteral("a")) - now, std::chrono::seconds(nextInSeconds));
    QVERIFY(!schedule.dueAt(QStringLiteral("queue")));
}

void tst_PrinterList::aRowFollowsThePrinter()
{
    // Paper runs out while the list watches.
    std::atomic<char> paper{'\x12'};
    ScriptedPeer printer(answering(paper));
    PrinterListModel model(m_library);
    QVERIFY(model.setTargets({tcp(printer.ip()), tcp(QStringLiteral("127.0.0.1:1"))}).ok());
    pollQuickly(model);
    QVERIFY(waitForAnswers(model, 0));
    QCOMPARE(model.entry(0).state, PrinterState::Ready);
    QVERIFY(model.entry(0).lastAnswer);
    QCOMPARE(model.entry(0).model, QStringLiteral("model-1"));
    QCOMPARE(model.data(model.index(0, PrinterListModel::StateColumn)).toString(),
             QStringLiteral("Ready"));

    paper = '\x72';
    QVERIFY(waitForAnswers(model, 0));
    QCOMPARE(model.entry(0).state, PrinterState::PaperOut);
    QCOMPARE(model.data(model.index(0, PrinterListModel::StateColumn)).toString(),
             QStringLiteral("Paper out"));

    // The refused printer: not answering, with the reason, and asked less and less often.
    QVERIFY(waitForAnswers(model, 1, 3));
    QCOMPARE(model.entry(1).state, PrinterState::NotAnswering);
    QVERIFY2(model.entry(1).stateReason.contains(QLatin1String("refused")),
             qPrintable(model.entry(1).stateReason));
    QVERIFY(!model.entry(1).lastAnswer);
    QVERIFY(model.poller().schedule().silentInRow(model.entry(1).key) >= 3);
}

void tst_PrinterList::theVirtualPrinterInEachState_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<PrinterState>("state");
    QTest::addColumn<QString>("shown");

    QTest::newRow("ready") << QStringList() << PrinterState::Ready << QStringLiteral("Ready");
    QTest::newRow("paper near its end")
            << QStringList{QStringLiteral("--paper"), QStringLiteral("near-end")}
            << PrinterState::PaperNearEnd << QStringLiteral("Paper near its end");
    QTest::newRow("paper out") << QStringList{QStringLiteral("--paper"), QStringLiteral("end")}
                               << PrinterState::PaperOut << QStringLiteral("Paper out");
    QTest::newRow("cover open") << QStringList{QStringLiteral("--cover"), QStringLiteral("open")}
                                << PrinterState::CoverOpen << QStringLiteral("Cover open");
    QTest::newRow("autocutter error")
            << QStringList{QStringLiteral("--error"), QStringLiteral("autocutter")}
            << PrinterState::Error << QStringLiteral("Error (autocutter)");
    QTest::newRow("no back channel")
            << QStringList{QStringLiteral("--no-replies")} << PrinterState::NotAnswering
            << QStringLiteral("Not answering");
}

void tst_PrinterList::theVirtualPrinterInEachState()
{
    QFETCH(QStringList, options);
    QFETCH(PrinterState, state);
    QFETCH(QString, shown);

    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH),
                           m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())));
    printer.start(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + options);
    const auto listening = printer.waitFor(QStringLiteral("listening on (127\\.0\\.0\\.1:\\d+)$"));
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));

    PrinterListModel model(m_library);
    QVERIFY(model.addTarget(tcp(listening.captured(1))).ok());
    pollQuickly(model, 500ms);
    QVERIFY(waitForAnswers(model, 0));
    QCOMPARE(model.entry(0).state, state);
    QCOMPARE(model.data(model.index(0, PrinterListModel::StateColumn)).toString(), shown);
    if (state != PrinterState::NotAnswering)
        QCOMPARE(model.entry(0).model, QStringLiteral("nvlogo-printer"));
}

void tst_PrinterList::paperRunsOutOnTheVirtualPrinter()
{
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), m_dir.filePath("control"));
    printer.start({QStringLiteral("--listen"),
                   QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--control-stdin")});
    const auto listening = printer.waitFor(QStringLiteral("listening on (127\\.0\\.0\\.1:\\d+)$"));
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));
    PrinterListModel model(m_library);
    QVERIFY(model.addTarget(tcp(listening.captured(1))).ok());
    pollQuickly(model);
    QVERIFY(waitForAnswers(model, 0));
    QCOMPARE(model.entry(0).state, PrinterState::Ready);

    QVERIFY(printer.write("paper end\n"));
    QVERIFY2(printer.waitFor(QStringLiteral("^condition: paper")).hasMatch(),
             qPrintable(printer.transcript()));
    // A question under way may have been answered before the paper ran out; the next one
    // was not.
    QVERIFY(waitForAnswers(model, 0, 2));
    QCOMPARE(model.entry(0).state, PrinterState::PaperOut);
}

void tst_PrinterList::noQuestionWhileAJobTalks()
{
    const std::atomic<char> paper{'\x12'};
    ScriptedPeer busy(answering(paper));
    ScriptedPeer other(answering(paper));
    PrinterListModel model(m_library);
    QVERIFY(model.setTargets({tcp(busy.ip()), tcp(other.ip())}).ok());
    // The job starts the moment its printer's question ended, when none is under way.
    int connectionsWhenHeld = -1;
    connect(&model, &PrinterListModel::entryChanged, &model, [&](int row) {
        if (row == 0 && connectionsWhenHeld < 0 && model.entry(0).lastAnswer) {
            connectionsWhenHeld = busy.connections();
            model.jobStarted({0}, QStringLiteral("Printing…"));
        }
    });
    pollQuickly(model);
    QVERIFY(waitForAnswers(model, 0));
    QVERIFY(model.entry(0).busy);
    QVERIFY(waitForAnswers(model, 1, 5));
    QCOMPARE(busy.connections(), connectionsWhenHeld);
    QCOMPARE(model.data(model.index(0, PrinterListModel::ResultColumn)).toString(),
             QStringLiteral("Printing…"));

    // When it ends the row says how, and the printer is asked again.
    Commands::JobRow row;
    row.target = model.entry(0).target;
    row.state = Commands::JobRow::State::Done;
    model.jobEnded(Commands::PrinterAction::TestPrint, row);
    QCOMPARE(model.data(model.index(0, PrinterListModel::ResultColumn)).toString(),
             QStringLiteral("Printed"));
    QVERIFY(waitForAnswers(model, 0));
    QVERIFY(busy.connections() > connectionsWhenHeld);
}

void tst_PrinterList::aSavedListReadsBack()
{
    const QList<Printer::Target> targets
            = {tcp(QStringLiteral("10.0.0.5:9101")),
               Printer::Target::parse(QStringLiteral("COM:/dev/ttyUSB0 38400")).value(),
               Printer::Target::parse(QStringLiteral("LPT2")).value(),
               Printer::Target::parse(QStringLiteral("DRIVER receipt_raw")).value()};
    PrinterListModel model(m_library);
    QVERIFY(model.setTargets(targets).ok());
    QVERIFY(!model.addTarget(tcp(QStringLiteral("10.0.0.5:9101"))).ok());
    QCOMPARE(model.entry(3).state, PrinterState::CannotHear);

    const QString file = m_dir.filePath(QStringLiteral("shop.txt"));
    QVERIFY(model.save(file).ok());
    QVERIFY(!model.isModified());
    const auto read = Printer::readTargetsFile(file);
    QVERIFY2(read.ok(), qPrintable(read.failure().reason));
    QCOMPARE(read.value(), targets);

    PrinterListModel again(m_library);
    QVERIFY(again.load(file).ok());
    QCOMPARE(again.targets(), targets);
    QVERIFY(!again.isModified());
}

QTEST_GUILESS_MAIN(tst_PrinterList)
#include "tst_printerlist.moc"
