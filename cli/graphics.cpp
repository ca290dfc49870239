#include "graphics.h"

#include "argumentbytes.h"
#include "exitcodes.h"
#include "rows.h"
#include "streamoutput.h"
#include "targets.h"
#include "terminal.h"
#include "warnings.h"

#include <commands/graphicscommand.h>
#include <commands/jobs.h>
#include <commands/messages.h>
#include <escpos/commands.h>

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
  define KEY PICTURE [preparation] [--strict] [-o FILE]
                        store the picture under KEY and check that the printer lists it
                        (-o: write the command to FILE instead, no printer needed)
  list [--json]         the keys the printer holds
  capacity [--json]     the printer's NV graphics memory, total and free, in bytes
  delete KEY | --all    delete one graphic, or every graphic
  print KEY [--scale WxH]
                        print the graphic (W and H each 1 or 2) and cut the paper

Options:
  -o, --output <file>     define: write the command to the file, send nothing
  --paper <width>         define: the paper, 58mm, 80mm or dots (default 80mm)
  --fit                   define: scale the picture to the paper's width
  --center                define: white on both sides up to the paper's width
  --threshold <N>         define: black where brightness is below N (0 to 255)
  --dither                define: convert by brightness with error diffusion
  --invert                define: swap black and white
  --rotate <degrees>      define: turn clockwise, 90, 180 or 270
  --trim                  define: remove the white margins
  --strict                define: refuse, sending nothing, when the picture gets a warning
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

using Commands::bytesText;
using Commands::JobRow;
using std::chrono::milliseconds;

const QString EraseWarning = QStringLiteral(
        "warning: printers erase their NV bit images (the ones 'download' stores) when an NV "
        "graphic is defined.\n");

// The key from the command line: two characters, each 32..126; false (exitCode set) otherwise.
bool keyArgument(const QString &text, QByteArray &key, const Context &c, int &exitCode)
{
    const QByteArray bytes = text.toLatin1();
    if (text.size() != 2 || !EscPos::isGraphicsKey(bytes) || QString::fromLatin1(bytes) != text) {
        exitCode = usage(c,
                         QStringLiteral("a key is two characters, each from space to '~', not "
                                        "'%1'.")
                                 .arg(text));
        return false;
    }
    key = bytes;
    return true;
}

void addTalkOptions(QCommandLineParser &parser)
{
    addPortOptions(parser);
    parser.addOption({QStringLiteral("timeout"),
                      QStringLiteral("How long to wait for each answer of the printer, in "
                                     "seconds (default 10)."),
                      QStringLiteral("seconds"),
                      QStringLiteral("10")});
}

// The printers and the reply wait.
bool talkOptions(const QCommandLineParser &parser,
                 Printers &printers,
                 milliseconds &timeout,
                 const Context &c,
                 int &exitCode)
{
    return printersOf(parser, printers, c, exitCode)
           && timeoutOption(parser, QStringLiteral("timeout"), timeout, c, exitCode);
}

// What one printer's row tells on the command line: the success line, or why not and the
// exit status that goes with it.
int finishOne(const JobRow &row, std::FILE *doneTo, const QString &done, const Context &c)
{
    switch (row.state) {
    case JobRow::State::Done:
        print(doneTo, done);
        break;
    case JobRow::State::NotReady:
        print(c.err, QStringLiteral("nvlogo-cli: %1\n").arg(row.reason));
        break;
    case JobRow::State::Waiting:
    case JobRow::State::Failed:
    case JobRow::State::Stopped:
        printFailure(c, row.target.kind(), {row.failure, row.reason});
        break;
    }
    return exitStatusOf({row});
}

using Conversation
        = std::function<int(Commands::PrinterLink &, Commands::Progress &, milliseconds timeout)>;

// A conversation with the one printer of the port options that prints its own answer.
int askOne(const QCommandLineParser &parser, const Context &c, const Conversation &conversation)
{
    Printers printers;
    printers.targets.append(Printer::Target());
    milliseconds timeout{};
    int exitCode = ExitSuccess;
    if (!onePrinter(parser, printers.targets.first(), c, exitCode)
        || !timeoutOption(parser, QStringLiteral("timeout"), timeout, c, exitCode))
        return exitCode;
    int code = ExitFailure;
    const JobRow row
            = runOn(
                      printers,
                      [&](Commands::PrinterLink &link, Commands::Progress &progress, JobRow &row) {
                          const Printer::Result<void> opened = link.open();
                          if (!opened.ok()) {
                              row.state = JobRow::State::Failed;
                              row.failure = opened.failure().kind;
                              row.reason = opened.failure().reason;
                              return;
                          }
                          code = conversation(link, progress, timeout);
                          (void)link.close();
                          row.state = JobRow::State::Done;
                      },
                      0,
                      c)
                      .front();
    if (!row.succeeded()) {
        printFailure(c, row.target.kind(), {row.failure, row.reason});
        return ExitFailure;
    }
    return code;
}

