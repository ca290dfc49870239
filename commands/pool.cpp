#include "pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace Commands {

namespace {

// One printer's progress as its job reports it, read by the calling thread.
class PrinterProgress final : public Progress
{
public:
    explicit PrinterProgress(const std::function<bool()> *stop = nullptr)
        : m_stop(stop)
    {}

    void bytesMoved(qint64 moved, qint64 total) override
    {
        Q_UNUSED(total)
        m_moved.store(moved);
    }
    bool stopRequested() const override { return m_stop && *m_stop && (*m_stop)(); }
    qint64 moved() const { return m_moved.load(); }

private:
    const std::function<bool()> *m_stop;
    std::atomic<qint64> m_moved{0};
};

// What the workers share with the calling thread.
class Shared
{
public:
    Shared(Printer::PosLibrary &library,
           const QList<Printer::Target> &targets,
           const Job &job,
           const PoolRun &run)
        : library(library)
        , targets(targets)
        , job(job)
        , run(run)
        , rows(size_t(targets.size()))
        , ended(size_t(targets.size()), false)
    {
        for (qsizetype i = 0; i < targets.size(); ++i)
            progress.push_back(std::make_unique<PrinterProgress>(&run.stopRequested));
    }

    void work();
    PoolProgress snapshot() const;

    Printer::PosLibrary &library;
    const QList<Printer::Target> &targets;
    const Job &job;
    const PoolRun &run;
    std::vector<std::unique_ptr<PrinterProgress>> progress;
    std::vector<JobRow> rows;
    std::vector<bool> ended;
    mutable std::mutex mutex;
    std::condition_variable changed;
    int next = 0;
    int done = 0;
    int failed = 0;
};

void Shared::work()
{
    for (;;) {
        int i = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (next >= targets.size())
                return;
            i = next++;
        }
        JobRow row;
        if (progress[size_t(i)]->stopRequested()) {
            row.target = targets.at(i);
            row.state = JobRow::State::Stopped;
            row.reason = QStringLiteral("Stopped before it started");
        } else {
            row = runJob(library, targets.at(i), job, *progress[size_t(i)]);
        }
        {
            const std::lock_guard<std::mutex> lock(mutex);
            rows[size_t(i)] = std::move(row);
            ended[size_t(i)] = true;
            ++done;
            if (!rows[size_t(i)].succeeded())
                ++failed;
        }
        changed.notify_one();
    }
}

PoolProgress Shared::snapshot() const
{
    PoolProgress now;
    now.count = int(targets.size());
    {
        const std::lock_guard<std::mutex> lock(mutex);
        now.done = done;
        now.failed = failed;
    }
    for (const auto &one : progress)
        now.moved += one->moved();
    return now;
}

} // namespace

std::vector<JobRow> runPool(Printer::PosLibrary &library,
                            const QList<Printer::Target> &targets,
                            const Job &job,
                            const PoolRun &run)
{
    Shared shared(library, targets, job, run);
    const int count = int(targets.size());
    std::vector<bool> reported(size_t(count), false);
    std::vector<std::thread> workers;
    const int threads = std::clamp(run.jobs, 1, std::max(1, count));
    for (int t = 0; t < threads && t < count; ++t)
        workers.emplace_back([&shared] { shared.work(); });

    std::unique_lock<std::mutex> lock(shared.mutex);
    for (;;) {
        // Rows that ended are passed on without the lock: the observer may take its time.
        std::vector<std::pair<int, JobRow>> finished;
        for (int i = 0; i < count; ++i) {
            if (shared.ended[size_t(i)] && !reported[size_t(i)]) {
                reported[size_t(i)] = true;
                finished.emplace_back(i, shared.rows[size_t(i)]);
            }
        }
        const bool all = shared.done == count;
        const int seen = shared.done;
        lock.unlock();
        for (const auto &[index, row] : finished) {
            if (run.finished)
                run.finished(index, row);
        }
        if (run.progress)
            run.progress(shared.snapshot());
        lock.lock();
        if (all)
            break;
        shared.changed.wait_for(lock, run.interval, [&] { return shared.done != seen; });
    }
    lock.unlock();
    for (std::thread &worker : workers)
        worker.join();
    return std::move(shared.rows);
}

} // namespace Commands
