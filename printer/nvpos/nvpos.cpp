// The entry points: the table of open connections, each with its own lock.
#include "nvpos.h"

#include "connection.h"
#include "portnames.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace Printer::NvPos {

namespace {

// For the calls without a handle: the connection opened last. Never a handle.
constexpr std::int32_t LastOpened = std::numeric_limits<std::int32_t>::min();

// One open connection and the lock held for every call on it. Calls find it in the table
// and hold it by a shared pointer, so that a close on another thread waits for a call in
// progress and never frees the connection under it.
struct Entry
{
    explicit Entry(std::unique_ptr<Connection> opened)
        : connection(std::move(opened))
    {}

    std::mutex mutex;
    std::unique_ptr<Connection> connection; // null once closed
};
using EntryPtr = std::shared_ptr<Entry>;

// The table of open connections. Its lock guards the table only; it is never held during
// a call on a connection.
class Registry
{
public:
    std::int32_t add(std::unique_ptr<Connection> connection)
    {
        auto entry = std::make_shared<Entry>(std::move(connection));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastHandle = nextHandle();
        m_open.emplace_back(m_lastHandle, std::move(entry));
        return m_lastHandle;
    }

    EntryPtr find(std::int32_t handle) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return findLocked(handle);
    }

    EntryPtr last() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open.empty() ? nullptr : m_open.back().second;
    }

    // Takes the connection out of the table; the handle names nothing from then on.
    EntryPtr take(std::int32_t handle)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_open.empty())
            return nullptr;
        auto it = handle == LastOpened
                          ? std::prev(m_open.end())
                          : std::find_if(m_open.begin(), m_open.end(), [&](const auto &entry) {
                                return entry.first == handle;
                            });
        if (it == m_open.end())
            return nullptr;
        EntryPtr entry = std::move(it->second);
        m_open.erase(it);
        return entry;
    }

private:
    EntryPtr findLocked(std::int32_t handle) const
    {
        if (handle <= 0)
            return nullptr;
        for (const auto &entry : m_open) {
            if (entry.first == handle)
                return entry.second;
        }
        return nullptr;
    }

    // Handles only grow; after the largest one they start again at 1, skipping any still open.
    std::int32_t nextHandle() const
    {
        std::int32_t handle = m_lastHandle;
        do {
            handle = handle == std::numeric_limits<std::int32_t>::max() ? 1 : handle + 1;
        } while (findLocked(handle));
        return handle;
    }

    mutable std::mutex m_mutex;
    // In the order they were opened, so that the last one is at the back.
    std::vector<std::pair<std::int32_t, EntryPtr>> m_open;
    std::int32_t m_lastHandle = 0;
};

// Never destroyed: connections left open at exit are closed by the system, and nothing runs
// in the library after the program's own static objects (Qt's among them) are gone.
Registry &registry()
{
    static Registry *const instance = new Registry;
    return *instance;
}

// The reason and kind of the calling thread's last failed call, for NVPOS_LastError and
// NVPOS_LastErrorKind. Per thread, so that a failure on one thread never shows up as another
// thread's reason.
thread_local std::string t_lastError;
thread_local std::int32_t t_lastKind = NVPOS_KIND_NONE;

// Where a failure ends: its reason and kind are kept, its code returned. The caller has the
// reason and says it where it belongs, so the log repeats it only when asked to (info).
Result settle(const Status &status)
{
    if (!status.ok()) {
        t_lastError = status.reason();
        t_lastKind = status.kind();
        qCInfo(lcNvPos, "%s", status.reason().c_str());
    }
    return status.result();
}

// The shape of every POS_ call: it starts with no reason of its own and lets no exception
// out to its C caller.
template<typename Body>
Result entryPoint(const char *function, Result onError, Body body)
{
    t_lastError.clear();
    t_lastKind = NVPOS_KIND_NONE;
    try {
        return settle(body(registry()));
    } catch (const std::exception &error) {
        return settle(fail(onError, std::string(function) + " failed: " + error.what()));
    } catch (...) {
        return settle(fail(onError, std::string(function) + " failed"));
    }
}

Status noSuchHandle(std::int32_t handle)
{
    if (handle == LastOpened)
        return fail(NVPOS_ERR_NO_CONNECTION, "No connection is open");
    return fail(NVPOS_ERR_NO_CONNECTION, "No open connection has handle " + std::to_string(handle));
}

