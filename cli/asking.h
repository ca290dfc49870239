#pragma once

// The commands that listen to the printer: status, and what download --wait-ready and
// print --confirm add.

#include "options.h"

#include <commands/askprinter.h>

#include <QJsonObject>
#include <QStringList>

namespace Cli {

int status(const QStringList &arguments, const Context &c);

// --timeout SECONDS: a positive number of seconds, at most an hour; false (status set) when
// it is not.
bool timeoutOption(const QCommandLineParser &parser,
                   const QString &name,
                   std::chrono::milliseconds &timeout,
                   const Context &c,
                   int &status);

// The status as the JSON object of `status --json`; a printer that was not asked (report
// empty) has answered false and the failure's reason.
QJsonObject statusJson(const QString &target,
                       const Printer::Result<Commands::PrinterReport> &report);

// After a delivered download: waits until the printer answers online again, and tells.
int waitReadyAfterDownload(const Printer::PortSettings &port,
                           std::chrono::milliseconds bound,
                           const Context &c);

// A print-out that asks first and waits for the printer to report it printed.
int printConfirmedOut(const Printer::PortSettings &port,
                      const QByteArray &bytes,
                      std::chrono::milliseconds timeout,
                      const Context &c);

} // namespace Cli
