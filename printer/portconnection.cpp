#include "portconnection.h"

#include "poslibrary.h"

#include <QThread>

namespace Printer {

namespace {

constexpr std::int32_t SerialDataBits = 8;
constexpr unsigned long OpenSettleMs = 100;

} // namespace

std::int32_t openTarget(PosLibrary &library, const Target &target)
{
    switch (target.kind()) {
    case PortKind::Ethernet:
        return library.POS_Open(target.name(), 0, 0, 0, 0, NVPOS_MODE_ETHERNET);
    case PortKind::Serial:
        return library.POS_Open(
                target.name(), target.baud(), SerialDataBits, 0, 0, NVPOS_MODE_SERIAL);
    case PortKind::Parallel:
        return library.POS_Open(target.name(), 0, 0, 0, 0, NVPOS_MODE_PARALLEL);
    case PortKind::Driver:
        return library.POS_Open(target.name(), 0, 0, 0, 0, NVPOS_MODE_DRIVER);
    case PortKind::Unknown:
        break;
    }
    return 0;
}

std::int32_t OpenPort(PosLibrary &library, const PortSettings &settings)
{
    const Target target = Target::fromWindowSettings(settings);
    const std::int32_t result = openTarget(library, target);
    QThread::msleep(OpenSettleMs);
    return result;
}

std::int32_t ClosePort(PosLibrary &library, std::int32_t handle)
{
    return library.NVPOS_Close(handle);
}

} // namespace Printer
