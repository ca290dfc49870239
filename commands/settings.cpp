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

QString describeTarget(const Printer::PortSettings &port)
{
    switch (Printer::portKindOf(port.portText)) {
    case Printer::PortKind::Ethernet:
        return port.ipText.trimmed();
    case Printer::PortKind::Driver:
        return QStringLiteral("queue \"%1\"").arg(port.printerName);
    default:
        return port.portText;
    }
}

int serialBaudRate(const Printer::PortSettings &port)
{
    if (Printer::portKindOf(port.portText) != Printer::PortKind::Serial)
        return 0;
    bool ok = false;
    const int baud = port.baudText.trimmed().toInt(&ok);
    return ok && baud > 0 ? baud : 0;
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
