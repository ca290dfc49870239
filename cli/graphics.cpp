#include "graphics.h"

#include "argumentbytes.h"
#include "asking.h"
#include "commands.h"
#include "consoledialogs.h"
#include "fleetcommands.h"
#include "streamoutput.h"

#include <commands/graphicscommand.h>
#include <commands/messages.h>
#include <commands/settings.h>
#include <escpos/commands.h>
#include <nvimage/errors.h>
#include <printer/failure.h>
#include <printer/portconnection.h>

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <functional>
#include <map>

namespace Cli {

const char GraphicsHelp[] = R"(Usage: nvlogo-cli graphics ACTION [OPTIONS] [ARGUMENTS]

NV graphics: pictures the printer stores one at a time under a two-character key
(each character from space to '~'), replaced, deleted and printed by that key.

Actions:
  define KEY PICTURE [--dither] [-o FILE]
                        store the picture under KEY and check that the printer lists it
                        (-o: write the command to FILE instead, no printer needed)
  list [--json]         the keys the printer holds
  capacity [--json]     the printer's NV graphics memory, total and free, in bytes
  delete KEY | --all    delete one graphic, or every graphic
  print KEY [--scale WxH]
                        print the graphic (W and H each 1 or 2) and cut the paper

Options:
  -o, --output <file>     define: write the command to the file, send nothing
  --dither                define: convert by brightness with error diffusion
  --json                  list, capacity: print one JSON object
  --all                   delete: every graphic
  --scale <WxH>           print: 1x1, 1x2, 2x1 or 2x2 (default 1x1)
  --timeout <seconds>     how long to wait for each answer (default 10)
  --port <text>           the connection, as for download
  --ip <address>          the printer's address, as for download
  --printer <name>        the printer queue, as for download
  --baud <rate>           the serial line's speed, as for download
  -h, --help              this help; after an action, the action's options
  --help-all              the same, with the options of every Qt program
  -v, --version           the program's version

Warning: printers erase their NV bit images (the ones 'download' stores) when an NV
graphic is defined. Keep to one of the two kinds on a printer.

Run 'nvlogo-cli graphics ACTION --help' for an action's options.
)";

