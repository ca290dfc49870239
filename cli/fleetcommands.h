#pragma once

// download, print and status for many printers: the one stream built once, then the pool.

#include "fleet.h"

#include <nvimage/nvimagefile.h>

#include <QByteArray>
#include <QStringList>

#include <chrono>

namespace Cli {

struct FleetOptions
{
    QList<Printer::PortSettings> targets;
    int jobs = DefaultJobs;
    bool json = false;
};

// --targets, a repeated --ip, --jobs and --json; targets stays empty when the command line
// names just the one printer of the port options. False (status set) on a usage error.
bool fleetOptions(const QCommandLineParser &parser,
                  FleetOptions &fleet,
                  const Context &c,
                  int &status);

// Whether the command goes to the pool: several printers, or JSON asked for; single, the
// printer of the port options, is then the one target when no other is named.
bool isFleet(FleetOptions &fleet, const Printer::PortSettings &single);

// The pictures become one stream, which every printer is sent; with waitReady above 0 each
// printer is then waited for until it reports online again.
int downloadToMany(const QStringList &pictures,
                   qint64 nvCapacity,
                   NvImage::Conversion conversion,
                   std::chrono::milliseconds waitReady,
                   const FleetOptions &fleet,
                   const Context &c);

// The print-out bytes to every printer; with confirm each is asked first and must report the
// print-out done within timeout.
int printToMany(const QByteArray &printOut,
                bool confirm,
                std::chrono::milliseconds timeout,
                const FleetOptions &fleet,
                const Context &c);

// NV graphics: the define command (built once, with its dot bytes) stored under key in
// every printer and checked in its key list; a delete (key empty: all) checked the same way.
int defineGraphicOnMany(const QByteArray &key,
                        const QByteArray &define,
                        qint64 needed,
                        std::chrono::milliseconds timeout,
                        const FleetOptions &fleet,
                        const Context &c);
int deleteGraphicOnMany(const QByteArray &key,
                        const QByteArray &command,
                        std::chrono::milliseconds timeout,
                        const FleetOptions &fleet,
                        const Context &c);

// Asks every printer for its status within timeout.
int statusOfMany(std::chrono::milliseconds timeout, const FleetOptions &fleet, const Context &c);

} // namespace Cli
