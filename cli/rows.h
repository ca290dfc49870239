#pragma once

// What became of each printer, as a table, as JSON, and as the exit status.

#include "options.h"

#include <commands/jobs.h>

#include <QJsonObject>

#include <vector>

namespace Cli {

// Whether each row answers a status question: its JSON is the status object and its table
// row says ready or not ready.
enum class RowKind { Delivery, Status };

// A table of cells, the first line its head: words on the left, numbers (numeric) on the
// right, the last column running on.
QString alignedTable(const QList<QStringList> &cells, const QList<bool> &numeric);

// The table: target, result, bytes, time, reason.
QString rowsTable(const std::vector<Commands::JobRow> &rows, RowKind kind);
// {"target", "ok", "bytes", "seconds", "reason"}, or for a status the object of
// `status --json`.
QJsonObject rowJson(const Commands::JobRow &row, RowKind kind);
// The status as the JSON object of `status --json`; a printer that did not answer has
// answered false and the reason.
QJsonObject statusJson(const Commands::JobRow &row);

// ExitFailure when any failed or was stopped, else ExitNotConfirmed when any is not ready,
// else ExitSuccess.
int exitStatusOf(const std::vector<Commands::JobRow> &rows);

// The end of a many-printer run: with json the one object (one printer) or the array, else
// the table; and the exit status.
int finishMany(const std::vector<Commands::JobRow> &rows,
               RowKind kind,
               bool json,
               const Context &c);

} // namespace Cli