// Runs call on the connection of entry under its lock; a connection closed meanwhile is
// gone.
template<typename Call>
Status onEntry(const EntryPtr &entry, std::int32_t handle, Call call)
{
    if (!entry)
        return noSuchHandle(handle);
    std::lock_guard<std::mutex> lock(entry->mutex);
    if (!entry->connection)
        return noSuchHandle(handle);
    return call(*entry->connection);
}

// The document calls on the connection of handle, or of LastOpened.
Result onDocument(const char *function, std::int32_t handle, Status (Connection::*call)())
{
    return entryPoint(function, NVPOS_ERR_IO, [&](Registry &table) -> Status {
        const EntryPtr entry = handle == LastOpened ? table.last() : table.find(handle);
        return onEntry(entry, handle, [&](Connection &connection) { return (connection.*call)(); });
    });
}

// The connection leaves the table first, so that it goes whatever its close returns; the
// close waits for a call in progress on it.
Result closeConnection(const char *function, std::int32_t handle)
{
    return entryPoint(function, NVPOS_ERR_IO, [&](Registry &table) -> Status {
        const EntryPtr entry = handle == LastOpened || handle > 0 ? table.take(handle) : nullptr;
        return onEntry(entry, handle, [&](Connection &connection) {
            const Status closed = connection.close();
            // Destroyed here, under the lock, so that no later call finds it.
            const std::unique_ptr<Connection> leaving = std::move(entry->connection);
            return closed;
        });
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
        const EntryPtr entry = table.find(handle);
        if (!entry)
            return noSuchHandle(handle);
        if (count < 0 || (!data && count > 0)) {
            return fail(NVPOS_ERR_ARGUMENT,
                        "Bad data to write: " + std::to_string(count) + " bytes at "
                                + (data ? "an address" : "a null pointer"));
        }
        return onEntry(entry, handle, [&](Connection &connection) -> Status {
            if (count == 0)
                return 0;
            WriteProgress progress(count);
            const Status status = connection.write(data, count, progress);
            if (status.result() == count)
                progress.finish();
            return status;
        });
    });
}

int32_t POS_StartDoc(void)
{
    return onDocument("POS_StartDoc", LastOpened, &Connection::startDoc);
}

int32_t POS_EndDoc(void)
{
    return onDocument("POS_EndDoc", LastOpened, &Connection::endDoc);
}

int32_t POS_Close(void)
{
    return closeConnection("POS_Close", LastOpened);
}

int32_t NVPOS_StartDoc(int32_t handle)
{
    return onDocument("NVPOS_StartDoc", handle, &Connection::startDoc);
}

int32_t NVPOS_EndDoc(int32_t handle)
{
    return onDocument("NVPOS_EndDoc", handle, &Connection::endDoc);
}

int32_t NVPOS_Close(int32_t handle)
{
    return closeConnection("NVPOS_Close", handle);
}

int32_t NVPOS_Capabilities(int32_t handle)
{
    return entryPoint("NVPOS_Capabilities", NVPOS_ERR_IO, [&](Registry &table) -> Status {
        return onEntry(table.find(handle), handle, [](Connection &connection) -> Status {
            return connection.capabilities();
        });
    });
}

int32_t NVPOS_Read(int32_t handle, char *buffer, int32_t size, int32_t timeoutMs)
{
    return entryPoint("NVPOS_Read", NVPOS_ERR_IO, [&](Registry &table) -> Status {
        const EntryPtr entry = table.find(handle);
        if (!entry)
            return noSuchHandle(handle);
        if (size < 0 || timeoutMs < 0 || (!buffer && size > 0)) {
            return fail(NVPOS_ERR_ARGUMENT,
                        "Bad buffer to read into: " + std::to_string(size) + " bytes at "
                                + (buffer ? "an address" : "a null pointer") + ", "
                                + std::to_string(timeoutMs) + " ms");
        }
        return onEntry(entry, handle, [&](Connection &connection) -> Status {
            if (!(connection.capabilities() & NVPOS_CAN_READ) || size > 0)
                return connection.read(buffer, size, Milliseconds(timeoutMs));
            return 0;
        });
    });
}

int32_t NVPOS_Version(void)
{
    return (NVPOS_VERSION_MAJOR << 16) | NVPOS_VERSION_MINOR;
}

int32_t NVPOS_LastErrorKind(void)
{
    return t_lastKind;
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
