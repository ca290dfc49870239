#include "connection.h"

#include "nativeio.h"
#include "portnames.h"

#include <cstdlib>
#include <cstring>

Q_LOGGING_CATEGORY(lcNvPos, "nvlogo.nvpos", QtWarningMsg)

namespace Printer::NvPos {

namespace {

constexpr Milliseconds ConnectTimeout{3000};
constexpr Milliseconds DefaultNoProgressTimeout{10000};

} // namespace

Milliseconds connectTimeout()
{
    return ConnectTimeout;
}

Milliseconds noProgressTimeout()
{
    // Read at every use, so that a test may lower it for one case.
    const char *text = std::getenv("NVPOS_WRITE_TIMEOUT_MS");
    if (!text || !*text)
        return DefaultNoProgressTimeout;
    char *end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 24LL * 3600 * 1000) {
        qCWarning(
                lcNvPos, "Ignoring NVPOS_WRITE_TIMEOUT_MS=%s: not a number of milliseconds", text);
        return DefaultNoProgressTimeout;
    }
    return Milliseconds(value);
}

bool serialHardwareFlowControl()
{
    const char *text = std::getenv("NVPOS_SERIAL_FLOW");
    if (!text || !*text || std::strcmp(text, "hardware") == 0)
        return true;
    if (std::strcmp(text, "none") == 0)
        return false;
    qCWarning(lcNvPos, "Ignoring NVPOS_SERIAL_FLOW=%s: use hardware or none", text);
    return true;
}

std::unique_ptr<Connection> openEthernet(const std::string &name)
{
    const auto address = parseHostPort(name);
    if (!address) {
        qCWarning(lcNvPos, "\"%s\" is not a host or host:port", name.c_str());
        return nullptr;
    }
    return Native::connectTcp(address->host, address->port);
}

std::unique_ptr<Connection> openParallel(const std::string &name)
{
    const auto path = parallelDeviceOf(name);
    if (!path) {
        qCWarning(lcNvPos, "\"%s\" names no printer port (LPTn or LPT:/path)", name.c_str());
        return nullptr;
    }
    return Native::openDevice(*path);
}

} // namespace Printer::NvPos
