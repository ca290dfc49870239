// A build without CUPS (NVLOGO_WITH_CUPS=OFF) has no print system to list queues from.
#include "installedprinters.h"

namespace Printer {

QStringList installedPrinters()
{
    return {};
}

Result<QList<InstalledQueue>> installedQueues()
{
    return Failure{FailureKind::Unsupported,
                   QStringLiteral("this build of nvlogo has no print queues (built without CUPS)")};
}

} // namespace Printer
