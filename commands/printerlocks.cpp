#include "printerlocks.h"

#include "messages.h"

#include <QScopeGuard>

#include <algorithm>

namespace Commands {

namespace {

// How often a waiting conversation asks whether to stop.
constexpr std::chrono::milliseconds StopCheck{100};

} // namespace

bool PrinterLocks::tryAcquire(const QString &key)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_taken.contains(key))
        return false;
    m_taken.insert(key);
    return true;
}

bool PrinterLocks::acquire(const QString &key,
                           const std::function<bool()> &stop,
                           std::chrono::milliseconds bound)
{
    const Clock::time_point deadline = Clock::now() + bound;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_taken.contains(key)) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline || (stop && stop()))
            return false;
        m_released.wait_until(lock, std::min(deadline, now + StopCheck));
    }
    m_taken.insert(key);
    return true;
}

void PrinterLocks::release(const QString &key)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_taken.remove(key);
    }
    m_released.notify_all();
}

Job exclusiveJob(std::shared_ptr<PrinterLocks> locks, Job job, std::chrono::milliseconds bound)
{
    return [locks = std::move(locks), job = std::move(job), bound](
                   PrinterLink &link, Progress &progress, JobRow &row) {
        const QString key = link.target().key();
        if (!locks->acquire(
                    key, [&progress] { return progress.stopRequested(); }, bound)) {
            if (progress.stopRequested()) {
                row.state = JobRow::State::Stopped;
                row.failure = Printer::FailureKind::Cancelled;
                row.reason = QStringLiteral("Stopped before it started");
                return;
            }
            row.state = JobRow::State::Failed;
            row.failure = Printer::FailureKind::Busy;
            row.reason = QStringLiteral("%1 stayed busy with another question for %2 s")
                                 .arg(link.display(), secondsText(bound));
            return;
        }
        // The lock is given back however the job ends, an error of the library included.
        const auto released = qScopeGuard([&] { locks->release(key); });
        job(link, progress, row);
    };
}

} // namespace Commands
