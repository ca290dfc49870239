#pragma once

// What every nvlogo-cli command shares: its output streams, the usage error, the port,
// capacity and conversion options, and the printer library.

#include <nvimage/picturesurface.h>

#include <QString>
#include <QStringList>

#include <cstdio>

class QCommandLineParser;

namespace Printer {
class PosLibrary;
struct Failure;
struct PortSettings;
} // namespace Printer

namespace Cli {

struct Context
{
    std::FILE *out;
    std::FILE *err;
};

// Writes text as it is, with file names shown as the user typed them.
void print(std::FILE *stream, const QString &text);

// A wrong command line: the message and a pointer to --help; returns UsageError.
int usage(const Context &c, const QString &message);

// The serial speeds --baud takes.
const QStringList &baudRates();

void addPortOptions(QCommandLineParser &parser);
void addCapacityOption(QCommandLineParser &parser);
void addDitherOption(QCommandLineParser &parser);

NvImage::Conversion conversionOf(const QCommandLineParser &parser);

// --nv-capacity, else the environment's setting; false (status set) on a bad value.
bool nvCapacity(const QCommandLineParser &parser, qint64 &capacity, const Context &c, int &status);

// Parses a subcommand's options; returns false and sets status when it is done already
// (help, version or a usage error).
bool parse(QCommandLineParser &parser,
           const QString &command,
           const QStringList &arguments,
           const Context &c,
           int &status);

// The same settings the window reads from its controls, with the window's start values.
bool portSettings(const QCommandLineParser &parser,
                  Printer::PortSettings &settings,
                  const Context &c,
                  int &status);

Printer::PosLibrary &library();

// A failure's reason on standard error, and the hint its kind gives on that kind of port.
void printFailure(const Context &c,
                  const Printer::PortSettings &port,
                  const Printer::Failure &failure);

} // namespace Cli
