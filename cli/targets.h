#pragma once

// The printers a command line names, and running a job on them: one printer here with a
// progress line, or many in the pool with a summary line.

#include "options.h"

#include <commands/jobs.h>
#include <commands/pool.h>
#include <printer/target.h>

#include <QList>

#include <vector>

class QCommandLineParser;

namespace Cli {

// --port, --ip, --printer and --baud: the one printer.
void addPortOptions(QCommandLineParser &parser);
// --targets, --jobs and, unless the command has it already, --json: many printers.
void addManyOptions(QCommandLineParser &parser, bool withJson = true);

struct Printers
{
    QList<Printer::Target> targets;
    int jobs = Commands::DefaultJobs;
    bool json = false;
    // Served by the pool, with its table or JSON: several printers, or JSON asked for.
    bool many = false;
};

// The printers the command line names: the port options' one printer, or each --ip when it is
// given more than once and the targets file. jsonMeansMany: whether --json with one printer
// gets the many-printer output. False (exitCode set) on a usage error.
bool printersOf(const QCommandLineParser &parser,
                Printers &printers,
                const Context &c,
                int &exitCode,
                bool jsonMeansMany = true);

// The one printer of the port options, for commands that serve one.
bool onePrinter(const QCommandLineParser &parser,
                Printer::Target &target,
                const Context &c,
                int &exitCode);

// Runs the job on the printers: one here, with a progress line when showProgress; many in the
// pool, with the summary line (bytesEach: what each printer is to get, 0 when the job moves
// no stream). A termination signal stops them.
std::vector<Commands::JobRow> runOn(const Printers &printers,
                                    const Commands::Job &job,
                                    qint64 bytesEach,
                                    const Context &c,
                                    bool showProgress = false);

} // namespace Cli
