#pragma once

// nvlogo-cli graphics: NV graphics stored by key (define, list, capacity, delete, print).

#include "options.h"

#include <QStringList>

namespace Cli {

// What `nvlogo-cli graphics --help` prints.
extern const char GraphicsHelp[];

int graphics(const QStringList &arguments, const Context &c);

} // namespace Cli
