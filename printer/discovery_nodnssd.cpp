// A build without DNS-SD (NVLOGO_AVAHI off): announced printers cannot be listed.

#include "discovery.h"

namespace Printer {

Result<QList<PrinterInfo>> announcedPrinters(std::chrono::milliseconds)
{
    return Failure{FailureKind::Unsupported,
                   QStringLiteral("this build of nvlogo cannot look for DNS-SD announcements")};
}

} // namespace Printer
