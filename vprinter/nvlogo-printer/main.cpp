#include "argumentpaths.h"
#include "conditioninput.h"
#include "dnssd.h"
#include "printerservice.h"
#include "terminationsignals.h"

#include <vprinter/nvstore.h>
#include <vprinter/receiptprinter.h>

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHostAddress>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

namespace VirtualPrinter::NvlogoPrinter {

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

void writeLine(std::FILE *stream, const QString &line)
{
    std::fputs(line.toUtf8().append('\n').constData(), stream);
    std::fflush(stream);
}

void say(const QString &line)
{
    writeLine(stdout, QStringLiteral("nvlogo-printer: %1").arg(line));
}

int fail(int status, const QString &message)
{
    writeLine(stderr, QStringLiteral("nvlogo-printer: error: %1").arg(message));
    return status;
}

bool parseHostPort(const QString &text, QHostAddress *address, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535)
        return false;
    if (host == QLatin1String("localhost"))
        *address = QHostAddress(QHostAddress::LocalHost);
    else if (!address->setAddress(host))
        return false;
    *port = quint16(number);
    return true;
}

bool parseNumber(const QString &text, qint64 low, qint64 high, qint64 *value)
{
    bool ok = false;
    *value = text.toLongLong(&ok);
    return ok && *value >= low && *value <= high;
}

// Where the bytes come from.
enum class Source {
    Tcp,        // --listen, or no source named
    Serial,     // --serial
    File,       // --input: the file's bytes, then exit
    ExportOnly, // --export without a source: export the stored images and exit
};

// The command line, checked.
struct Options
{
    Source source = Source::Tcp;
    QHostAddress address;
    quint16 port = 0;
    QString inputFile;
    bool exportImages = false; // --export was given
    QString exportFolder;
    int idleTimeoutSeconds = 0;
    bool dropOnReset = false;
    bool controlStdin = false; // --control-stdin
    QString announceName;      // --announce: the DNS-SD service name, empty for none
    PrinterSettings settings;
    // The folders as the user named them, for messages.
    QString stateShown;
    QString outShown;
    QString pathProblem; // a path given as bytes that cannot be opened
};

// The value of --name, the last one given, as the bytes of the command line.
QByteArray rawValue(const QList<QByteArray> &arguments,
                    const QByteArray &name,
                    const QStringList &valueOptions)
{
    QByteArray value;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QByteArray &argument = arguments.at(i);
        if (argument == "--")
            break;
        if (!argument.startsWith("--"))
            continue;
        const qsizetype equals = argument.indexOf('=');
        const QByteArray option = argument.mid(2, equals < 0 ? -1 : equals - 2);
        const bool takesValue = equals < 0 && valueOptions.contains(QString::fromLatin1(option));
        QByteArray given;
        if (equals >= 0)
            given = argument.mid(equals + 1);
        else if (takesValue && i + 1 < arguments.size())
            given = arguments.at(++i);
        if (option == name && (equals >= 0 || takesValue))
            value = given;
    }
    return value;
}

QStringList valueOptions();

// A path option's value with its bytes kept; the default when it was not given.
bool pathValue(const QCommandLineParser &parser,
               const QList<QByteArray> &arguments,
               const QString &name,
               bool folder,
               QString *path,
               QString *problem)
{
    *path = parser.value(name);
    if (!parser.isSet(name))
        return true;
    const QByteArray bytes = rawValue(arguments, name.toLatin1(), valueOptions());
    if (bytes.isEmpty() || QFile::decodeName(bytes) != *path)
        return true; // the value as Qt read it is the value
    *path = folder ? folderPathFromBytes(bytes, problem) : filePathFromBytes(bytes, problem);
    return !path->isEmpty();
}

// An option that takes a number; its description shows the default at its last %N.
QCommandLineOption numberOption(const QString &name,
                                const QString &description,
                                const QString &valueName,
                                qint64 defaultValue)
{
    return QCommandLineOption(
            name, description.arg(defaultValue), valueName, QString::number(defaultValue));
}

