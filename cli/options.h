#pragma once

// What every nvlogo-cli command shares: its output streams, the usage error, the capacity,
// conversion and timeout options, the printer library and how a failure is told.

#include <nvimage/preparation.h>
#include <printer/failure.h>

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdio>

class QCommandLineParser;

namespace Printer {
class PosLibrary;
}

namespace Cli {

struct Context
{
    std::FILE *out;
    std::FILE *err;
};

// Writes text as it is, with file names shown as the user typed them.
void print(std::FILE *stream, const QString &text);

// "1 picture", "2 pictures".
QString counted(qint64 count, const QString &one, const QString &many);

// A wrong command line: the message and a pointer to --help; returns ExitUsage.
int usage(const Context &c, const QString &message);

void addCapacityOption(QCommandLineParser &parser);

// How pictures are prepared, the same on every command that takes pictures: --paper, --fit,
// --center, --threshold, --dither, --invert, --rotate and --trim; and --strict, which refuses
// a picture that deserves a warning.
void addPreparationOptions(QCommandLineParser &parser, bool withStrict = true);
// The options as a preparation; false (exitCode set) when they are wrong together.
bool preparationOf(const QCommandLineParser &parser,
                   NvImage::Preparation &preparation,
                   const Context &c,
                   int &exitCode);

// --nv-capacity, else the environment's setting; false (exitCode set) on a bad value.
bool nvCapacity(const QCommandLineParser &parser,
                qint64 &capacity,
                const Context &c,
                int &exitCode);

// --NAME SECONDS: a positive number of seconds, at most an hour; false (exitCode set) when it
// is not.
bool timeoutOption(const QCommandLineParser &parser,
                   const QString &name,
                   std::chrono::milliseconds &timeout,
                   const Context &c,
                   int &exitCode);

// Parses a subcommand's options; returns false and sets exitCode when it is done already
// (help, version or a usage error).
bool parse(QCommandLineParser &parser,
           const QString &command,
           const QStringList &arguments,
           const Context &c,
           int &exitCode);

Printer::PosLibrary &library();

// A failure's reason on standard error, and the hint its kind gives on that kind of port.
void printFailure(const Context &c, Printer::PortKind port, const Printer::Failure &failure);

} // namespace Cli