void printJson(const Context &c, const QJsonObject &object)
{
    print(c.out, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
}

// The define built from the picture, or false after telling why; what the picture deserves a
// warning for is said first.
bool defineOf(const QByteArray &key,
              const QString &picture,
              const NvImage::Preparation &preparation,
              Commands::GraphicDefine &define,
              const Context &c,
              bool &warned)
{
    try {
        QList<NvImage::PreviewWarning> warnings;
        const EscPos::DotImage dots
                = Commands::graphicDots(picture, preparation, terminationRequested, &warnings);
        warned = printWarnings({picture}, {warnings}, {preparation.paperDots, 0}, c);
        define = Commands::GraphicDefine::of(key, dots);
        return true;
    } catch (const std::exception &error) {
        print(c.err,
              QStringLiteral("nvlogo-cli: error: %1\n").arg(QString::fromUtf8(error.what())));
        return false;
    }
}

int writeDefine(const Commands::GraphicDefine &define, const QString &output, const Context &c)
{
    const QString error = writeStreamOutput(argumentBytes(output), define.command);
    if (!error.isEmpty()) {
        print(c.err, QStringLiteral("nvlogo-cli: error: cannot write %1: %2\n").arg(output, error));
        return ExitFailure;
    }
    print(c.err,
          QStringLiteral("Wrote %1 bytes (%2: %3 × %4 dots, %5 bytes of dots) to %6\n")
                  .arg(bytesText(define.command.size()), Commands::keyText(define.key))
                  .arg(define.width)
                  .arg(define.height)
                  .arg(bytesText(define.needed), output));
    return ExitSuccess;
}

QString storedText(const Commands::GraphicDefine &define, const JobRow &row)
{
    const qint64 remaining = row.defined ? row.defined->remaining : -1;
    return QStringLiteral("Stored %1: %2 × %3 dots, %4 bytes; %5.\n")
            .arg(Commands::keyText(define.key))
            .arg(define.width)
            .arg(define.height)
            .arg(bytesText(define.needed),
                 remaining < 0 ? QStringLiteral("free memory unknown")
                               : QStringLiteral("%1 bytes free").arg(bytesText(remaining)));
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
    addPreparationOptions(parser);
    addTalkOptions(parser);
    addManyOptions(parser);
    int exitCode = ExitSuccess;
    NvImage::Preparation preparation;
    if (!parse(parser, QStringLiteral("graphics define"), arguments, c, exitCode)
        || !preparationOf(parser, preparation, c, exitCode))
        return exitCode;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return usage(c, QStringLiteral("graphics define needs a key and one picture."));
    QByteArray key;
    if (!keyArgument(positional.at(0), key, c, exitCode))
        return exitCode;
    const bool toFile = parser.isSet(QStringLiteral("output"));
    Printers printers;
    milliseconds timeout{};
    if (!toFile && !talkOptions(parser, printers, timeout, c, exitCode))
        return exitCode;
    Commands::GraphicDefine define;
    bool warned = false;
    if (!defineOf(key, positional.at(1), preparation, define, c, warned))
        return ExitFailure;
    if (warned && parser.isSet(QStringLiteral("strict")))
        return refusedForWarnings(c);
    print(c.err, EraseWarning);
    if (toFile)
        return writeDefine(define, parser.value(QStringLiteral("output")), c);
    const auto rows
            = runOn(printers, Commands::defineJob(define, timeout), define.command.size(), c, true);
    if (printers.many)
        return finishMany(rows, RowKind::Delivery, printers.json, c);
    return finishOne(rows.front(), c.out, storedText(define, rows.front()), c);
}

int list(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("json"), QStringLiteral("Print one JSON object.")});
    addTalkOptions(parser);
    int exitCode = ExitSuccess;
    if (!parse(parser, QStringLiteral("graphics list"), arguments, c, exitCode))
        return exitCode;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("graphics list takes no arguments."));
    const bool json = parser.isSet(QStringLiteral("json"));
    return askOne(
            parser,
            c,
            [&](Commands::PrinterLink &link, Commands::Progress &progress, milliseconds timeout) {
                const auto keys = Commands::askGraphicsKeys(link, timeout, &progress);
                if (!keys.ok()) {
                    printFailure(c, link.target().kind(), keys.failure());
                    return ExitFailure;
                }
                if (json) {
                    QJsonArray array;
                    for (const QByteArray &key : keys.value())
                        array.append(Commands::keyText(key));
                    printJson(c, QJsonObject{{QStringLiteral("keys"), array}});
                } else {
                    for (const QByteArray &key : keys.value())
                        print(c.out, Commands::keyText(key) + QLatin1Char('\n'));
                }
                return ExitSuccess;
            });
}

