#pragma once

// nvlogo-cli find: which printers are here; and printers, the same limited to the print
// server's queues.

#include "options.h"

#include <QStringList>

namespace Cli {

int find(const QStringList &arguments, const Context &c);
int printers(const QStringList &arguments, const Context &c);

} // namespace Cli
