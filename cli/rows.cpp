#include "rows.h"

#include "exitcodes.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace Cli {

namespace {

using Commands::JobRow;

QString resultText(const JobRow &row, RowKind kind)
{
    switch (row.state) {
    case JobRow::State::Done:
        return kind == RowKind::Status ? QStringLiteral("ready") : QStringLiteral("ok");
    case JobRow::State::NotReady:
        return QStringLiteral("not ready");
    case JobRow::State::Failed:
        return QStringLiteral("failed");
    case JobRow::State::Stopped:
        return QStringLiteral("stopped");
    case JobRow::State::Waiting:
        break;
    }
    return QStringLiteral("not run");
}

QJsonValue optionalText(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString alignedTable(const QList<QStringList> &cells, const QList<bool> &numeric)
{
    QList<qsizetype> widths(numeric.size(), 0);
    for (const QStringList &line : cells) {
        for (qsizetype i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], line.at(i).size());
    }
    QString table;
    for (const QStringList &line : cells) {
        QString text;
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (i + 1 == line.size())
                text += line.at(i);
            else if (numeric.at(i))
                text += line.at(i).rightJustified(widths[i]) + QStringLiteral("  ");
            else
                text += line.at(i).leftJustified(widths[i]) + QStringLiteral("  ");
        }
        table += QStringView(text).trimmed().toString() + QLatin1Char('\n');
    }
    return table;
}

QString rowsTable(const std::vector<JobRow> &rows, RowKind kind)
{
    QList<QStringList> cells = {{QStringLiteral("TARGET"),
                                 QStringLiteral("RESULT"),
                                 QStringLiteral("BYTES"),
                                 QStringLiteral("TIME"),
                                 QStringLiteral("REASON")}};
    for (const JobRow &row : rows) {
        cells.append({row.target.display(),
                      resultText(row, kind),
                      kind == RowKind::Status ? QStringLiteral("-") : QString::number(row.bytes),
                      QStringLiteral("%1 s").arg(row.seconds, 0, 'f', 1),
                      QString(row.reason).replace(QLatin1Char('\n'), QLatin1Char(' '))});
    }
    return alignedTable(cells, {false, false, true, true, false});
}

QJsonObject statusJson(const JobRow &row)
{
    QJsonObject object;
    object[QStringLiteral("target")] = row.target.display();
    object[QStringLiteral("answered")] = row.report.has_value();
    if (!row.report) {
        for (const char *key :
             {"ready", "online", "cover_open", "paper", "error", "model", "firmware"})
            object[QLatin1String(key)] = QJsonValue::Null;
        object[QStringLiteral("ready")] = false;
        object[QStringLiteral("reason")] = row.reason;
        return object;
    }
    const EscPos::PrinterStatus &s = row.report->status;
    object[QStringLiteral("ready")] = s.ready();
    object[QStringLiteral("online")] = s.online;
    object[QStringLiteral("cover_open")] = s.coverOpen;
    object[QStringLiteral("paper")] = EscPos::paperName(s.paper);
    object[QStringLiteral("error")] = s.error == EscPos::PrinterError::None
                                              ? QJsonValue(QJsonValue::Null)
                                              : QJsonValue(EscPos::errorName(s.error));
    object[QStringLiteral("model")] = optionalText(row.report->model);
    object[QStringLiteral("firmware")] = optionalText(row.report->firmware);
    return object;
}

QJsonObject rowJson(const JobRow &row, RowKind kind)
{
    if (kind == RowKind::Status)
        return statusJson(row);
    QJsonObject object;
    object[QStringLiteral("target")] = row.target.display();
    object[QStringLiteral("ok")] = row.succeeded();
    object[QStringLiteral("bytes")] = row.bytes;
    object[QStringLiteral("seconds")] = double(qRound64(row.seconds * 1000)) / 1000;
    object[QStringLiteral("reason")]
            = row.succeeded() ? QJsonValue(QJsonValue::Null) : QJsonValue(row.reason);
    return object;
}

int exitStatusOf(const std::vector<JobRow> &rows)
{
    bool failed = false;
    bool notReady = false;
    for (const JobRow &row : rows) {
        failed = failed || row.state == JobRow::State::Failed || row.state == JobRow::State::Stopped
                 || row.state == JobRow::State::Waiting;
        notReady = notReady || row.state == JobRow::State::NotReady;
    }
    return failed ? ExitFailure : notReady ? ExitNotConfirmed : ExitSuccess;
}

int finishMany(const std::vector<JobRow> &rows, RowKind kind, bool json, const Context &c)
{
    if (json) {
        QJsonDocument document;
        if (rows.size() == 1) {
            document.setObject(rowJson(rows.front(), kind));
        } else {
            QJsonArray array;
            for (const JobRow &row : rows)
                array.append(rowJson(row, kind));
            document.setArray(array);
        }
        print(c.out, QString::fromUtf8(document.toJson(QJsonDocument::Indented)));
    } else {
        print(c.out, rowsTable(rows, kind));
    }
    return exitStatusOf(rows);
}

} // namespace Cli