namespace {

using std::chrono::milliseconds;

const QString EraseWarning = QStringLiteral(
        "warning: printers erase their NV bit images (the ones 'download' stores) when an NV "
        "graphic is defined.\n");

QString bytesText(qint64 bytes)
{
    return QLocale(QLocale::English).toString(bytes);
}

// The key from the command line: two characters, each 32..126; false (status set) otherwise.
bool keyArgument(const QString &text, QByteArray &key, const Context &c, int &status)
{
    const QByteArray bytes = text.toLatin1();
    if (text.size() != 2 || !EscPos::isGraphicsKey(bytes) || QString::fromLatin1(bytes) != text) {
        status = usage(c,
                       QStringLiteral("a key is two characters, each from space to '~', not "
                                      "'%1'.")
                               .arg(text));
        return false;
    }
    key = bytes;
    return true;
}

// What every action that talks to the printer shares: the parsed port and the reply wait.
struct Talk
{
    Printer::PortSettings port;
    milliseconds timeout{};
};

void addTalkOptions(QCommandLineParser &parser)
{
    addPortOptions(parser);
    parser.addOption({QStringLiteral("timeout"),
                      QStringLiteral("How long to wait for each answer of the printer, in "
                                     "seconds (default 10)."),
                      QStringLiteral("seconds"),
                      QStringLiteral("10")});
}

bool talkOptions(const QCommandLineParser &parser, Talk &talk, const Context &c, int &status)
{
    return portSettings(parser, talk.port, c, status)
           && timeoutOption(parser, QStringLiteral("timeout"), talk.timeout, c, status);
}

// talkOptions, or the printers of --targets and a repeated --ip with the reply wait; the
// one printer's port is talk.port.
bool manyTalkOptions(const QCommandLineParser &parser,
                     Talk &talk,
                     FleetOptions &fleet,
                     const Context &c,
                     int &status)
{
    if (!fleetOptions(parser, fleet, c, status))
        return false;
    if (fleet.targets.isEmpty())
        return talkOptions(parser, talk, c, status);
    talk.port = fleet.targets.constFirst();
    return timeoutOption(parser, QStringLiteral("timeout"), talk.timeout, c, status);
}

// Opens the link and runs the conversation; the exit status is what it returns, Failure when
// the port does not open.
int withLink(const Talk &talk,
             const Context &c,
             const std::function<int(Commands::PrinterLink &, ConsoleProgress &)> &conversation,
             bool showProgress = false)
{
    ConsoleProgress progress(Commands::describeTarget(talk.port),
                             Commands::serialBaudRate(talk.port),
                             c.err,
                             showProgress);
    Commands::PrinterLink link(library(), talk.port);
    const Printer::Result<void> opened = link.open();
    if (!opened.ok()) {
        print(c.err, Commands::failToOpenPortText() + QLatin1Char('\n'));
        printFailure(c, talk.port, opened.failure());
        return Failure;
    }
    int code = conversation(link, progress);
    const Printer::Result<void> closed = link.close();
    if (!closed.ok() && code == Success) {
        printFailure(c, talk.port, closed.failure());
        code = Failure;
    }
    return code;
}

void printJson(const Context &c, const QJsonObject &object)
{
    print(c.out, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
}

int define(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("KEY"),
                                 QStringLiteral("Two characters, each from space to '~'."));
    parser.addPositionalArgument(QStringLiteral("PICTURE"),
                                 QStringLiteral("A BMP, JPEG, GIF or PNG file. Warning: printers "
                                                "erase their NV bit images (the ones 'download' "
                                                "stores) when an NV graphic is defined."));
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")},
                      QStringLiteral("Write the define command to this file instead of sending "
                                     "it."),
                      QStringLiteral("file")});
    addDitherOption(parser);
    addTalkOptions(parser);
    addFleetOptions(parser);
    int status = Success;
    if (!parse(parser, QStringLiteral("graphics define"), arguments, c, status))
        return status;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return usage(c, QStringLiteral("graphics define needs a key and one picture."));
    QByteArray key;
    if (!keyArgument(positional.at(0), key, c, status))
        return status;
    const bool toFile = parser.isSet(QStringLiteral("output"));
    Talk talk;
    FleetOptions fleet;
    if (!toFile && !manyTalkOptions(parser, talk, fleet, c, status))
        return status;

    NvImage::DotImage dots;
    QByteArray command;
    try {
        dots = Commands::graphicDots(positional.at(1), conversionOf(parser));
        command = EscPos::nvGraphicsDefine(key, dots);
    } catch (const std::exception &error) {
        print(c.err,
              QStringLiteral("nvlogo-cli: error: %1\n").arg(QString::fromUtf8(error.what())));
        return Failure;
    }
    const qint64 data = EscPos::nvGraphicsDataSize(dots.width, dots.height);
    print(c.err, EraseWarning);

    if (toFile) {
        const QString output = parser.value(QStringLiteral("output"));
        const QString error = writeStreamOutput(argumentBytes(output), command);
        if (!error.isEmpty()) {
            print(c.err,
                  QStringLiteral("nvlogo-cli: error: cannot write %1: %2\n").arg(output, error));
            return Failure;
        }
        print(c.err,
              QStringLiteral("Wrote %1 bytes (%2: %3 × %4 dots, %5 bytes of dots) to %6\n")
                      .arg(bytesText(command.size()), Commands::keyText(key))
                      .arg(dots.width)
                      .arg(dots.height)
                      .arg(bytesText(data), output));
        return Success;
    }
    if (isFleet(fleet, talk.port))
        return defineGraphicOnMany(key, command, data, talk.timeout, fleet, c);

    return withLink(
            talk,
            c,
            [&](Commands::PrinterLink &link, ConsoleProgress &progress) {
                const auto defined
                        = Commands::defineGraphic(link, key, dots, talk.timeout, &progress);
                if (!defined.ok()) {
                    printFailure(c, talk.port, defined.failure());
                    return Failure;
                }
                switch (defined.value().result) {
                case Commands::DefineResult::Stored:
                    print(c.out,
                          QStringLiteral("Stored %1: %2 × %3 dots, %4 bytes; %5.\n")
                                  .arg(Commands::keyText(key))
                                  .arg(dots.width)
                                  .arg(dots.height)
                                  .arg(bytesText(data),
                                       defined.value().remaining < 0
                                               ? QStringLiteral("free memory unknown")
                                               : QStringLiteral("%1 bytes free")
                                                         .arg(bytesText(
                                                                 defined.value().remaining))));
                    return Success;
                case Commands::DefineResult::Refused:
                    print(c.err,
                          QStringLiteral("nvlogo-cli: error: %1 %2; nothing was sent.\n")
                                  .arg(Commands::keyText(key), defined.value().reason));
                    return Failure;
                case Commands::DefineResult::Unconfirmed:
                    break;
                }
                print(c.err,
                      QStringLiteral("nvlogo-cli: sent, not confirmed: %1\n")
                              .arg(defined.value().reason));
                return NotConfirmed;
            },
            true);
}

