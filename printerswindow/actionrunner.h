#pragma once

// Runs one action on many printers through the pool, on a thread of its own, and reports
// each printer's progress and row to the window's thread.

#include <commands/actionresults.h>
#include <commands/jobs.h>
#include <commands/pool.h>
#include <commands/printerlocks.h>
#include <nvimage/stopcheck.h>
#include <printer/target.h>

#include <QList>
#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace Printer {
class PosLibrary;
}

namespace PrintersWindow {

class ActionRunner : public QObject
{
    Q_OBJECT

public:
    // What an action sends, made on the runner's thread (pictures become dots there, and Stop
    // reaches them through stop): the job for every printer, or the refusal to show instead,
    // when nothing is to be sent.
    struct Prepared
    {
        std::optional<Commands::Outcome> refusal;
        Commands::Job job;
    };
    using Prepare = std::function<Prepared(const NvImage::StopCheck &stop)>;

    ActionRunner(Printer::PosLibrary &library,
                 std::shared_ptr<Commands::PrinterLocks> locks,
                 QObject *parent = nullptr);
    // Stops the action and waits for it: the window is going away.
    ~ActionRunner() override;

    // Starts unless an action runs already; false then. Each printer waits at most lockBound
    // for a question under way to end.
    bool start(const QList<Printer::Target> &targets,
               Commands::PrinterAction action,
               Prepare prepare,
               std::chrono::milliseconds lockBound);
    bool isRunning() const { return m_thread != nullptr; }
    void requestStop() { m_stop = true; }
    bool stopRequested() const { return m_stop; }
    Commands::PrinterAction action() const { return m_action; }

Q_SIGNALS:
    void refused(const Commands::Outcome &outcome);
    // What the printer's job is doing now, in a few words.
    void rowActivity(const QString &key, const QString &text);
    void rowFinished(const Commands::JobRow &row);
    void progressed(const Commands::PoolProgress &progress);
    void finished();

private:
    Commands::Job reporting(Commands::Job job);
    void run(const QList<Printer::Target> &targets,
             const Prepare &prepare,
             std::chrono::milliseconds lockBound);
    void post(std::function<void()> signal);
    void workEnded();

    Printer::PosLibrary &m_library;
    std::shared_ptr<Commands::PrinterLocks> m_locks;
    QThread *m_thread = nullptr;
    std::atomic<bool> m_stop{false};
    Commands::PrinterAction m_action = Commands::PrinterAction::TestPrint;
};

} // namespace PrintersWindow
