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

} // namespace

} // namespace VirtualPrinter::NvlogoPrinter

int main(int argc, char *argv[])
{
    using namespace VirtualPrinter;
    using namespace VirtualPrinter::NvlogoPrinter;

    // The printer never shows a window; the offscreen platform gives it fonts without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nvlogo-printer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
            "A virtual ESC/POS receipt printer. It keeps FS q images as NV memory in a state "
            "folder, prints text and FS p images on a strip of paper, writes each strip as a "
            "PNG at every GS V cut, and logs one line per command.\n"
            "Input comes from TCP (default 127.0.0.1:9100), a pseudo-terminal (--serial) or a "
            "file (--input)."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption listenOption(
            QStringLiteral("listen"),
            QStringLiteral("Take raw TCP connections on HOST:PORT (port 0: any free port; default "
                           "127.0.0.1:9100)."),
            QStringLiteral("host:port"),
            QStringLiteral("127.0.0.1:9100"));
    const QCommandLineOption serialOption(
            QStringLiteral("serial"),
            QStringLiteral("Create a pseudo-terminal and take bytes written to it; its name and "
                           "the port text to use are printed at start-up."));
    const QCommandLineOption inputOption(QStringLiteral("input"),
                                         QStringLiteral("Process the bytes in FILE (- for "
                                                        "standard input), then exit."),
                                         QStringLiteral("file"));
    const QCommandLineOption outOption(QStringLiteral("out"),
                                       QStringLiteral("Write the strips (strip-0001.png, ...) "
                                                      "into DIR (default: the current folder)."),
                                       QStringLiteral("dir"),
                                       QStringLiteral("."));
    const QCommandLineOption stateOption(
            QStringLiteral("state"),
            QStringLiteral("Keep the NV images in DIR, so that they survive restarts "
                           "(default: %1).")
                    .arg(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)),
            QStringLiteral("dir"),
            QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    const QCommandLineOption exportOption(
            QStringLiteral("export"),
            QStringLiteral("Write each stored NV image as DIR/nv-N.png. Alone (or with --input, "
                           "after the file): export and exit. With --listen or --serial: "
                           "export at start-up and after every definition."),
            QStringLiteral("dir"));
    const QCommandLineOption widthOption(
            QStringLiteral("paper-width"),
            QStringLiteral("Printable width in dots, %1 to %2 (default %3).")
                    .arg(VirtualPrinter::MinPaperWidth)
                    .arg(VirtualPrinter::MaxPaperWidth)
                    .arg(VirtualPrinter::DefaultPaperWidth),
            QStringLiteral("dots"),
            QString::number(VirtualPrinter::DefaultPaperWidth));
    const QCommandLineOption capacityOption(
            QStringLiteral("nv-capacity"),
            QStringLiteral("NV memory for FS q images in bytes, headers included "
                           "(default %1).")
                    .arg(VirtualPrinter::DefaultNvCapacity),
            QStringLiteral("bytes"),
            QString::number(VirtualPrinter::DefaultNvCapacity));
    const QCommandLineOption idleOption(
            QStringLiteral("idle-timeout"),
            QStringLiteral("Close a connection silent for this long; on --serial, give up a "
                           "command left unfinished this long (0: never; default 60)."),
            QStringLiteral("seconds"),
            QStringLiteral("60"));
    options.addOptions({listenOption,
                        serialOption,
                        inputOption,
                        outOption,
                        stateOption,
                        exportOption,
                        widthOption,
                        capacityOption,
                        idleOption});
    options.process(app);

    if (!options.positionalArguments().isEmpty()) {
        return fail(ExitUsage,
                    QStringLiteral("unexpected argument %1 (see --help)")
                            .arg(options.positionalArguments().first()));
    }
    const int sources = int(options.isSet(listenOption)) + int(options.isSet(serialOption))
                        + int(options.isSet(inputOption));
    if (sources > 1)
        return fail(ExitUsage, QStringLiteral("choose one of --listen, --serial and --input"));

    QHostAddress address;
    quint16 port = 0;
    if (!parseHostPort(options.value(listenOption), &address, &port)) {
        return fail(ExitUsage,
                    QStringLiteral("--listen wants HOST:PORT, such as 127.0.0.1:9100, not \"%1\"")
                            .arg(options.value(listenOption)));
    }
    qint64 width = 0;
    qint64 capacity = 0;
    qint64 idle = 0;
    if (!parseNumber(options.value(widthOption),
                     VirtualPrinter::MinPaperWidth,
                     VirtualPrinter::MaxPaperWidth,
                     &width)) {
        return fail(ExitUsage,
                    QStringLiteral("--paper-width wants a number of dots from %1 to %2")
                            .arg(VirtualPrinter::MinPaperWidth)
                            .arg(VirtualPrinter::MaxPaperWidth));
    }
    if (!parseNumber(options.value(capacityOption), 1024, MaxNvCapacity, &capacity)) {
        return fail(ExitUsage,
                    QStringLiteral("--nv-capacity wants a number of bytes from 1024 to %1")
                            .arg(MaxNvCapacity));
    }
    if (!parseNumber(options.value(idleOption), 0, 24 * 3600, &idle))
        return fail(ExitUsage, QStringLiteral("--idle-timeout wants seconds from 0 to 86400"));

    const bool exportOnly = options.isSet(exportOption) && sources == 0;
    const bool keepRunning = !exportOnly && !options.isSet(inputOption);

    PrinterSettings settings;
    settings.paperWidth = int(width);
    settings.nvCapacity = capacity;
    settings.stateFolder = options.value(stateOption);
    if (!exportOnly)
        settings.outFolder = options.value(outOption);
    if (keepRunning)
        settings.exportFolder = options.value(exportOption);
    if (settings.stateFolder.isEmpty())
        return fail(ExitUsage, QStringLiteral("no folder for the NV images: give --state DIR"));

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

    auto exportImages = [&]() {
        QStringList written;
        if (!printer.store().exportPngs(options.value(exportOption), &written, &error))
            return false;
        say(QStringLiteral("exported %1 NV images to %2")
                    .arg(written.size())
                    .arg(QDir(options.value(exportOption)).absolutePath()));
        return true;
    };
    if (exportOnly)
        return exportImages() ? 0 : fail(ExitFailure, error);

    say(QStringLiteral("strips go to %1, paper %2 dots wide")
                .arg(QDir::toNativeSeparators(QDir(settings.outFolder).absolutePath()))
                .arg(settings.paperWidth));
    PrinterService service(&printer);
    service.setIdleTimeout(int(idle));
    QObject::connect(&service, &PrinterService::message, &say);

    if (options.isSet(inputOption)) {
        if (!service.processFile(options.value(inputOption), &error))
            return fail(ExitFailure, error);
        service.shutDown();
        if (options.isSet(exportOption) && !exportImages())
            return fail(ExitFailure, error);
        return 0;
    }

    if (options.isSet(exportOption) && !exportImages())
        return fail(ExitFailure, error);
    const bool opened = options.isSet(serialOption) ? service.openSerial(&error)
                                                    : service.listen(address, port, &error);
    if (!opened)
        return fail(ExitFailure, error);

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app, [&] {
        say(QStringLiteral("stopping"));
        service.shutDown();
        QCoreApplication::quit();
    });
    if (!termination.install())
        say(QStringLiteral("cannot catch Ctrl+C; a strip not yet cut is lost when stopped"));
    return app.exec();
}