int list(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("json"), QStringLiteral("Print one JSON object.")});
    addTalkOptions(parser);
    int status = Success;
    if (!parse(parser, QStringLiteral("graphics list"), arguments, c, status))
        return status;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("graphics list takes no arguments."));
    Talk talk;
    if (!talkOptions(parser, talk, c, status))
        return status;
    return withLink(talk, c, [&](Commands::PrinterLink &link, ConsoleProgress &progress) {
        const auto keys = Commands::askGraphicsKeys(link, talk.timeout, &progress);
        if (!keys.ok()) {
            printFailure(c, talk.port, keys.failure());
            return Failure;
        }
        if (parser.isSet(QStringLiteral("json"))) {
            QJsonArray array;
            for (const QByteArray &key : keys.value())
                array.append(Commands::keyText(key));
            printJson(c, QJsonObject{{QStringLiteral("keys"), array}});
        } else {
            for (const QByteArray &key : keys.value())
                print(c.out, Commands::keyText(key) + QLatin1Char('\n'));
        }
        return Success;
    });
}

int capacity(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("json"), QStringLiteral("Print one JSON object.")});
    addTalkOptions(parser);
    int status = Success;
    if (!parse(parser, QStringLiteral("graphics capacity"), arguments, c, status))
        return status;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("graphics capacity takes no arguments."));
    Talk talk;
    if (!talkOptions(parser, talk, c, status))
        return status;
    return withLink(talk, c, [&](Commands::PrinterLink &link, ConsoleProgress &progress) {
        const auto total = Commands::askGraphicsCapacity(link, talk.timeout, &progress);
        const auto remaining
                = total.ok() ? Commands::askGraphicsRemaining(link, talk.timeout, &progress)
                             : Printer::Result<qint64>(total.failure());
        if (!remaining.ok()) {
            printFailure(c, talk.port, remaining.failure());
            return Failure;
        }
        if (parser.isSet(QStringLiteral("json"))) {
            printJson(c,
                      QJsonObject{{QStringLiteral("capacity"), total.value()},
                                  {QStringLiteral("remaining"), remaining.value()}});
        } else {
            print(c.out,
                  QStringLiteral("Capacity: %1 bytes\nFree: %2 bytes\n")
                          .arg(bytesText(total.value()), bytesText(remaining.value())));
        }
        return Success;
    });
}

