#include "status.h"

#include "exitcodes.h"
#include "rows.h"
#include "targets.h"

#include <commands/askprinter.h>
#include <commands/jobs.h>
#include <escpos/replies.h>

#include <QCommandLineParser>
#include <QJsonDocument>

namespace Cli {

namespace {

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
    addManyOptions(parser, false);
    int code = ExitSuccess;
    if (!parse(parser, QStringLiteral("status"), arguments, c, code))
        return code;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("status takes no arguments."));
    Printers printers;
    std::chrono::milliseconds timeout{};
    // One printer, also with --json, is asked as before.
    if (!printersOf(parser, printers, c, code, false)
        || !timeoutOption(parser, QStringLiteral("timeout"), timeout, c, code))
        return code;
    const auto rows = runOn(printers, Commands::statusJob(timeout), 0, c);
    if (printers.many)
        return finishMany(rows, RowKind::Status, printers.json, c);
    const Commands::JobRow &row = rows.front();
    if (printers.json) {
        print(c.out,
              QString::fromUtf8(QJsonDocument(statusJson(row)).toJson(QJsonDocument::Indented)));
    } else if (row.report) {
        printReport(c, row.target.display(), *row.report);
    }
    if (!row.report)
        printFailure(c, row.target.kind(), {row.failure, row.reason});
    return exitStatusOf(rows);
}

} // namespace Cli
