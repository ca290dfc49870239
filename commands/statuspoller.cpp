#include "statuspoller.h"

#include <QMetaObject>

#include <algorithm>

namespace Commands {

using std::chrono::milliseconds;

namespace {

// The longest wait for a conversation that has the printer: a question ends within its
// timeout, give or take the connection's own bounds.
milliseconds lockBound(milliseconds timeout)
{
    return 2 * timeout + milliseconds(5000);
}

} // namespace

// What the questions ask between reads: whether the poller is going away.
class StatusPoller::StopFlag final : public Progress
{
public:
    bool stopRequested() const override { return stopping.load(); }
    std::atomic<bool> stopping{false};
};

StatusPoller::StatusPoller(Printer::PosLibrary &library,
                           std::shared_ptr<PrinterLocks> locks,
                           QObject *parent)
    : QObject(parent)
    , m_library(library)
    , m_locks(std::move(locks))
    , m_stop(std::make_unique<StopFlag>())
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &StatusPoller::wake);
    m_pool.setMaxThreadCount(m_settings.threads);
    m_detailsPool.setMaxThreadCount(2);
}

StatusPoller::~StatusPoller()
{
    m_stop->stopping = true;
    m_pool.waitForDone();
    m_detailsPool.waitForDone();
}

void StatusPoller::setSettings(const PollSettings &settings)
{
    m_settings = settings;
    m_settings.threads = std::max(1, settings.threads);
    m_schedule.setTiming(settings.timing);
    m_pool.setMaxThreadCount(m_settings.threads);
    rearm();
}

void StatusPoller::add(const Printer::Target &target)
{
    const QString key = target.key();
    m_targets.insert(key, target);
    m_schedule.add(key, Clock::now(), target.kind() != Printer::PortKind::Driver);
    rearm();
}

void StatusPoller::remove(const QString &key)
{
    m_targets.remove(key);
    m_schedule.remove(key);
    rearm();
}

void StatusPoller::clear()
{
    m_targets.clear();
    m_schedule.clear();
    rearm();
}

void StatusPoller::start()
{
    m_running = true;
    rearm();
}

void StatusPoller::stop()
{
    m_running = false;
    m_timer.stop();
}

void StatusPoller::hold(const QString &key)
{
    m_schedule.hold(key);
}

void StatusPoller::release(const QString &key)
{
    m_schedule.release(key, Clock::now());
    rearm();
}

void StatusPoller::askSoon(const QString &key)
{
    m_schedule.askSoon(key, Clock::now());
    rearm();
}

void StatusPoller::rearm()
{
    const auto due = m_schedule.nextDue();
    if (!m_running || !due) {
        m_timer.stop();
        return;
    }
    const auto wait = std::chrono::duration_cast<milliseconds>(*due - Clock::now());
    m_timer.start(int(std::clamp<milliseconds::rep>(wait.count() + 1, 0, 24 * 3600 * 1000)));
}

void StatusPoller::wake()
{
    if (!m_running)
        return;
    for (const QString &key : m_schedule.takeDue(Clock::now()))
        ask(key);
    rearm();
}

void StatusPoller::ask(const QString &key)
{
    const Printer::Target target = m_targets.value(key);
    const milliseconds timeout = m_settings.timeout;
    Q_EMIT asking(key);
    m_pool.start([this, key, target, timeout] {
        // A conversation that has the printer already (a pane's question) answers for it.
        if (!m_locks->tryAcquire(key)) {
            QMetaObject::invokeMethod(this, [this, key] { pollEnded(key, JobRow(), false); });
            return;
        }
        const JobRow row = runJob(m_library, target, statusJob(timeout), *m_stop);
        m_locks->release(key);
        QMetaObject::invokeMethod(this, [this, key, row] { pollEnded(key, row, true); });
    });
}

void StatusPoller::pollEnded(const QString &key, const JobRow &row, bool asked)
{
    if (!m_schedule.contains(key))
        return; // removed while it was asked
    if (!asked) {
        m_schedule.notAsked(key, Clock::now());
    } else {
        m_schedule.asked(key, row.report.has_value(), Clock::now());
        Q_EMIT answered(key, row);
    }
    rearm();
}

void StatusPoller::askDetails(const QString &key, milliseconds timeout)
{
    if (!m_targets.contains(key) || m_detailsAsked.contains(key))
        return;
    m_detailsAsked.insert(key);
    m_schedule.hold(key);
    const Printer::Target target = m_targets.value(key);
    m_detailsPool.start([this, key, target, timeout] {
        PrinterDetails details;
        if (m_locks->acquire(
                    key, [this] { return m_stop->stopRequested(); }, lockBound(timeout))) {
            details = Commands::askDetails(m_library, target, timeout, *m_stop);
            m_locks->release(key);
        } else {
            details.status.target = target;
            details.status.state = JobRow::State::Failed;
            details.status.failure = Printer::FailureKind::Busy;
            details.status.reason = QStringLiteral("%1 stayed busy").arg(target.display());
            details.holdingsReason = details.status.reason;
        }
        QMetaObject::invokeMethod(this, [this, key, details] { detailsEnded(key, details); });
    });
}

void StatusPoller::detailsEnded(const QString &key, const PrinterDetails &details)
{
    m_detailsAsked.remove(key);
    if (!m_schedule.contains(key))
        return;
    const Clock::time_point now = Clock::now();
    m_schedule.release(key, now);
    if (details.status.failure != Printer::FailureKind::Busy) {
        // The pane's question counts as this round's: the next comes an interval later.
        m_schedule.asked(key, details.status.report.has_value(), now);
        Q_EMIT answered(key, details.status);
    }
    Q_EMIT detailsAnswered(key, details);
    rearm();
}

} // namespace Commands
