#pragma once

// One command to many printers: the printers named by a repeated --ip and a targets file,
// a small pool of workers that talk to several of them at once, each on its own connection,
// and one summary while it runs and at the end.

#include "options.h"

#include <commands/userinterface.h>
#include <printer/portconnection.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

class QCommandLineParser;

namespace Commands {
class PrinterLink;
}

namespace Cli {

constexpr int DefaultJobs = 8;
constexpr int MaxJobs = 256;

// --targets, --jobs and, unless the command has it already, --json.
void addFleetOptions(QCommandLineParser &parser, bool withJson = true);

// One line of a targets file: "ETHERNET host[:port]", "COMn [baud]", "COM:/path [baud]",
// "LPTn", "LPT:/path" or "DRIVER queue". A serial line without a baud rate gets
// defaultBaud. False, with why, for anything else.
bool parseTargetLine(const QString &line,
                     const QString &defaultBaud,
                     Printer::PortSettings &target,
                     QString &why);

// Every line of a targets file; blank lines and lines starting with # are skipped. False,
// with the message naming the line, when a line is wrong or the file cannot be read.
bool parseTargets(const QByteArray &text,
                  const QString &fileName,
                  const QString &defaultBaud,
                  QList<Printer::PortSettings> &targets,
                  QString &error);

// The printers the command line names: each --ip when it is given more than once, and the
// targets file; empty (status Success) when it names just the one printer of the port
// options. False, with a usage error, when they are wrong.
bool fleetTargets(const QCommandLineParser &parser,
                  QList<Printer::PortSettings> &targets,
                  const Context &c,
                  int &status);

// --jobs: 1 to MaxJobs, DefaultJobs when not given.
bool jobsOption(const QCommandLineParser &parser, int &jobs, const Context &c, int &status);

// What became of one printer.
struct FleetRow
{
    // NotReady: the printer answered, or took the stream, but is not ready (status,
    // --wait-ready) or did not confirm (print --confirm).
    enum class Result { Waiting, Ok, NotReady, Failed, Stopped };

    QString target;
    Result result = Result::Waiting;
    qint64 bytes = 0; // that reached the printer
    double seconds = 0;
    QString reason;     // why it did not succeed, or what a status answer said
    QJsonObject status; // for status: the object of `status --json`
};

// How one worker's printer is getting on, seen by the summary on the main thread.
class FleetProgress final : public Commands::Progress
{
public:
    void bytesMoved(qint64 moved, qint64 total) override;
    bool stopRequested() const override;

    qint64 moved() const { return m_moved.load(); }

private:
    std::atomic<qint64> m_moved{0};
};

// The work for one printer, on a worker thread: the link is not open yet. Fills the row's
// result, bytes and reason; the pool times it.
using FleetJob
        = std::function<void(Commands::PrinterLink &link, FleetProgress &progress, FleetRow &row)>;

struct FleetRun
{
    // Bytes each printer is to get, for the summary; 0 when the job moves no stream.
    qint64 bytesEach = 0;
    int jobs = DefaultJobs;
    // Every row gets the status object, also one that was never asked.
    bool asksStatus = false;
};

// Runs job for every target on up to run.jobs threads at once, shows the summary line on
// c.err while they work, and returns one row per target in the targets' order. A
// termination signal stops every connection; rows that had not finished are Stopped.
std::vector<FleetRow> runFleet(const QList<Printer::PortSettings> &targets,
                               const FleetRun &run,
                               const FleetJob &job,
                               const Context &c);

// "3 of 8 done, 1 failed, 412 KB of 1.2 MB"; no bytes part when total is 0.
QString summaryLine(int done, int failed, int count, qint64 moved, qint64 total);
// 512 bytes, 412 KB, 1.2 MB, 3.4 GB (powers of 1000).
QString byteText(qint64 bytes);

// The table: target, result, bytes, time, reason.
QString fleetTable(const std::vector<FleetRow> &rows);
// {"target", "ok", "bytes", "seconds", "reason"}, or the status object with its target.
QJsonObject fleetJson(const FleetRow &row);

// What the run prints at its end: with json the one object (one target) or the array, else
// the table; and the exit status: Failure when any failed or stopped, else NotConfirmed when
// any is not ready, else Success.
int finishFleet(const std::vector<FleetRow> &rows, bool json, const Context &c);

} // namespace Cli