int capacity(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("json"), QStringLiteral("Print one JSON object.")});
    addTalkOptions(parser);
    int exitCode = ExitSuccess;
    if (!parse(parser, QStringLiteral("graphics capacity"), arguments, c, exitCode))
        return exitCode;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("graphics capacity takes no arguments."));
    const bool json = parser.isSet(QStringLiteral("json"));
    return askOne(
            parser,
            c,
            [&](Commands::PrinterLink &link, Commands::Progress &progress, milliseconds timeout) {
                const auto memory = Commands::askGraphicsMemory(link, timeout, &progress);
                if (!memory.ok()) {
                    printFailure(c, link.target().kind(), memory.failure());
                    return ExitFailure;
                }
                if (json) {
                    printJson(c,
                              QJsonObject{{QStringLiteral("capacity"), memory.value().capacity},
                                          {QStringLiteral("remaining"), memory.value().remaining}});
                } else {
                    print(c.out,
                          QStringLiteral("Capacity: %1 bytes\nFree: %2 bytes\n")
                                  .arg(bytesText(memory.value().capacity),
                                       bytesText(memory.value().remaining)));
                }
                return ExitSuccess;
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
    addManyOptions(parser);
    int exitCode = ExitSuccess;
    if (!parse(parser, QStringLiteral("graphics delete"), arguments, c, exitCode))
        return exitCode;
    const QStringList positional = parser.positionalArguments();
    const bool all = parser.isSet(QStringLiteral("all"));
    if (all == !positional.isEmpty() || positional.size() > 1)
        return usage(c, QStringLiteral("graphics delete needs one key or --all."));
    QByteArray key;
    if (!all && !keyArgument(positional.at(0), key, c, exitCode))
        return exitCode;
    Printers printers;
    milliseconds timeout{};
    if (!talkOptions(parser, printers, timeout, c, exitCode))
        return exitCode;
    const auto rows = runOn(printers, Commands::deleteJob(key, timeout), 0, c);
    if (printers.many)
        return finishMany(rows, RowKind::Delivery, printers.json, c);
    return finishOne(rows.front(),
                     c.err,
                     all ? QStringLiteral("Deleted every NV graphic.\n")
                         : QStringLiteral("Deleted %1.\n").arg(Commands::keyText(key)),
                     c);
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
    addManyOptions(parser);
    int exitCode = ExitSuccess;
    if (!parse(parser, QStringLiteral("graphics print"), arguments, c, exitCode))
        return exitCode;
    if (parser.positionalArguments().size() != 1)
        return usage(c, QStringLiteral("graphics print needs exactly one key."));
    QByteArray key;
    if (!keyArgument(parser.positionalArguments().constFirst(), key, c, exitCode))
        return exitCode;
    static const QStringList Scales = {QStringLiteral("1x1"),
                                       QStringLiteral("1x2"),
                                       QStringLiteral("2x1"),
                                       QStringLiteral("2x2")};
    const QString scale = parser.value(QStringLiteral("scale"));
    if (!Scales.contains(scale))
        return usage(c,
                     QStringLiteral("--scale must be one of %1, not '%2'.")
                             .arg(Scales.join(QStringLiteral(", ")), scale));
    Printers printers;
    milliseconds timeout{};
    if (!talkOptions(parser, printers, timeout, c, exitCode))
        return exitCode;
    const QByteArray bytes
            = Commands::printGraphicBytes(key, scale.at(0).digitValue(), scale.at(2).digitValue());
    const auto rows = runOn(printers, Commands::printJob(bytes, false, timeout), 0, c);
    if (printers.many)
        return finishMany(rows, RowKind::Delivery, printers.json, c);
    return finishOne(rows.front(), c.err, QString(), c);
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
        return ExitSuccess;
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
