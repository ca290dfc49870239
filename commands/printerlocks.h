#pragma once

// One conversation at a time with each printer: a status question, a details question and a
// job each take the printer's lock, so that two connections to one printer never mix their
// bytes or their replies. Safe to use from any thread.

#include "jobs.h"

#include <QSet>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace Commands {

class PrinterLocks
{
public:
    // Takes the printer's lock if it is free; false when another conversation has it.
    bool tryAcquire(const QString &key);
    // Waits for the printer's lock until bound passed or stop says so; false then.
    bool
    acquire(const QString &key, const std::function<bool()> &stop, std::chrono::milliseconds bound);
    void release(const QString &key);

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    QSet<QString> m_taken;
};

// The job with the printer's lock held for its whole conversation: it waits (at most bound,
// and no longer than a stop) for a question that is talking to the printer to end. A printer
// that stays busy gets a Failed row (kind Busy) and nothing is sent to it.
Job exclusiveJob(std::shared_ptr<PrinterLocks> locks, Job job, std::chrono::milliseconds bound);

} // namespace Commands
