#include "targets.h"

#include "argumentbytes.h"
#include "consoledialogs.h"
#include "summary.h"
#include "terminal.h"

#include <printer/installedprinters.h>

#include <QCommandLineParser>

namespace Cli {

namespace {

const QString PortForms = QStringLiteral("use ETHERNET, COM1..COM9, LPT1..LPT3, DRIVER, or a "
                                         "device as COM:/path or LPT:/path");

bool usageError(const Context &c, int &exitCode, const QString &message)
{
    exitCode = usage(c, message);
    return false;
}

// --baud, one of the serial speeds.
bool baudOption(const QCommandLineParser &parser,
                std::int32_t &baud,
                const Context &c,
                int &exitCode)
{
    const QString text = parser.value(QStringLiteral("baud"));
    if (!Printer::baudRates().contains(text)) {
        return usageError(c,
                          exitCode,
                          QStringLiteral("--baud must be one of %1.")
                                  .arg(Printer::baudRates().join(QStringLiteral(", "))));
    }
    baud = text.toInt();
    return true;
}

// The text that names the port options' printer in the targets grammar.
bool portText(const QCommandLineParser &parser, QString &text, const Context &c, int &exitCode)
{
    const QString port = parser.value(QStringLiteral("port"));
    const QString upper = port.toUpper();
    const bool ip = parser.isSet(QStringLiteral("ip"));
    if (upper == QLatin1String("ETHERNET")) {
        // No default address: the command line never reaches a printer nobody named.
        if (!ip)
            return usageError(c, exitCode, QStringLiteral("name the printer's address with --ip."));
        text = QStringLiteral("ETHERNET ") + parser.value(QStringLiteral("ip"));
        return true;
    }
    if (ip) {
        return usageError(
                c,
                exitCode,
                QStringLiteral("--ip names an ETHERNET printer, not --port %1.").arg(port));
    }
    if (upper == QLatin1String("DRIVER")) {
        const QString queue = parser.isSet(QStringLiteral("printer"))
                                      ? parser.value(QStringLiteral("printer"))
                                      : Printer::installedPrinters().value(0);
        if (queue.isEmpty()) {
            return usageError(c,
                              exitCode,
                              QStringLiteral("no printer queue is installed; name one with "
                                             "--printer."));
        }
        text = QStringLiteral("DRIVER ") + queue;
        return true;
    }
    text = port;
    return true;
}

bool manyTargets(const QCommandLineParser &parser,
                 QList<Printer::Target> &targets,
                 std::int32_t baud,
                 const Context &c,
                 int &exitCode)
{
    if (parser.isSet(QStringLiteral("port"))
        && parser.value(QStringLiteral("port"))
                           .compare(QLatin1String("ETHERNET"), Qt::CaseInsensitive)
                   != 0) {
        return usageError(c,
                          exitCode,
                          QStringLiteral("--port names one printer; with --targets or several "
                                         "--ip, name each printer in the targets file."));
    }
    if (parser.isSet(QStringLiteral("printer"))) {
        return usageError(c,
                          exitCode,
                          QStringLiteral("--printer names one queue; with --targets or several "
                                         "--ip, write DRIVER queue lines in the targets file."));
    }
    for (const QString &ip : parser.values(QStringLiteral("ip"))) {
        const auto target = Printer::Target::parse(QStringLiteral("ETHERNET ") + ip, baud);
        if (!target.ok())
            return usageError(
                    c, exitCode, QStringLiteral("--ip %1: %2").arg(ip, target.failure().reason));
        targets.append(target.value());
    }
    if (parser.isSet(QStringLiteral("targets"))) {
        const auto read = Printer::readTargetsFile(parser.value(QStringLiteral("targets")), baud);
        if (!read.ok())
            return usageError(c, exitCode, read.failure().reason);
        targets.append(read.value());
    }
    if (targets.isEmpty())
        return usageError(c, exitCode, QStringLiteral("the targets file names no printer."));
    return true;
}

} // namespace

void addPortOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("Connection: ETHERNET (with --ip), COM1..COM9, LPT1..LPT3, "
                                     "DRIVER, or a device as COM:/dev/ttyUSB0 or LPT:/dev/usb/lp0 "
                                     "(default ETHERNET)."),
                      QStringLiteral("text"),
                      QStringLiteral("ETHERNET")});
    parser.addOption({QStringLiteral("ip"),
                      QStringLiteral("The printer's address for ETHERNET, host or host:port "
                                     "(port 9100 when none is given)."),
                      QStringLiteral("address")});
    parser.addOption({QStringLiteral("printer"),
                      QStringLiteral("The printer queue for DRIVER (default: the first "
                                     "installed queue)."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("baud"),
                      QStringLiteral("The serial line's speed: 9600, 19200, 38400 or 115200 "
                                     "(default 19200)."),
                      QStringLiteral("rate"),
                      QString::number(Printer::DefaultBaud)});
}

