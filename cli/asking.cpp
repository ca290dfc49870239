#include "asking.h"

#include "commands.h"
#include "consoledialogs.h"
#include "fleetcommands.h"

#include <commands/messages.h>
#include <commands/settings.h>
#include <escpos/replies.h>
#include <printer/failure.h>
#include <printer/portconnection.h>

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonValue>

namespace Cli {

namespace {

using std::chrono::milliseconds;

constexpr double MaxTimeoutSeconds = 3600;

// Asked between reads: a termination signal ends the wait.
class SignalStop final : public Commands::Progress
{
public:
    bool stopRequested() const override { return terminationRequested(); }
};

QJsonValue optionalText(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

QString paperText(EscPos::Paper paper)
{
    switch (paper) {
    case EscPos::Paper::Ok:
        return QStringLiteral("ok");
    case EscPos::Paper::NearEnd:
        return QStringLiteral("near its end");
    case EscPos::Paper::End:
        return QStringLiteral("out");
    }
    return {};
}

void printReport(const Context &c, const QString &target, const Commands::PrinterReport &report)
{
    const EscPos::PrinterStatus &s = report.status;
    const QString why = Commands::notReadyReason(s);
    print(c.out,
          why.isEmpty() ? QStringLiteral("%1: online and ready\n").arg(target)
                        : QStringLiteral("%1: not ready: %2\n").arg(target, why));
    print(c.out, QStringLiteral("Online: %1\n").arg(QLatin1String(s.online ? "yes" : "no")));
    print(c.out, QStringLiteral("Paper: %1\n").arg(paperText(s.paper)));
    print(c.out, QStringLiteral("Cover: %1\n").arg(QLatin1String(s.coverOpen ? "open" : "closed")));
    print(c.out,
          QStringLiteral("Error: %1\n")
                  .arg(s.error == EscPos::PrinterError::None ? QStringLiteral("none")
                                                             : EscPos::errorName(s.error)));
    print(c.out,
          QStringLiteral("Model: %1\n").arg(report.model.value_or(QStringLiteral("(no answer)"))));
    print(c.out,
          QStringLiteral("Firmware: %1\n")
                  .arg(report.firmware.value_or(QStringLiteral("(no answer)"))));
}

} // namespace

bool timeoutOption(const QCommandLineParser &parser,
                   const QString &name,
                   milliseconds &timeout,
                   const Context &c,
                   int &status)
{
    bool ok = false;
    const double seconds = parser.value(name).toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > MaxTimeoutSeconds) {
        status = usage(c,
                       QStringLiteral("--%1 must be a number of seconds above 0, at most %2.")
                               .arg(name)
                               .arg(MaxTimeoutSeconds));
        return false;
    }
    timeout = milliseconds(qRound64(seconds * 1000));
    return true;
}

QJsonObject statusJson(const QString &target,
                       const Printer::Result<Commands::PrinterReport> &report)
{
    QJsonObject object;
    object[QStringLiteral("target")] = target;
    object[QStringLiteral("answered")] = report.ok();
    if (!report.ok()) {
        for (const char *key :
             {"ready", "online", "cover_open", "paper", "error", "model", "firmware"})
            object[QLatin1String(key)] = QJsonValue::Null;
        object[QStringLiteral("ready")] = false;
        object[QStringLiteral("reason")] = report.failure().reason;
        return object;
    }
    const EscPos::PrinterStatus &s = report.value().status;
    object[QStringLiteral("ready")] = s.ready();
    object[QStringLiteral("online")] = s.online;
    object[QStringLiteral("cover_open")] = s.coverOpen;
    object[QStringLiteral("paper")] = EscPos::paperName(s.paper);
    object[QStringLiteral("error")] = s.error == EscPos::PrinterError::None
                                              ? QJsonValue(QJsonValue::Null)
                                              : QJsonValue(EscPos::errorName(s.error));
    object[QStringLiteral("model")] = optionalText(report.value().model);
    object[QStringLiteral("firmware")] = optionalText(report.value().firmware);
    return object;
}

int status(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    addPortOptions(parser);
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("Print JSON: one object, or an array of them for several "
                                     "printers.")});
    parser.addOption({QStringLiteral("timeout"),
                      QStringLiteral("How long to wait for all the answers, in seconds "
                                     "(default 5)."),
                      QStringLiteral("seconds"),
                      QStringLiteral("5")});
    addFleetOptions(parser, false);
    int code = Success;
    if (!parse(parser, QStringLiteral("status"), arguments, c, code))
        return code;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("status takes no arguments."));
    FleetOptions fleet;
    if (!fleetOptions(parser, fleet, c, code))
        return code;
    Printer::PortSettings port;
    if (fleet.targets.isEmpty() && !portSettings(parser, port, c, code))
        return code;
    milliseconds timeout{};
    if (!timeoutOption(parser, QStringLiteral("timeout"), timeout, c, code))
        return code;
    // One printer, also with --json, is asked as before.
    if (fleet.targets.size() > 1)
        return statusOfMany(timeout, fleet, c);
    port = fleet.targets.value(0, port);

    SignalStop stop;
    Commands::PrinterLink link(library(), port);
    const Printer::Result<void> opened = link.open();
    const Printer::Result<Commands::PrinterReport> report
            = opened.ok() ? Commands::askStatus(link, timeout, &stop)
                          : Printer::Result<Commands::PrinterReport>(opened.failure());
    (void)link.close();

    if (parser.isSet(QStringLiteral("json"))) {
        print(c.out,
              QString::fromUtf8(QJsonDocument(statusJson(link.target(), report))
                                        .toJson(QJsonDocument::Indented)));
    } else if (report.ok()) {
        printReport(c, link.target(), report.value());
    }
    if (!report.ok()) {
        printFailure(c, port, report.failure());
        return Failure;
    }
    return report.value().status.ready() ? Success : NotConfirmed;
}

