// The many-printer engine in process: rows in the targets' order whatever finishes first, the
// observer told of each, and a stop that reaches every printer.

#include <tests/support/scriptedpeer.h>

#include <commands/jobs.h>
#include <commands/pool.h>
#include <printer/poslibrary.h>

#include <QTest>

#include <atomic>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using Commands::JobRow;

Q_DECLARE_METATYPE(JobRow::State)

class tst_Pool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsFollowTheTargets();
    void aStopReachesEveryPrinter();
    void anErrorOfTheLibraryFailsItsRowOnly();

private:
    Printer::PosLibrary m_library{QStringLiteral(NVPOS_LIBRARY)};
};

void tst_Pool::rowsFollowTheTargets()
{
    ScriptedPeer ready(Scripts::status());
    ScriptedPeer paperOut(Scripts::status('\x72'));
    const QList<Printer::Target> targets
            = {Printer::Target::parse(QStringLiteral("ETHERNET ") + paperOut.ip()).value(),
               Printer::Target::parse(QStringLiteral("ETHERNET 127.0.0.1:1")).value(),
               Printer::Target::parse(QStringLiteral("ETHERNET ") + ready.ip()).value()};
    Commands::PoolRun run;
    run.jobs = 2;
    std::vector<int> finished;
    Commands::PoolProgress last;
    run.finished = [&](int index, const JobRow &) {
        finished.push_back(index);
    };
    run.progress = [&](const Commands::PoolProgress &now) {
        last = now;
    };
    const auto rows = Commands::runPool(m_library, targets, Commands::statusJob(2s), run);

    QCOMPARE(rows.size(), size_t(3));
    QCOMPARE(rows[0].state, JobRow::State::NotReady);
    QCOMPARE(rows[0].reason, QStringLiteral("paper out"));
    QCOMPARE(rows[1].state, JobRow::State::Failed);
    QCOMPARE(rows[1].failure, Printer::FailureKind::Refused);
    QCOMPARE(rows[2].state, JobRow::State::Done);
    for (size_t i = 0; i < rows.size(); ++i)
        QCOMPARE(rows[i].target, targets.at(qsizetype(i)));
    std::sort(finished.begin(), finished.end());
    QCOMPARE(finished, (std::vector<int>{0, 1, 2}));
    QCOMPARE(last.done, 3);
    QCOMPARE(last.failed, 2);
}

void tst_Pool::aStopReachesEveryPrinter()
{
    // Printers that never answer: without the stop each would take the whole timeout.
    std::vector<std::unique_ptr<ScriptedPeer>> silent;
    QList<Printer::Target> targets;
    for (int i = 0; i < 4; ++i) {
        silent.push_back(std::make_unique<ScriptedPeer>(Scripts::echo(QByteArray())));
        targets.append(
                Printer::Target::parse(QStringLiteral("ETHERNET ") + silent.back()->ip()).value());
    }
    std::atomic<bool> stop{false};
    Commands::PoolRun run;
    run.jobs = 2;
    run.stopRequested = [&] {
        return stop.load();
    };
    run.interval = 20ms;
    run.progress = [&](const Commands::PoolProgress &) {
        // Once the first two have connected, stop the run.
        if (silent[0]->connections() + silent[1]->connections() == 2)
            stop = true;
    };
    const auto rows = Commands::runPool(m_library, targets, Commands::statusJob(60s), run);
    for (const JobRow &row : rows)
        QCOMPARE(row.state, JobRow::State::Stopped);
    // The printers not started yet were never reached.
    QCOMPARE(silent[2]->connections() + silent[3]->connections(), 0);
}

void tst_Pool::anErrorOfTheLibraryFailsItsRowOnly()
{
    Printer::PosLibrary missing(QStringLiteral("/nonexistent/folder/libnvpos.so"));
    const QList<Printer::Target> targets
            = {Printer::Target::parse(QStringLiteral("ETHERNET 127.0.0.1:9")).value(),
               Printer::Target::parse(QStringLiteral("LPT:/dev/null")).value()};
    const auto rows = Commands::runPool(missing, targets, Commands::statusJob(1s), {});
    for (const JobRow &row : rows) {
        QCOMPARE(row.state, JobRow::State::Failed);
        QVERIFY2(row.reason.contains(QLatin1String("/nonexistent/folder")), qPrintable(row.reason));
    }
}

QTEST_GUILESS_MAIN(tst_Pool)
#include "tst_pool.moc"