QList<QCommandLineOption> sourceOptions()
{
    return {QCommandLineOption(QStringLiteral("listen"),
                               QStringLiteral("Take raw TCP connections on HOST:PORT (port 0: any "
                                              "free port; default 127.0.0.1:9100)."),
                               QStringLiteral("host:port"),
                               QStringLiteral("127.0.0.1:9100")),
            QCommandLineOption(QStringLiteral("serial"),
                               QStringLiteral("Create a pseudo-terminal and take bytes written to "
                                              "it; its name and the port text to use are printed "
                                              "at start-up.")),
            QCommandLineOption(QStringLiteral("input"),
                               QStringLiteral("Process the bytes in FILE (- for standard input), "
                                              "then exit."),
                               QStringLiteral("file")),
            QCommandLineOption(QStringLiteral("announce"),
                               QStringLiteral("Publish the TCP port over DNS-SD as %1 under "
                                              "NAME, as network printers do (needs a running "
                                              "avahi daemon; without one the printer says so "
                                              "and works on).")
                                       .arg(QLatin1String(DnsSdAnnouncer::ServiceType)),
                               QStringLiteral("name"))};
}

QList<QCommandLineOption> printerOptions()
{
    const QString dataFolder
            = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return {QCommandLineOption(QStringLiteral("out"),
                               QStringLiteral("Write the strips (strip-0001.png, ...) into DIR "
                                              "(default: the current folder)."),
                               QStringLiteral("dir"),
                               QStringLiteral(".")),
            QCommandLineOption(QStringLiteral("state"),
                               QStringLiteral("Keep the NV images in DIR, so that they survive "
                                              "restarts (default: %1).")
                                       .arg(dataFolder),
                               QStringLiteral("dir"),
                               dataFolder),
            QCommandLineOption(QStringLiteral("export"),
                               QStringLiteral("Write each stored NV image as DIR/nv-N.png. Alone "
                                              "(or with --input, after the file): export and "
                                              "exit. With --listen or --serial: export at "
                                              "start-up and after every definition."),
                               QStringLiteral("dir")),
            numberOption(QStringLiteral("paper-width"),
                         QStringLiteral("Printable width in dots, %1 to %2 (default %3).")
                                 .arg(MinPaperWidth)
                                 .arg(MaxPaperWidth),
                         QStringLiteral("dots"),
                         DefaultPaperWidth),
            numberOption(QStringLiteral("nv-capacity"),
                         QStringLiteral("NV memory for FS q images in bytes, headers included "
                                        "(default %1)."),
                         QStringLiteral("bytes"),
                         DefaultNvCapacity),
            numberOption(QStringLiteral("idle-timeout"),
                         QStringLiteral("Close a connection silent for this long; on --serial, "
                                        "give up a command left unfinished this long (0: never; "
                                        "default %1)."),
                         QStringLiteral("seconds"),
                         60)};
}

// What the printer is like and what state it is in.
QList<QCommandLineOption> stateOptions()
{
    return {QCommandLineOption(QStringLiteral("paper"),
                               QStringLiteral("The paper roll: ok, near-end or end (default ok). "
                                              "At its end the printer prints nothing."),
                               QStringLiteral("state"),
                               QStringLiteral("ok")),
            QCommandLineOption(QStringLiteral("cover"),
                               QStringLiteral("The cover: closed or open (default closed). Open, "
                                              "the printer prints nothing."),
                               QStringLiteral("state"),
                               QStringLiteral("closed")),
            QCommandLineOption(QStringLiteral("error"),
                               QStringLiteral("An error the printer is in: none, mechanical, "
                                              "autocutter, unrecoverable or auto-recoverable "
                                              "(default none). In error it prints nothing."),
                               QStringLiteral("kind"),
                               QStringLiteral("none")),
            numberOption(QStringLiteral("reset-ms"),
                         QStringLiteral("After an FS q the printer resets for this long: it "
                                        "answers nothing, and the bytes that come meanwhile "
                                        "are dropped (default %1)."),
                         QStringLiteral("ms"),
                         0),
            numberOption(QStringLiteral("graphics-capacity"),
                         QStringLiteral("NV memory for NV graphics in bytes, %1 bytes of each "
                                        "graphic's own included (default %2).")
                                 .arg(GraphicOverhead),
                         QStringLiteral("bytes"),
                         DefaultGraphicsCapacity),
            QCommandLineOption(QStringLiteral("model"),
                               QStringLiteral("The model name GS I 67 answers with (default "
                                              "nvlogo-printer), so that printers can be told "
                                              "apart."),
                               QStringLiteral("text"),
                               QStringLiteral("nvlogo-printer")),
            QCommandLineOption(QStringLiteral("firmware"),
                               QStringLiteral("The firmware version GS I 65 answers with "
                                              "(default 1.0)."),
                               QStringLiteral("text"),
                               QStringLiteral("1.0")),
            QCommandLineOption(QStringLiteral("control-stdin"),
                               QStringLiteral("Read lines from standard input that change the "
                                              "sensors as the printer runs: paper "
                                              "ok|near-end|end, cover open|closed, error KIND.")),
            QCommandLineOption(QStringLiteral("asb-on-connect"),
                               QStringLiteral("Send an automatic status back block as soon as a "
                                              "TCP connection opens, as some printers do.")),
            QCommandLineOption(QStringLiteral("drop-on-reset"),
                               QStringLiteral("Close the TCP connection when the printer "
                                              "resets.")),
            QCommandLineOption(QStringLiteral("no-replies"),
                               QStringLiteral("A printer without a back channel: it never sends "
                                              "a byte."))};
}

