// Serial ports through QSerialPort, with its blocking waitFor* calls: the caller's thread may
// run no event loop during a call (a GUI thread inside a click handler) or have none at all.
#include "connection.h"

#include "nativeio.h"
#include "portnames.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QThread>

#include <algorithm>
#include <thread>

namespace Printer::NvPos {

namespace {

// Two line times leave room for the pauses of the printer's flow control; the no-progress
// time on top covers a short buffer and the start of the transfer.
constexpr int LineTimeFactor = 2;

// How often the driver's queue is looked at once QSerialPort has handed everything to it: the
// system has no event for bytes leaving the line.
constexpr Milliseconds DrainPollInterval{10};

class SerialConnection final : public Connection
{
public:
    SerialConnection(std::unique_ptr<QSerialPort> port,
                     std::string path,
                     int baudRate,
                     int bitsPerCharacter)
        : m_port(std::move(port))
        , m_path(std::move(path))
        , m_baudRate(baudRate)
        , m_bitsPerCharacter(bitsPerCharacter)
    {
        release();
    }

    ~SerialConnection() override
    {
        adopt();
        m_port->close();
    }

    Status write(const char *data, std::int32_t count, Progress &progress) override
    {
        adopt();
        const Status status = send(data, count, progress);
        // The printer gets no more of a write that failed or was stopped.
        if (!status.ok())
            dropOutput();
        release();
        return status;
    }

    Status close() override
    {
        adopt();
        m_port->close();
        release();
        return NVPOS_OK;
    }

private:
    // A QObject belongs to one thread; the port is handed to the calling thread for the
    // length of a call and let go afterwards, so that any thread may make the next one.
    void adopt()
    {
        m_port->moveToThread(QThread::currentThread());
        // QSerialPort watches its descriptor with socket notifiers, which need the thread's
        // event dispatcher; a thread that Qt did not start gets one when an event loop is
        // made in it. Without an application object no thread can have one, and Qt warns
        // once per write that it cannot watch the port; the blocking calls work all the same.
        if (QCoreApplication::instance() && !QAbstractEventDispatcher::instance())
            QEventLoop makesTheDispatcher;
    }
    void release() { m_port->moveToThread(nullptr); }

    Milliseconds writeBudget(std::int32_t count) const
    {
        const long long lineMs
                = static_cast<long long>(count) * m_bitsPerCharacter * 1000 / m_baudRate;
        return Milliseconds(LineTimeFactor * lineMs) + noProgressTimeout();
    }

    // Bytes that left the port: neither in QSerialPort's buffer nor in the driver's queue.
    std::int64_t sentOnTheLine(std::int32_t count) const
    {
        const std::int64_t held
                = m_port->bytesToWrite() + Native::serialOutputQueued(m_port->handle());
        return std::max<std::int64_t>(count - held, 0);
    }

    Status send(const char *data, std::int32_t count, Progress &progress)
    {
        const Clock::time_point deadline = Clock::now() + writeBudget(count);
        const Milliseconds patience = noProgressTimeout();
        Clock::time_point stalledAt = Clock::now() + patience;

        if (m_port->write(data, count) != count) {
            return fail(NVPOS_ERR_IO,
                        "Writing to " + m_path + " failed: " + m_port->errorString().toStdString());
        }
        std::int64_t moved = 0;
        for (;;) {
            const std::int64_t nowMoved = sentOnTheLine(count);
            if (nowMoved > moved) {
                moved = nowMoved;
                stalledAt = Clock::now() + patience;
            }
            if (moved >= count)
                return count;
            if (!progress.update(moved))
                return progress.stop();
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                return fail(NVPOS_ERR_TIMEOUT,
                            "Writing " + std::to_string(count) + " bytes to " + m_path + " at "
                                    + std::to_string(m_baudRate) + " baud took too long; "
                                    + byteCount(moved, count) + " left the port");
            }
            if (now >= stalledAt) {
                return fail(NVPOS_ERR_TIMEOUT,
                            "The printer on " + m_path + " took no data for "
                                    + std::to_string(patience.count()) + " ms; "
                                    + byteCount(moved, count) + " left the port");
            }
            if (!waitForBytesToLeave(std::min({deadline, stalledAt, progress.nextBeat()}))) {
                return fail(NVPOS_ERR_IO,
                            "Writing to " + m_path + " failed after " + byteCount(moved, count)
                                    + " left the port: " + m_port->errorString().toStdString());
            }
        }
    }

