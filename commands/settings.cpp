#include "settings.h"

#include <nvimage/nvimagefile.h>
#include <printer/portconnection.h>

#include <QtGlobal>

namespace Commands {

std::optional<qint64> parseNvCapacity(const QString &text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < MinNvCapacity || value > MaxNvCapacity)
        return std::nullopt;
    return value;
}

qint64 nvCapacitySetting()
{
    const QString text = qEnvironmentVariable(NvCapacityVariable);
    if (text.isEmpty())
        return NvImage::DefaultNvCapacity;
    if (const auto value = parseNvCapacity(text))
        return *value;
    qWarning("Ignoring %s=%s: not a number of bytes from %lld to %lld",
             NvCapacityVariable,
             qPrintable(text),
             MinNvCapacity,
             MaxNvCapacity);
    return NvImage::DefaultNvCapacity;
}

namespace {

// The window's target, or nothing while its baud text is not a number.
std::optional<Printer::Target> windowTarget(const Printer::PortSettings &port)
{
    try {
        return Printer::Target::fromWindowSettings(port);
    } catch (const Printer::ConversionError &) {
        return std::nullopt;
    }
}

} // namespace

QString describeTarget(const Printer::PortSettings &port)
{
    const auto target = windowTarget(port);
    return target ? target->display() : port.portText;
}

int serialBaudRate(const Printer::PortSettings &port)
{
    const auto target = windowTarget(port);
    return target && target->baud() > 0 ? target->baud() : 0;
}

qint64 serialLineSeconds(qint64 bytes, int baudRate)
{
    return (bytes * 10 + baudRate - 1) / baudRate;
}

QString clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace Commands
