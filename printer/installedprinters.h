#pragma once

#include <QStringList>

namespace Printer {

// The names of the printer queues installed on this system, in the order the print
// system lists them; empty when there are none or the print system does not answer.
QStringList installedPrinters();

} // namespace Printer