QStringList valueOptions()
{
    QStringList names;
    for (const QCommandLineOption &option : sourceOptions() + printerOptions() + stateOptions()) {
        if (!option.valueName().isEmpty())
            names << option.names();
    }
    return names;
}

// One of the names, as its index; -1 for none of them.
int choice(const QString &value, const QStringList &names)
{
    return int(names.indexOf(value));
}

bool readPrinterState(const QCommandLineParser &parser, PrinterSettings *settings, QString *problem)
{
    const QStringList &papers = paperWords();
    const QStringList &covers = coverWords();
    const QStringList &errors = errorWords();
    const int paper = choice(parser.value(QStringLiteral("paper")), papers);
    const int cover = choice(parser.value(QStringLiteral("cover")), covers);
    const int error = choice(parser.value(QStringLiteral("error")), errors);
    qint64 resetMs = 0;
    if (paper < 0) {
        *problem = QStringLiteral("--paper wants ok, near-end or end");
        return false;
    }
    if (cover < 0) {
        *problem = QStringLiteral("--cover wants closed or open");
        return false;
    }
    if (error < 0) {
        *problem = QStringLiteral("--error wants %1").arg(errors.join(QStringLiteral(", ")));
        return false;
    }
    if (!parseNumber(parser.value(QStringLiteral("reset-ms")), 0, 600000, &resetMs)) {
        *problem = QStringLiteral("--reset-ms wants milliseconds from 0 to 600000");
        return false;
    }
    settings->paper = PaperState(paper);
    settings->coverOpen = cover == 1;
    settings->error = PrinterError(error);
    for (const QString &name : {QStringLiteral("model"), QStringLiteral("firmware")}) {
        const QString text = parser.value(name);
        const bool printable = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
            return c.unicode() >= 0x20 && c.unicode() <= 0x7E;
        });
        if (text.isEmpty() || text.size() > MaxIdentityText || !printable) {
            *problem = QStringLiteral("--%1 wants 1 to %2 printable ASCII characters")
                               .arg(name)
                               .arg(MaxIdentityText);
            return false;
        }
        (name == QLatin1String("model") ? settings->model : settings->firmware) = text.toLatin1();
    }
    settings->resetMs = int(resetMs);
    settings->replies = !parser.isSet(QStringLiteral("no-replies"));
    settings->asbOnConnect = parser.isSet(QStringLiteral("asb-on-connect"));
    return true;
}

// DNS-SD names are at most 63 bytes of UTF-8.
constexpr int MaxServiceName = 63;

bool readAnnounce(const QCommandLineParser &parser, Options *options, QString *problem)
{
    if (!parser.isSet(QStringLiteral("announce")))
        return true;
    options->announceName = parser.value(QStringLiteral("announce"));
    if (options->source != Source::Tcp) {
        *problem = QStringLiteral("--announce goes with --listen (a TCP port), not with --serial, "
                                  "--input or --export alone");
        return false;
    }
    const qsizetype size = options->announceName.toUtf8().size();
    if (size < 1 || size > MaxServiceName) {
        *problem = QStringLiteral("--announce wants a name of 1 to %1 bytes").arg(MaxServiceName);
        return false;
    }
    return true;
}

