#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <cstdio>

namespace Cli {

// Exit statuses.
constexpr int Success = 0;
constexpr int Failure = 1;    // the command ran and failed; the reason is on standard error
constexpr int UsageError = 2; // the command line was wrong
// The command ran, but the printer is not ready, or it did not confirm what was sent.
constexpr int NotConfirmed = 3;

// Runs one command line (without the program name) and returns its exit status.
int run(const QStringList &arguments, std::FILE *out = stdout, std::FILE *err = stderr);

// The same for the command line as the system gave it: bytes, which a name that is not valid
// text keeps, both for reading (pictures) and for writing (-o, --port LPT:/path).
int runBytes(const QList<QByteArray> &arguments, std::FILE *out = stdout, std::FILE *err = stderr);

} // namespace Cli
