// The entry points: the table of open connections behind one lock.
#include "nvpos.h"

#include "connection.h"
#include "portnames.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

namespace Printer::NvPos {

namespace {

class Registry
{
public:
    std::mutex mutex;

    std::int32_t add(std::unique_ptr<Connection> connection)
    {
        m_lastHandle = nextHandle();
        m_open.emplace_back(m_lastHandle, std::move(connection));
        return m_lastHandle;
    }

    Connection *find(std::int32_t handle) const
    {
        if (handle <= 0)
            return nullptr;
        for (const auto &entry : m_open) {
            if (entry.first == handle)
                return entry.second.get();
        }
        return nullptr;
    }

    Connection *last() const { return m_open.empty() ? nullptr : m_open.back().second.get(); }

    std::unique_ptr<Connection> takeLast()
    {
        if (m_open.empty())
            return nullptr;
        std::unique_ptr<Connection> connection = std::move(m_open.back().second);
        m_open.pop_back();
        return connection;
    }

private:
    // Handles only grow; after the largest one they start again at 1, skipping any still open.
    std::int32_t nextHandle() const
    {
        std::int32_t handle = m_lastHandle;
        do {
            handle = handle == std::numeric_limits<std::int32_t>::max() ? 1 : handle + 1;
        } while (find(handle));
        return handle;
    }

    // In the order they were opened, so that the last one is at the back.
    std::vector<std::pair<std::int32_t, std::unique_ptr<Connection>>> m_open;
    std::int32_t m_lastHandle = 0;
};

// Never destroyed: connections left open at exit are closed by the system, and nothing runs
// in the library after the program's own static objects (Qt's among them) are gone.
Registry &registry()
{
    static Registry *const instance = new Registry;
    return *instance;
}

// The reason of the calling thread's last failed call, for NVPOS_LastError. Per thread, so that
// a failure on one thread never shows up as another thread's reason.
thread_local std::string t_lastError;

// Where a failure ends: its reason is kept for NVPOS_LastError and logged, its code returned.
Result settle(const Status &status)
{
    if (!status.ok()) {
        t_lastError = status.reason();
        qCWarning(lcNvPos, "%s", status.reason().c_str());
    }
    return status.result();
}

// The shape of every POS_ call: it starts with no reason of its own, works on the table under
// its lock, and lets no exception out to its C caller.
template<typename Body>
Result entryPoint(const char *function, Result onError, Body body)
{
    t_lastError.clear();
    try {
        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        return settle(body(table));
    } catch (const std::exception &error) {
        return settle(fail(onError, std::string(function) + " failed: " + error.what()));
    } catch (...) {
        return settle(fail(onError, std::string(function) + " failed"));
    }
}

// What becomes of the connection once the call on it returns.
enum class Then { KeepIt, DestroyIt };

// The calls without a handle act on the connection opened last. A connection to be destroyed
// leaves the table before the call, so that it goes whatever the call returns.
Result onLastOpened(const char *function, Status (Connection::*call)(), Then then = Then::KeepIt)
{
    return entryPoint(function, NVPOS_ERR_IO, [&](Registry &table) -> Status {
        Connection *connection = table.last();
        if (!connection)
            return fail(NVPOS_ERR_NO_CONNECTION, "No connection is open");
        const std::unique_ptr<Connection> leaving
                = then == Then::DestroyIt ? table.takeLast() : nullptr;
        return (connection->*call)();
    });
}

Opened open(const std::string &name, const SerialSettings &serial, std::int32_t openMode)
{
    switch (openMode) {
    case NVPOS_MODE_ETHERNET:
        return openEthernet(name);
    case NVPOS_MODE_SERIAL:
        return openSerial(name, serial);
    case NVPOS_MODE_PARALLEL:
        return openParallel(name);
    case NVPOS_MODE_DRIVER:
        return openDriver(name);
    default:
        return fail(NVPOS_ERR_OPEN, "Unknown open mode " + std::to_string(openMode));
    }
}

} // namespace

} // namespace Printer::NvPos

using namespace Printer::NvPos;

extern "C" {

int32_t POS_Open(const char *name,
                 int32_t baudRate,
                 int32_t dataBits,
                 int32_t parity,
                 int32_t stopBits,
                 int32_t openMode)
{
    return entryPoint("POS_Open", NVPOS_ERR_OPEN, [&](Registry &table) -> Status {
        if (!name)
            return fail(NVPOS_ERR_OPEN, "No port name was given");
        SerialSettings serial;
        serial.baudRate = baudRate;
        serial.dataBits = dataBits;
        serial.parity = parity;
        serial.stopBits = stopBits == 0 ? 1 : stopBits;
        serial.hardwareFlowControl = serialHardwareFlowControl();
        Opened opened = open(trimSpacesAndTabs(name), serial, openMode);
        if (!opened.ok())
            return opened.status();
        return table.add(std::move(opened.value()));
    });
}

int32_t POS_WriteFile(int32_t handle, const char *data, int32_t count)
{
    return entryPoint("POS_WriteFile", NVPOS_ERR_IO, [&](Registry &table) -> Status {
        Connection *connection = table.find(handle);
        if (!connection) {
            return fail(NVPOS_ERR_NO_CONNECTION,
                        "No open connection has handle " + std::to_string(handle));
        }
        if (count < 0 || (!data && count > 0)) {
            return fail(NVPOS_ERR_ARGUMENT,
                        "Bad data to write: " + std::to_string(count) + " bytes at "
                                + (data ? "an address" : "a null pointer"));
        }
        if (count == 0)
            return 0;
        Progress progress(count);
        const Status status = connection->write(data, count, progress);
        if (status.result() == count)
            progress.finish();
        return status;
    });
}

int32_t POS_StartDoc(void)
{
    return onLastOpened("POS_StartDoc", &Connection::startDoc);
}

int32_t POS_EndDoc(void)
{
    return onLastOpened("POS_EndDoc", &Connection::endDoc);
}

int32_t POS_Close(void)
{
    return onLastOpened("POS_Close", &Connection::close, Then::DestroyIt);
}

int32_t NVPOS_LastError(char *buffer, int32_t size)
{
    const std::string &reason = t_lastError;
    if (buffer && size > 0) {
        std::size_t copied = std::min(reason.size(), static_cast<std::size_t>(size) - 1);
        // A cut never splits a UTF-8 character (a path in the reason may have any).
        while (copied > 0 && copied < reason.size()
               && (static_cast<unsigned char>(reason[copied]) & 0xC0) == 0x80) {
            --copied;
        }
        std::memcpy(buffer, reason.data(), copied);
        buffer[copied] = '\0';
    }
    return static_cast<int32_t>(
            std::min<std::size_t>(reason.size(), std::numeric_limits<int32_t>::max()));
}

void NVPOS_SetProgressCallback(NVPOS_ProgressFn callback, void *context)
{
    setProgressCallback(callback, context);
}

} // extern "C"
