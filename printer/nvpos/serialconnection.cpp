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

namespace Printer::NvPos {

namespace {

// Two line times leave room for the pauses of the printer's flow control; the no-progress
// time on top covers a short buffer and the start of the transfer.
constexpr int LineTimeFactor = 2;

class SerialConnection final : public Connection
{
public:
    SerialConnection(std::unique_ptr<QSerialPort> port, int baudRate, int bitsPerCharacter)
        : m_port(std::move(port))
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

    Result write(const char *data, std::int32_t count) override
    {
        adopt();
        const Result result = send(data, count);
        release();
        return result;
    }

    Result close() override
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

    Result send(const char *data, std::int32_t count)
    {
        const Clock::time_point start = Clock::now();
        const Clock::time_point deadline = start + writeBudget(count);
        const Milliseconds patience = noProgressTimeout();

        if (m_port->write(data, count) != count) {
            qCWarning(lcNvPos,
                      "Writing to %s failed: %s",
                      qPrintable(m_port->portName()),
                      qPrintable(m_port->errorString()));
            m_port->clear(QSerialPort::Output);
            return NVPOS_ERR_IO;
        }
        while (m_port->bytesToWrite() > 0) {
            const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return fail(NVPOS_ERR_TIMEOUT, count, "the write took too long");
            const int wait = static_cast<int>(std::min(left, patience).count());
            if (!m_port->waitForBytesWritten(wait)) {
                if (m_port->error() == QSerialPort::TimeoutError
                    || m_port->error() == QSerialPort::NoError) {
                    return fail(NVPOS_ERR_TIMEOUT,
                                count,
                                left <= patience ? "the write took too long"
                                                 : "the port took no data");
                }
                return fail(NVPOS_ERR_IO, count, qPrintable(m_port->errorString()));
            }
        }
        // The driver still holds the last few kilobytes; the write is done when they are out.
        if (!Native::drainSerialOutput(m_port->handle(), deadline))
            return fail(NVPOS_ERR_TIMEOUT, count, "the last bytes did not leave the port");
        return count;
    }

    Result fail(Result result, std::int32_t count, const char *why)
    {
        qCWarning(lcNvPos,
                  "Writing %d bytes to %s at %d baud failed: %s",
                  count,
                  qPrintable(m_port->portName()),
                  m_baudRate,
                  why);
        // Drop what is left, so that neither the next write nor the close waits for it.
        m_port->clear(QSerialPort::Output);
        m_port->clearError();
        return result;
    }

    std::unique_ptr<QSerialPort> m_port;
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

std::unique_ptr<Connection> openSerial(const std::string &name, const SerialSettings &settings)
{
    const auto path = serialDeviceOf(name);
    if (!path) {
        qCWarning(lcNvPos, "\"%s\" names no serial port (COMn or COM:/path)", name.c_str());
        return nullptr;
    }
    if (!validSettings(settings)) {
        qCWarning(lcNvPos,
                  "Bad serial settings for %s: %d baud, %d data bits, parity %d, %d stop bits",
                  path->c_str(),
                  settings.baudRate,
                  settings.dataBits,
                  settings.parity,
                  settings.stopBits);
        return nullptr;
    }

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(QString::fromLocal8Bit(path->c_str()));
    // Write only: nothing the printer sends back is read, and no read notifier is needed.
    if (!port->open(QIODevice::WriteOnly)) {
        qCWarning(lcNvPos, "Cannot open %s: %s", path->c_str(), qPrintable(port->errorString()));
        return nullptr;
    }
    if (!applySettings(*port, settings)) {
        qCWarning(lcNvPos,
                  "Cannot set up %s at %d baud: %s",
                  path->c_str(),
                  settings.baudRate,
                  qPrintable(port->errorString()));
        port->close();
        return nullptr;
    }
    const int bitsPerCharacter
            = 1 + settings.dataBits + (settings.parity != 0 ? 1 : 0) + settings.stopBits;
    return std::make_unique<SerialConnection>(std::move(port), settings.baudRate, bitsPerCharacter);
}

} // namespace Printer::NvPos
