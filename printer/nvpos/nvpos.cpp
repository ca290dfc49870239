// The five entry points: the table of open connections behind one lock.
#include "nvpos.h"

#include "connection.h"
#include "portnames.h"

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

// No exception may leave a C entry point.
template<typename Call>
Result guarded(const char *function, Result onError, Call call)
{
    try {
        return call();
    } catch (const std::exception &error) {
        qCWarning(lcNvPos, "%s failed: %s", function, error.what());
    } catch (...) {
        qCWarning(lcNvPos, "%s failed", function);
    }
    return onError;
}

std::unique_ptr<Connection>
open(const std::string &name, const SerialSettings &serial, std::int32_t openMode)
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
        qCWarning(lcNvPos, "Unknown open mode %d", openMode);
        return nullptr;
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
    return guarded("POS_Open", NVPOS_ERR_OPEN, [&]() -> Result {
        if (!name) {
            qCWarning(lcNvPos, "POS_Open without a name");
            return NVPOS_ERR_OPEN;
        }
        SerialSettings serial;
        serial.baudRate = baudRate;
        serial.dataBits = dataBits;
        serial.parity = parity;
        serial.stopBits = stopBits == 0 ? 1 : stopBits;
        serial.hardwareFlowControl = serialHardwareFlowControl();

        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        std::unique_ptr<Connection> connection = open(trimBlanks(name), serial, openMode);
        return connection ? table.add(std::move(connection)) : NVPOS_ERR_OPEN;
    });
}

int32_t POS_WriteFile(int32_t handle, const char *data, int32_t count)
{
    return guarded("POS_WriteFile", NVPOS_ERR_IO, [&]() -> Result {
        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        Connection *connection = table.find(handle);
        if (!connection) {
            qCWarning(lcNvPos, "POS_WriteFile: no open connection has handle %d", handle);
            return NVPOS_ERR_NO_CONNECTION;
        }
        if (count < 0 || (!data && count > 0)) {
            qCWarning(lcNvPos, "POS_WriteFile: bad buffer (%d bytes)", count);
            return NVPOS_ERR_ARGUMENT;
        }
        if (count == 0)
            return 0;
        return connection->write(data, count);
    });
}

int32_t POS_StartDoc(void)
{
    return guarded("POS_StartDoc", NVPOS_ERR_IO, []() -> Result {
        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        Connection *connection = table.last();
        return connection ? connection->startDoc() : NVPOS_ERR_NO_CONNECTION;
    });
}

int32_t POS_EndDoc(void)
{
    return guarded("POS_EndDoc", NVPOS_ERR_IO, []() -> Result {
        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        Connection *connection = table.last();
        return connection ? connection->endDoc() : NVPOS_ERR_NO_CONNECTION;
    });
}

int32_t POS_Close(void)
{
    return guarded("POS_Close", NVPOS_ERR_IO, []() -> Result {
        Registry &table = registry();
        std::lock_guard<std::mutex> lock(table.mutex);
        std::unique_ptr<Connection> connection = table.takeLast();
        return connection ? connection->close() : NVPOS_ERR_NO_CONNECTION;
    });
}

} // extern "C"
