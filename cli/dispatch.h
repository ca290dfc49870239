#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <cstdio>

namespace Cli {

// Runs one command line (without the program name) and returns its exit status.
int run(const QStringList &arguments, std::FILE *out = stdout, std::FILE *err = stderr);

// The same for the command line as the system gave it: bytes, which a name that is not valid
// text keeps, both for reading (pictures) and for writing (-o, --port LPT:/path).
int runBytes(const QList<QByteArray> &arguments, std::FILE *out = stdout, std::FILE *err = stderr);

} // namespace Cli
