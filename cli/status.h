#pragma once

// nvlogo-cli status: whether the printer is ready.

#include "options.h"

#include <QStringList>

namespace Cli {

int status(const QStringList &arguments, const Context &c);

} // namespace Cli