void addManyOptions(QCommandLineParser &parser, bool withJson)
{
    parser.addOption({QStringLiteral("targets"),
                      QStringLiteral("Send to every printer the file lists, one a line: "
                                     "ETHERNET host[:port], COMn [baud], COM:/path [baud], "
                                     "LPTn, LPT:/path or DRIVER queue; # starts a comment "
                                     "line. --ip may be given more than once as well."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("jobs"),
                      QStringLiteral("With several printers: how many to talk to at once "
                                     "(default %1, at most %2).")
                              .arg(Commands::DefaultJobs)
                              .arg(Commands::MaxJobs),
                      QStringLiteral("n"),
                      QString::number(Commands::DefaultJobs)});
    if (withJson) {
        parser.addOption({QStringLiteral("json"),
                          QStringLiteral("Print the result as JSON: one object for one printer, "
                                         "an array for several.")});
    }
}

bool onePrinter(const QCommandLineParser &parser,
                Printer::Target &target,
                const Context &c,
                int &exitCode)
{
    std::int32_t baud = 0;
    QString text;
    if (!baudOption(parser, baud, c, exitCode) || !portText(parser, text, c, exitCode))
        return false;
    const auto parsed = Printer::Target::parse(
            text, baud, argumentBytes(parser.value(QStringLiteral("port"))));
    if (!parsed.ok()) {
        return usageError(
                c, exitCode, QStringLiteral("%1 (%2).").arg(parsed.failure().reason, PortForms));
    }
    target = parsed.value();
    return true;
}

bool printersOf(const QCommandLineParser &parser,
                Printers &printers,
                const Context &c,
                int &exitCode,
                bool jsonMeansMany)
{
    printers = Printers();
    printers.json = parser.isSet(QStringLiteral("json"));
    bool ok = false;
    printers.jobs = parser.value(QStringLiteral("jobs")).toInt(&ok);
    if (!ok || printers.jobs < 1 || printers.jobs > Commands::MaxJobs) {
        return usageError(c,
                          exitCode,
                          QStringLiteral("--jobs must be a whole number from 1 to %1.")
                                  .arg(Commands::MaxJobs));
    }
    const bool fromList = parser.isSet(QStringLiteral("targets"))
                          || parser.values(QStringLiteral("ip")).size() > 1;
    std::int32_t baud = 0;
    if (!baudOption(parser, baud, c, exitCode))
        return false;
    if (fromList && !manyTargets(parser, printers.targets, baud, c, exitCode))
        return false;
    Printer::Target one;
    if (!fromList) {
        if (!onePrinter(parser, one, c, exitCode))
            return false;
        printers.targets.append(one);
    }
    if (const Printer::Target *twice = Printer::findTwice(printers.targets)) {
        return usageError(c,
                          exitCode,
                          QStringLiteral("%1 is named twice; each printer gets one connection.")
                                  .arg(twice->display()));
    }
    printers.many = printers.targets.size() > 1 || (jsonMeansMany && printers.json);
    return true;
}

std::vector<Commands::JobRow> runOn(const Printers &printers,
                                    const Commands::Job &job,
                                    qint64 bytesEach,
                                    const Context &c,
                                    bool showProgress)
{
    if (!printers.many) {
        const Printer::Target &target = printers.targets.constFirst();
        ConsoleProgress progress(target.display(), target.baud(), c.err, showProgress);
        return {Commands::runJob(library(), target, job, progress)};
    }
    const int count = int(printers.targets.size());
    Summary summary(c.err, count, bytesEach * count);
    Commands::PoolRun run;
    run.jobs = printers.jobs;
    run.stopRequested = terminationRequested;
    run.interval = std::chrono::milliseconds(summary.intervalMs());
    run.progress = [&summary](const Commands::PoolProgress &now) {
        summary.show(now.done, now.failed, now.moved, now.done == now.count);
    };
    return Commands::runPool(library(), printers.targets, job, run);
}

} // namespace Cli
