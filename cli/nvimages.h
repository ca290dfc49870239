#pragma once

// NV bit images: download, print, and what a download would store (stream, preview).

#include "options.h"

#include <QStringList>

namespace Cli {

int download(const QStringList &arguments, const Context &c);
int printOut(const QStringList &arguments, const Context &c);
int stream(const QStringList &arguments, const Context &c);
int preview(const QStringList &arguments, const Context &c);

} // namespace Cli
