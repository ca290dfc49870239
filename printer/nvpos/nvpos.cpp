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

// No exception may leave a C entry point. Each call starts with no reason of its own.
template<typename Call>
Result guarded(const char *function, Result onError, Call call)
{
    t_lastError.clear();
    try {
        return settle(call());
    } catch (const std::exception &error) {
        return settle(fail(onError, std::string(function) + " failed: " + error.what()));
    } catch (...) {
        return settle(fail(onError, std::string(function) + " failed"));
    }
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

Status noConnection()
{
    return fail(NVPOS_ERR_NO_CONNECTION, "No connection is open");
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
    return guarded("POS_Open", NVPOS_ERR_OPEN, [&]() -> Status {
        if (!name)
            return fail(NVPOS_ERR_OPEN, "No port name was given");
        SerialSettings serial;
        serial.baudRate = baudRate;
        serial.dataBits = dataBits;
        serial.parity = parity;
        serial.stopBits = stopBits == 0 ? 1 : stopBits;
        serial.hardwareFlowControl = serialHardwareFlowControl();

        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        Opened opened = open(trimSpacesAndTabs(name), serial, openMode);
        if (!opened.ok())
            return opened.status();
        return table.add(std::move(opened.value()));
    });
}

int32_t POS_WriteFile(int32_t handle, const char *data, int32_t count)
{
    return guarded("POS_WriteFile", NVPOS_ERR_IO, [&]() -> Status {
        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
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
    return guarded("POS_StartDoc", NVPOS_ERR_IO, []() -> Status {
        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        Connection *connection = table.last();
        return connection ? connection->startDoc() : noConnection();
    });
}

int32_t POS_EndDoc(void)
{
    return guarded("POS_EndDoc", NVPOS_ERR_IO, []() -> Status {
        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        Connection *connection = table.last();
        return connection ? connection->endDoc() : noConnection();
    });
}

int32_t POS_Close(void)
{
    return guarded("POS_Close", NVPOS_ERR_IO, []() -> Status {
        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        std::unique_ptr<Connection> connection = table.takeLast();
        return connection ? connection->close() : noConnection();
    });
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