// Reads where the bytes come from; false, with the problem, for arguments that do not fit.
bool readSource(const QCommandLineParser &parser,
                const QList<QByteArray> &arguments,
                Options *options,
                QString *problem)
{
    if (!parser.positionalArguments().isEmpty()) {
        *problem = QStringLiteral("unexpected argument %1 (see --help)")
                           .arg(parser.positionalArguments().first());
        return false;
    }
    const bool listen = parser.isSet(QStringLiteral("listen"));
    const bool serial = parser.isSet(QStringLiteral("serial"));
    const bool input = parser.isSet(QStringLiteral("input"));
    if (int(listen) + int(serial) + int(input) > 1) {
        *problem = QStringLiteral("choose one of --listen, --serial and --input");
        return false;
    }
    const QString hostPort = parser.value(QStringLiteral("listen"));
    if (!parseHostPort(hostPort, &options->address, &options->port)) {
        *problem = QStringLiteral("--listen wants HOST:PORT, such as 127.0.0.1:9100, not \"%1\"")
                           .arg(hostPort);
        return false;
    }
    options->exportImages = parser.isSet(QStringLiteral("export"));
    options->exportFolder = parser.value(QStringLiteral("export"));
    if (options->exportImages && options->pathProblem.isEmpty()) {
        pathValue(parser,
                  arguments,
                  QStringLiteral("export"),
                  true,
                  &options->exportFolder,
                  &options->pathProblem);
    }
    pathValue(parser,
              arguments,
              QStringLiteral("input"),
              false,
              &options->inputFile,
              &options->pathProblem);
    if (serial)
        options->source = Source::Serial;
    else if (input)
        options->source = Source::File;
    else if (!listen && options->exportImages)
        options->source = Source::ExportOnly;
    else
        options->source = Source::Tcp;
    return readAnnounce(parser, options, problem);
}

// Reads the printer's settings; the source decides which of the folders it writes to.
bool readPrinterSettings(const QCommandLineParser &parser,
                         const QList<QByteArray> &arguments,
                         Options *options,
                         QString *problem)
{
    qint64 width = 0;
    qint64 capacity = 0;
    qint64 idle = 0;
    if (!parseNumber(parser.value(QStringLiteral("paper-width")),
                     MinPaperWidth,
                     MaxPaperWidth,
                     &width)) {
        *problem = QStringLiteral("--paper-width wants a number of dots from %1 to %2")
                           .arg(MinPaperWidth)
                           .arg(MaxPaperWidth);
        return false;
    }
    if (!parseNumber(parser.value(QStringLiteral("nv-capacity")), 1024, MaxNvMemory, &capacity)) {
        *problem = QStringLiteral("--nv-capacity wants a number of bytes from 1024 to %1")
                           .arg(MaxNvMemory);
        return false;
    }
    if (!parseNumber(parser.value(QStringLiteral("idle-timeout")), 0, 24 * 3600, &idle)) {
        *problem = QStringLiteral("--idle-timeout wants seconds from 0 to 86400");
        return false;
    }
    options->idleTimeoutSeconds = int(idle);
    PrinterSettings &settings = options->settings;
    settings.paperWidth = int(width);
    settings.nvCapacity = capacity;
    if (!parseNumber(parser.value(QStringLiteral("graphics-capacity")),
                     1024,
                     MaxNvMemory,
                     &settings.graphicsCapacity)) {
        *problem = QStringLiteral("--graphics-capacity wants a number of bytes from 1024 to %1")
                           .arg(MaxNvMemory);
        return false;
    }
    if (!readPrinterState(parser, &settings, problem))
        return false;
    options->dropOnReset = parser.isSet(QStringLiteral("drop-on-reset"));
    options->controlStdin = parser.isSet(QStringLiteral("control-stdin"));
    options->stateShown = parser.value(QStringLiteral("state"));
    options->outShown = parser.value(QStringLiteral("out"));
    if (options->stateShown.isEmpty()) {
        *problem = QStringLiteral("no folder for the NV images: give --state DIR");
        return false;
    }
    pathValue(parser,
              arguments,
              QStringLiteral("state"),
              true,
              &settings.stateFolder,
              &options->pathProblem)
            && (options->source == Source::ExportOnly
                || pathValue(parser,
                             arguments,
                             QStringLiteral("out"),
                             true,
                             &settings.outFolder,
                             &options->pathProblem));
    // Only a printer that keeps running refreshes the export after each definition.
    if (options->source == Source::Tcp || options->source == Source::Serial)
        settings.exportFolder = options->exportFolder;
    return true;
}

// Reads the command line; --help, --version and an unknown option end the program here.
bool parseOptions(const QCoreApplication &app,
                  const QList<QByteArray> &arguments,
                  Options *options,
                  QString *problem)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "A virtual ESC/POS receipt printer. It keeps FS q images and NV graphics in a state "
            "folder, prints text, images, bar codes and QR codes on a strip of paper, writes "
            "each strip as a PNG at every cut, answers status requests, and logs what it did.\n"
            "Input comes from TCP (default 127.0.0.1:9100), a pseudo-terminal (--serial) or a "
            "file (--input)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions(sourceOptions() + printerOptions() + stateOptions());
    // process() ends the program with status 1 on an unknown option; a bad command line is 2.
    if (!parser.parse(QCoreApplication::arguments())) {
        *problem = parser.errorText();
        return false;
    }
    parser.process(app); // --help, --help-all and --version end the program here
    return readSource(parser, arguments, options, problem)
           && readPrinterSettings(parser, arguments, options, problem);
}