    // Waits until until, or less, for bytes to leave: QSerialPort's buffer while it holds any,
    // then the driver's queue. False when the port reports an error.
    bool waitForBytesToLeave(Clock::time_point until)
    {
        const Clock::duration left = until - Clock::now();
        if (m_port->bytesToWrite() == 0) {
            // The driver still holds the last few kilobytes.
            std::this_thread::sleep_for(std::min<Clock::duration>(DrainPollInterval, left));
            return true;
        }
        const auto wait = std::chrono::duration_cast<Milliseconds>(left);
        if (m_port->waitForBytesWritten(std::max(1, static_cast<int>(wait.count()))))
            return true;
        if (m_port->error() != QSerialPort::TimeoutError && m_port->error() != QSerialPort::NoError)
            return false;
        m_port->clearError();
        return true;
    }

    // Drops what is left, so that neither the next write nor the close waits for it.
    void dropOutput()
    {
        m_port->clear(QSerialPort::Output);
        m_port->clearError();
    }

    std::unique_ptr<QSerialPort> m_port;
    std::string m_path;
    int m_baudRate;
    int m_bitsPerCharacter;
};

bool validSettings(const SerialSettings &settings)
{
    return settings.baudRate > 0 && settings.dataBits >= 5 && settings.dataBits <= 8
           && settings.parity >= 0 && settings.parity <= 2 && settings.stopBits >= 1
           && settings.stopBits <= 2;
}

bool applySettings(QSerialPort &port, const SerialSettings &settings)
{
    static constexpr QSerialPort::Parity parities[]
            = {QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity};
    return port.setBaudRate(settings.baudRate)
           && port.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits))
           && port.setParity(parities[settings.parity])
           && port.setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop)
           && port.setFlowControl(settings.hardwareFlowControl ? QSerialPort::HardwareControl
                                                               : QSerialPort::NoFlowControl);
}

} // namespace

Opened openSerial(const std::string &name, const SerialSettings &settings)
{
    const auto path = deviceOf(name, PortKind::Serial);
    if (!path)
        return fail(NVPOS_ERR_OPEN, "\"" + name + "\" names no serial port (COMn or COM:/path)");
    if (!validSettings(settings)) {
        return fail(NVPOS_ERR_OPEN,
                    "Bad serial settings for " + *path + ": " + std::to_string(settings.baudRate)
                            + " baud, " + std::to_string(settings.dataBits) + " data bits, parity "
                            + std::to_string(settings.parity) + ", "
                            + std::to_string(settings.stopBits) + " stop bits");
    }

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(QString::fromLocal8Bit(path->c_str()));
    // Write only: nothing the printer sends back is read, and no read notifier is needed.
    if (!port->open(QIODevice::WriteOnly)) {
        return fail(NVPOS_ERR_OPEN,
                    "Cannot open " + *path + ": " + port->errorString().toStdString());
    }
    if (!applySettings(*port, settings)) {
        const std::string why = port->errorString().toStdString();
        port->close();
        return fail(NVPOS_ERR_OPEN,
                    "Cannot set up " + *path + " at " + std::to_string(settings.baudRate)
                            + " baud: " + why);
    }
    const int bitsPerCharacter
            = 1 + settings.dataBits + (settings.parity != 0 ? 1 : 0) + settings.stopBits;
    return std::make_unique<SerialConnection>(
            std::move(port), *path, settings.baudRate, bitsPerCharacter);
}

} // namespace Printer::NvPos
