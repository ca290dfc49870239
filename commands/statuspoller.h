#pragma once

// Asks a list of printers about their state on worker threads, as their PollSchedule says,
// and hands the answers to the thread the poller lives on. The caller's thread never waits
// for a printer.

#include "pollschedule.h"
#include "printerdetails.h"
#include "printerlocks.h"

#include <printer/target.h>

#include <QHash>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>

namespace Printer {
class PosLibrary;
}

namespace Commands {

struct PollSettings
{
    PollTiming timing;
    // How long a printer may take to answer a status question (the command line's default).
    std::chrono::milliseconds timeout{5000};
    // How many printers are asked at once at most.
    int threads = 8;
};

class StatusPoller : public QObject
{
    Q_OBJECT

public:
    StatusPoller(Printer::PosLibrary &library,
                 std::shared_ptr<PrinterLocks> locks,
                 QObject *parent = nullptr);
    // Stops the questions under way and waits for them (each ends within a read slice).
    ~StatusPoller() override;

    const PollSettings &settings() const { return m_settings; }
    void setSettings(const PollSettings &settings);
    const PollSchedule &schedule() const { return m_schedule; }
    const std::shared_ptr<PrinterLocks> &locks() const { return m_locks; }

    // A printer to ask, at once when polling runs. A print queue is never asked: it cannot
    // carry an answer.
    void add(const Printer::Target &target);
    void remove(const QString &key);
    void clear();

    // Polling on and off; a question under way still reports its answer.
    void start();
    void stop();
    bool isRunning() const { return m_running; }

    // A job talks to the printer: no question until release, then one at once.
    void hold(const QString &key);
    void release(const QString &key);
    void askSoon(const QString &key);

    // Asks the printer's status and NV graphics on a worker thread, with the printer held;
    // detailsAnswered follows. A second request while one is under way is merged into it.
    void askDetails(const QString &key, std::chrono::milliseconds timeout);

Q_SIGNALS:
    void asking(const QString &key);
    // A status question ended: the status job's row (the report, or why there is none).
    void answered(const QString &key, const Commands::JobRow &row);
    void detailsAnswered(const QString &key, const Commands::PrinterDetails &details);

private:
    class StopFlag;

    void wake();
    void rearm();
    void ask(const QString &key);
    void pollEnded(const QString &key, const JobRow &row, bool asked);
    void detailsEnded(const QString &key, const PrinterDetails &details);

    Printer::PosLibrary &m_library;
    std::shared_ptr<PrinterLocks> m_locks;
    PollSettings m_settings;
    PollSchedule m_schedule;
    QHash<QString, Printer::Target> m_targets;
    QSet<QString> m_detailsAsked;
    QTimer m_timer;
    QThreadPool m_pool;
    QThreadPool m_detailsPool; // apart, so that a pane opens while slow printers are polled
    std::unique_ptr<StopFlag> m_stop;
    bool m_running = false;
};

} // namespace Commands
