#pragma once

// The many-printer engine: one job for every printer, up to a number of printers at once,
// each on a connection of its own, with the run's progress seen from the calling thread.

#include "jobs.h"

#include <printer/target.h>

#include <QList>

#include <chrono>
#include <functional>
#include <vector>

namespace Printer {
class PosLibrary;
}

namespace Commands {

constexpr int DefaultJobs = 8;
constexpr int MaxJobs = 256;

// How far a run has come.
struct PoolProgress
{
    int count = 0;
    int done = 0;
    int failed = 0;   // done, but not Done
    qint64 moved = 0; // bytes that reached the printers so far
};

struct PoolRun
{
    int jobs = DefaultJobs;
    // Asked by every job while it works and before each printer starts: true stops them all;
    // the printers not started yet are Stopped.
    std::function<bool()> stopRequested;
    // Called on the calling thread at the start, whenever a printer finished or interval
    // passed, and at the end.
    std::function<void(const PoolProgress &)> progress;
    // Called on the calling thread for each printer as it finishes.
    std::function<void(int index, const JobRow &row)> finished;
    std::chrono::milliseconds interval{1000};
};

// Runs job for every target on up to run.jobs threads at once and returns one row per
// target in the targets' order. Returns when every job has ended.
std::vector<JobRow> runPool(Printer::PosLibrary &library,
                            const QList<Printer::Target> &targets,
                            const Job &job,
                            const PoolRun &run);

} // namespace Commands
