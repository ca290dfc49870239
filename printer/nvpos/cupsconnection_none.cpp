// DRIVER in a build without CUPS (NVLOGO_WITH_CUPS=OFF): there is no print system to send a
// job to, so every print queue is refused, with the reason.
#include "connection.h"

namespace Printer::NvPos {

Opened openDriver(const std::string &)
{
    return fail(NVPOS_ERR_OPEN,
                NVPOS_KIND_UNSUPPORTED,
                "Print queues (DRIVER) are not available: this printer library was built without "
                "CUPS");
}

} // namespace Printer::NvPos
