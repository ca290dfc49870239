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

thread_local NVPOS_ProgressFn t_progressCallback = nullptr;
thread_local void *t_progressContext = nullptr;

} // namespace

Status fail(Result code, std::string reason)
{
    Q_ASSERT(code < 0);
    return Status(code, std::move(reason));
}

std::string byteCount(std::int64_t moved, std::int64_t total)
{
    return std::to_string(moved) + " of " + std::to_string(total) + " bytes";
}

void setProgressCallback(NVPOS_ProgressFn callback, void *context)
{
    t_progressCallback = callback;
    t_progressContext = callback ? context : nullptr;
}

Progress::Progress(std::int64_t total)
    : m_callback(t_progressCallback)
    , m_context(t_progressContext)
    , m_total(total)
    , m_lastCall(Clock::now())
{}

bool Progress::update(std::int64_t moved)
{
    if (m_stopped)
        return false;
    const bool changed = moved != m_moved;
    m_moved = moved;
    // The count reaching the total is reported once, by finish(), when the write has succeeded.
    if (!m_callback || moved >= m_total)
        return true;
    const Clock::time_point now = Clock::now();
    if (!changed && now < nextBeat())
        return true;
    m_lastCall = now;
    m_stopped = m_callback(moved, m_total, m_context) != 0;
    return !m_stopped;
}

Status Progress::stop() const
{
    return fail(NVPOS_ERR_CANCELLED, "Stopped after " + byteCount(m_moved, m_total));
}

void Progress::finish()
{
    m_moved = m_total;
    if (m_callback && !m_stopped)
        m_callback(m_total, m_total, m_context);
}

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
        // Not a failure of the call: the default applies, and the reason stays unset.
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

Opened openEthernet(const std::string &name)
{
    const auto address = parseHostPort(name);
    if (!address)
        return fail(NVPOS_ERR_OPEN, "\"" + name + "\" is not a host or host:port");
    return Native::connectTcp(address->host, address->port);
}

Opened openParallel(const std::string &name)
{
    const auto path = deviceOf(name, PortKind::Parallel);
    if (!path)
        return fail(NVPOS_ERR_OPEN, "\"" + name + "\" names no printer port (LPTn or LPT:/path)");
    return Native::openDevice(*path);
}

} // namespace Printer::NvPos
