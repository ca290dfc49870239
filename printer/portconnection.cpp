#include "portconnection.h"

#include "poslibrary.h"

#include <QCoreApplication>
#include <QThread>

#include <limits>

namespace Printer {

namespace {

constexpr std::int32_t SerialDataBits = 8;
constexpr std::int32_t EthernetMode = 21;
constexpr std::int32_t SerialMode = 1;
constexpr std::int32_t ParallelMode = 18;
constexpr std::int32_t DriverMode = 20;
constexpr unsigned long OpenSettleMs = 100;

QString trimSpaces(const QString &text)
{
    // Only spaces are trimmed, as a user pastes them; tabs and other white space are kept for the
    // library to refuse.
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

std::int32_t baudRateOf(const QString &baudText)
{
    bool ok = false;
    const qlonglong value = baudText.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max()) {
        throw ConversionError(
                QCoreApplication::translate("Printer", "The baud rate \"%1\" is not a number.")
                        .arg(baudText)
                        .toStdString());
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

PortKind portKindOf(const QString &portText)
{
    const QString prefix = portText.left(3);
    if (prefix == QLatin1String("ETH"))
        return PortKind::Ethernet;
    if (prefix == QLatin1String("COM"))
        return PortKind::Serial;
    if (prefix == QLatin1String("LPT"))
        return PortKind::Parallel;
    if (prefix == QLatin1String("DRI"))
        return PortKind::Driver;
    return PortKind::Unknown;
}

std::int32_t OpenPort(PosLibrary &library, const PortSettings &settings)
{
    std::int32_t result = 0;
    const QByteArray port
            = settings.portBytes.isEmpty() ? settings.portText.toLocal8Bit() : settings.portBytes;
    switch (portKindOf(settings.portText)) {
    case PortKind::Ethernet:
        result = library.POS_Open(
                trimSpaces(settings.ipText).toLocal8Bit(), 0, 0, 0, 0, EthernetMode);
        break;
    case PortKind::Serial: {
        const std::int32_t baud = baudRateOf(settings.baudText);
        result = library.POS_Open(port, baud, SerialDataBits, 0, 0, SerialMode);
        break;
    }
    case PortKind::Parallel:
        result = library.POS_Open(port, 0, 0, 0, 0, ParallelMode);
        break;
    case PortKind::Driver:
        result = library.POS_Open(settings.printerName.toLocal8Bit(), 0, 0, 0, 0, DriverMode);
        break;
    case PortKind::Unknown:
        break;
    }
    // Printers need a moment after a connection opens before they take data.
    QThread::msleep(OpenSettleMs);
    return result;
}

std::int32_t ClosePort(PosLibrary &library)
{
    return library.POS_Close();
}

} // namespace Printer
