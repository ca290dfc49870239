// A build without CUPS (NVLOGO_WITH_CUPS=OFF) has no print system to list queues from.
#include "installedprinters.h"

namespace Printer {

QStringList installedPrinters()
{
    return {};
}

} // namespace Printer