int remove(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("KEY"),
                                 QStringLiteral("The graphic to delete (or --all)."),
                                 QStringLiteral("[KEY]"));
    parser.addOption({QStringLiteral("all"), QStringLiteral("Delete every NV graphic.")});
    addTalkOptions(parser);
    addFleetOptions(parser);
    int status = Success;
    if (!parse(parser, QStringLiteral("graphics delete"), arguments, c, status))
        return status;
    const QStringList positional = parser.positionalArguments();
    const bool all = parser.isSet(QStringLiteral("all"));
    if (all == !positional.isEmpty() || positional.size() > 1)
        return usage(c, QStringLiteral("graphics delete needs one key or --all."));
    QByteArray key;
    if (!all && !keyArgument(positional.at(0), key, c, status))
        return status;
    Talk talk;
    FleetOptions fleet;
    if (!manyTalkOptions(parser, talk, fleet, c, status))
        return status;
    if (isFleet(fleet, talk.port)) {
        return deleteGraphicOnMany(key,
                                   all ? EscPos::nvGraphicsDeleteAll()
                                       : EscPos::nvGraphicsDelete(key),
                                   talk.timeout,
                                   fleet,
                                   c);
    }
    return withLink(talk, c, [&](Commands::PrinterLink &link, ConsoleProgress &progress) {
        const Printer::Result<void> sent = link.send(
                all ? EscPos::nvGraphicsDeleteAll() : EscPos::nvGraphicsDelete(key), &progress);
        if (!sent.ok()) {
            printFailure(c, talk.port, sent.failure());
            return Failure;
        }
        // The printer does not answer a delete; its key list tells whether it happened.
        const auto keys = Commands::askGraphicsKeys(link, talk.timeout, &progress);
        QString why;
        if (!keys.ok())
            why = keys.failure().reason;
        else if (all && !keys.value().isEmpty())
            why = QStringLiteral("%1 still lists %2 keys")
                          .arg(link.target())
                          .arg(keys.value().size());
        else if (!all && keys.value().contains(key))
            why = QStringLiteral("%1 still lists %2").arg(link.target(), Commands::keyText(key));
        if (!why.isEmpty()) {
            print(c.err, QStringLiteral("nvlogo-cli: sent, not confirmed: %1\n").arg(why));
            return NotConfirmed;
        }
        print(c.err,
              all ? QStringLiteral("Deleted every NV graphic.\n")
                  : QStringLiteral("Deleted %1.\n").arg(Commands::keyText(key)));
        return Success;
    });
}

int printGraphic(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("KEY"), QStringLiteral("The graphic to print."));
    parser.addOption({QStringLiteral("scale"),
                      QStringLiteral("Width and height factors: 1x1, 1x2, 2x1 or 2x2 (default "
                                     "1x1)."),
                      QStringLiteral("WxH"),
                      QStringLiteral("1x1")});
    addTalkOptions(parser);
    addFleetOptions(parser);
    int status = Success;
    if (!parse(parser, QStringLiteral("graphics print"), arguments, c, status))
        return status;
    if (parser.positionalArguments().size() != 1)
        return usage(c, QStringLiteral("graphics print needs exactly one key."));
    QByteArray key;
    if (!keyArgument(parser.positionalArguments().constFirst(), key, c, status))
        return status;
    static const QStringList Scales = {QStringLiteral("1x1"),
                                       QStringLiteral("1x2"),
                                       QStringLiteral("2x1"),
                                       QStringLiteral("2x2")};
    const QString scale = parser.value(QStringLiteral("scale"));
    if (!Scales.contains(scale))
        return usage(c,
                     QStringLiteral("--scale must be one of %1, not '%2'.")
                             .arg(Scales.join(QStringLiteral(", ")), scale));
    Talk talk;
    FleetOptions fleet;
    if (!manyTalkOptions(parser, talk, fleet, c, status))
        return status;
    const QByteArray bytes
            = Commands::printGraphicBytes(key, scale.at(0).digitValue(), scale.at(2).digitValue());
    if (isFleet(fleet, talk.port))
        return printToMany(bytes, false, talk.timeout, fleet, c);
    return withLink(talk, c, [&](Commands::PrinterLink &link, ConsoleProgress &progress) {
        const Printer::Result<void> sent = link.send(bytes, &progress);
        if (!sent.ok()) {
            printFailure(c, talk.port, sent.failure());
            return Failure;
        }
        return Success;
    });
}

} // namespace

int graphics(const QStringList &arguments, const Context &c)
{
    if (arguments.isEmpty())
        return usage(c,
                     QStringLiteral("graphics needs an action: define, list, capacity, delete "
                                    "or print."));
    const QString action = arguments.constFirst();
    if (action == QLatin1String("--help") || action == QLatin1String("-h")
        || action == QLatin1String("help")) {
        print(c.out, QString::fromLatin1(GraphicsHelp));
        return Success;
    }
    static const std::map<QString, std::function<int(const QStringList &, const Context &)>> actions
            = {{QStringLiteral("define"), define},
               {QStringLiteral("list"), list},
               {QStringLiteral("capacity"), capacity},
               {QStringLiteral("delete"), remove},
               {QStringLiteral("print"), printGraphic}};
    const auto found = actions.find(action);
    if (found == actions.end())
        return usage(c, QStringLiteral("unknown graphics action '%1'.").arg(action));
    return found->second(arguments.mid(1), c);
}

} // namespace Cli