int waitReadyAfterDownload(const Printer::PortSettings &port, milliseconds bound, const Context &c)
{
    SignalStop stop;
    Commands::PrinterLink link(library(), port);
    const Printer::Result<milliseconds> waited = Commands::waitUntilReady(link, bound, &stop);
    (void)link.close();
    if (!waited.ok()) {
        print(c.err,
              QStringLiteral("nvlogo-cli: the stream was delivered, but the printer's state is "
                             "unknown: %1\n")
                      .arg(waited.failure().reason));
        return NotConfirmed;
    }
    print(c.err,
          QStringLiteral("The printer is ready again after %1 s.\n")
                  .arg(double(waited.value().count()) / 1000.0, 0, 'f', 1));
    return Success;
}

int printConfirmedOut(const Printer::PortSettings &port,
                      const QByteArray &bytes,
                      milliseconds timeout,
                      const Context &c)
{
    SignalStop stop;
    Commands::PrinterLink link(library(), port);
    Printer::Result<void> opened = link.open();
    if (!opened.ok()) {
        print(c.err, Commands::failToOpenPortText() + QLatin1Char('\n'));
        printFailure(c, port, opened.failure());
        return Failure;
    }
    const Printer::Result<Commands::ConfirmedPrint> printed
            = Commands::printConfirmed(link, bytes, timeout, &stop);
    const Printer::Result<void> closed = link.close();
    if (!printed.ok()) {
        printFailure(c, port, printed.failure());
        return Failure;
    }
    switch (printed.value().result) {
    case Commands::PrintConfirmation::Printed:
        if (!closed.ok()) {
            printFailure(c, port, closed.failure());
            return Failure;
        }
        print(c.err, QStringLiteral("Printed.\n"));
        return Success;
    case Commands::PrintConfirmation::NotReady:
        print(c.err,
              QStringLiteral("nvlogo-cli: nothing was printed: %1\n").arg(printed.value().reason));
        return NotConfirmed;
    case Commands::PrintConfirmation::Unconfirmed:
        break;
    }
    print(c.err,
          QStringLiteral("nvlogo-cli: sent, not confirmed: %1\n").arg(printed.value().reason));
    return NotConfirmed;
}

} // namespace Cli