bool exportImages(const ReceiptPrinter &printer, const QString &folder, QString *error)
{
    QStringList written;
    if (!printer.store().exportPngs(folder, &written, error))
        return false;
    say(QStringLiteral("exported %1 NV images to %2")
                .arg(written.size())
                .arg(QDir(folder).absolutePath()));
    return true;
}

// Takes bytes from a TCP port or a pseudo-terminal until the program is stopped.
int serve(PrinterService &service, const Options &options)
{
    QString error;
    const bool opened = options.source == Source::Serial
                                ? service.openSerial(&error)
                                : service.listen(options.address, options.port, &error);
    if (!opened)
        return fail(ExitFailure, error);
    DnsSdAnnouncer announcer;
    QObject::connect(&announcer, &DnsSdAnnouncer::message, &say);
    if (!options.announceName.isEmpty()
        && !announcer.announce(options.announceName, service.port(), &error)) {
        say(error);
    }

    // Only when asked: a program in the background of a shell that reads the terminal is
    // stopped by the system.
    ConditionInput condition(service.printer());
    QObject::connect(&condition, &ConditionInput::message, &say);
    if (options.controlStdin && !condition.start())
        say(QStringLiteral("--control-stdin: standard input cannot be read; ignored"));

    TerminationSignals termination;
    QObject::connect(&termination,
                     &TerminationSignals::terminationRequested,
                     QCoreApplication::instance(),
                     [&service] {
                         say(QStringLiteral("stopping"));
                         service.shutDown();
                         QCoreApplication::quit();
                     });
    if (!termination.install())
        say(QStringLiteral("cannot catch Ctrl+C; a strip not yet cut is lost when stopped"));
    return QCoreApplication::exec();
}

int run(const Options &options)
{
    const PrinterSettings &settings = options.settings;
    ReceiptPrinter printer(settings);
    printer.onLog = [](const QString &line) {
        writeLine(stdout, line);
    };
    QString error;
    if (!printer.start(&error))
        return fail(ExitFailure, error);
    say(QStringLiteral("%1 NV images in %2")
                .arg(printer.store().count())
                .arg(QDir::toNativeSeparators(QDir(options.stateShown).absolutePath())));
    if (options.source == Source::ExportOnly)
        return exportImages(printer, options.exportFolder, &error) ? 0 : fail(ExitFailure, error);

    say(QStringLiteral("strips go to %1, paper %2 dots wide")
                .arg(QDir::toNativeSeparators(QDir(options.outShown).absolutePath()))
                .arg(settings.paperWidth));
    PrinterService service(&printer);
    service.setIdleTimeout(options.idleTimeoutSeconds);
    service.setDropOnReset(options.dropOnReset);
    QObject::connect(&service, &PrinterService::message, &say);

    if (options.source == Source::File) {
        if (!service.processFile(options.inputFile, &error))
            return fail(ExitFailure, error);
        service.shutDown();
    }
    if (options.exportImages && !exportImages(printer, options.exportFolder, &error))
        return fail(ExitFailure, error);
    return options.source == Source::File ? 0 : serve(service, options);
}

} // namespace

} // namespace VirtualPrinter::NvlogoPrinter

namespace {

QtMessageHandler qtHandler = nullptr;

// Outside a desktop session Qt warns, while it starts, that XDG_RUNTIME_DIR is not set. The
// printer keeps nothing in that folder: the warning would only alarm.
void quietMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg
        && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) {
        return;
    }
    qtHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    using namespace VirtualPrinter::NvlogoPrinter;

    qtHandler = qInstallMessageHandler(quietMessages);
    // The printer never shows a window; the offscreen platform gives it fonts without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own copy of the arguments loses the bytes of names the locale cannot decode.
    QList<QByteArray> rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QByteArray(argv[i]);
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nvlogo-printer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    Options options;
    QString problem;
    if (!parseOptions(app, rawArguments, &options, &problem))
        return fail(ExitUsage, problem);
    if (!options.pathProblem.isEmpty())
        return fail(ExitFailure, options.pathProblem);
    return run(options);
}
