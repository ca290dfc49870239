#include "printerservice.h"
#include "terminationsignals.h"

#include <vprinter/receiptprinter.h>

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QHostAddress>
#include <QStandardPaths>

#include <cstdio>

namespace VirtualPrinter::NvlogoPrinter {

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr qint64 MaxNvCapacity = 64 * 1024 * 1024;

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
    PrinterSettings settings;
};

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
                               QStringLiteral("file"))};
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

// Reads where the bytes come from; false, with the problem, for arguments that do not fit.
bool readSource(const QCommandLineParser &parser, Options *options, QString *problem)
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
    options->inputFile = parser.value(QStringLiteral("input"));
    if (serial)
        options->source = Source::Serial;
    else if (input)
        options->source = Source::File;
    else if (!listen && options->exportImages)
        options->source = Source::ExportOnly;
    else
        options->source = Source::Tcp;
    return true;
}

// Reads the printer's settings; the source decides which of the folders it writes to.
bool readPrinterSettings(const QCommandLineParser &parser, Options *options, QString *problem)
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
    if (!parseNumber(parser.value(QStringLiteral("nv-capacity")), 1024, MaxNvCapacity, &capacity)) {
        *problem = QStringLiteral("--nv-capacity wants a number of bytes from 1024 to %1")
                           .arg(MaxNvCapacity);
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
    settings.stateFolder = parser.value(QStringLiteral("state"));
    if (options->source != Source::ExportOnly)
        settings.outFolder = parser.value(QStringLiteral("out"));
    // Only a printer that keeps running refreshes the export after each definition.
    if (options->source == Source::Tcp || options->source == Source::Serial)
        settings.exportFolder = options->exportFolder;
    if (settings.stateFolder.isEmpty()) {
        *problem = QStringLiteral("no folder for the NV images: give --state DIR");
        return false;
    }
    return true;
}

// Reads the command line; --help, --version and an unknown option end the program here.
bool parseOptions(const QCoreApplication &app, Options *options, QString *problem)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "A virtual ESC/POS receipt printer. It keeps FS q images as NV memory in a state "
            "folder, prints text and FS p images on a strip of paper, writes each strip as a "
            "PNG at every GS V cut, and logs one line per command.\n"
            "Input comes from TCP (default 127.0.0.1:9100), a pseudo-terminal (--serial) or a "
            "file (--input)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions(sourceOptions() + printerOptions());
    parser.process(app);
    return readSource(parser, options, problem) && readPrinterSettings(parser, options, problem);
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
                .arg(QDir::toNativeSeparators(QDir(settings.stateFolder).absolutePath())));
    if (options.source == Source::ExportOnly)
        return exportImages(printer, options.exportFolder, &error) ? 0 : fail(ExitFailure, error);

    say(QStringLiteral("strips go to %1, paper %2 dots wide")
                .arg(QDir::toNativeSeparators(QDir(settings.outFolder).absolutePath()))
                .arg(settings.paperWidth));
    PrinterService service(&printer);
    service.setIdleTimeout(options.idleTimeoutSeconds);
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

int main(int argc, char *argv[])
{
    using namespace VirtualPrinter::NvlogoPrinter;

    // The printer never shows a window; the offscreen platform gives it fonts without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nvlogo-printer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    Options options;
    QString problem;
    if (!parseOptions(app, &options, &problem))
        return fail(ExitUsage, problem);
    return run(options);
}
