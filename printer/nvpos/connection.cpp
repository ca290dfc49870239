#include "connection.h"

#include "nativeio.h"
#include "portnames.h"

#include <cerrno>
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

Status fail(Result code, std::int32_t kind, std::string reason)
{
    Q_ASSERT(code < 0);
    return Status(code, kind, std::move(reason));
}

Status fail(Result code, std::string reason)
{
    switch (code) {
    case NVPOS_ERR_TIMEOUT:
        return fail(code, NVPOS_KIND_TIMEOUT, std::move(reason));
    case NVPOS_ERR_CANCELLED:
        return fail(code, NVPOS_KIND_CANCELLED, std::move(reason));
    case NVPOS_ERR_UNSUPPORTED:
        return fail(code, NVPOS_KIND_UNSUPPORTED, std::move(reason));
    default:
        return fail(code, NVPOS_KIND_IO, std::move(reason));
    }
}

std::int32_t kindOfError(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return NVPOS_KIND_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return NVPOS_KIND_PERMISSION;
    case EBUSY:
        return NVPOS_KIND_BUSY;
    case ETIMEDOUT:
        return NVPOS_KIND_TIMEOUT;
    case ECONNREFUSED:
        return NVPOS_KIND_REFUSED;
    case ECANCELED:
        return NVPOS_KIND_CANCELLED;
    default:
        return NVPOS_KIND_IO;
    }
}

std::string errorText(int error)
{
    return std::strerror(error);
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

WriteProgress::WriteProgress(std::int64_t total)
    : m_callback(t_progressCallback)
    , m_context(t_progressContext)
    , m_total(total)
    , m_lastCall(Clock::now())
{}

bool WriteProgress::update(std::int64_t moved)
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

Status WriteProgress::stop() const
{
    return fail(NVPOS_ERR_CANCELLED, "Stopped after " + byteCount(m_moved, m_total));
}

void WriteProgress::finish()
{
    m_moved = m_total;
    if (m_callback && !m_stopped)
        m_callback(m_total, m_total, m_context);
}

StallWatch::StallWatch()
    : m_patience(noProgressTimeout())
    , m_deadline(Clock::now() + m_patience)
{}

void ReceiveBuffer::append(const char *data, std::size_t count)
{
    if (count >= Capacity) {
        m_bytes.assign(data + (count - Capacity), Capacity);
        return;
    }
    const std::size_t room = Capacity - m_bytes.size();
    if (count > room)
        m_bytes.erase(0, count - room);
    m_bytes.append(data, count);
}

std::size_t ReceiveBuffer::take(char *buffer, std::size_t size)
{
    const std::size_t count = std::min(size, m_bytes.size());
    std::memcpy(buffer, m_bytes.data(), count);
    m_bytes.erase(0, count);
    return count;
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

namespace {

bool validSettings(const SerialSettings &settings)
{
    return settings.baudRate > 0 && settings.dataBits >= 5 && settings.dataBits <= 8
           && settings.parity >= 0 && settings.parity <= 2 && settings.stopBits >= 1
           && settings.stopBits <= 2;
}

} // namespace

Opened openSerial(const std::string &name, const SerialSettings &settings)
{
    const auto path = deviceOf(name, DeviceKind::Serial);
    if (!path)
        return fail(NVPOS_ERR_OPEN, "\"" + name + "\" names no serial port (COMn or COM:/path)");
    if (!validSettings(settings)) {
        return fail(NVPOS_ERR_OPEN,
                    "Bad serial settings for " + *path + ": " + std::to_string(settings.baudRate)
                            + " baud, " + std::to_string(settings.dataBits) + " data bits, parity "
                            + std::to_string(settings.parity) + ", "
                            + std::to_string(settings.stopBits) + " stop bits");
    }
    return Native::openSerialPort(*path, settings);
}

Opened openParallel(const std::string &name)
{
    const auto path = deviceOf(name, DeviceKind::Parallel);
    if (!path)
        return fail(NVPOS_ERR_OPEN, "\"" + name + "\" names no printer port (LPTn or LPT:/path)");
    return Native::openDevice(*path);
}

} // namespace Printer::NvPos
