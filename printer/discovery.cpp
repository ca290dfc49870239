#include "discovery.h"

#include "installedprinters.h"

#include <printer/nvpos/platformnames.h>

#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <QUrlQuery>

namespace Printer {

namespace {

Failure invalid(const QString &why)
{
    return Failure{FailureKind::Invalid, why};
}

QString decodedText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// The field a device ID key fills, or nullptr for one of no interest.
QString *fieldOf(DeviceId &id, const QString &key)
{
    const QString k = key.simplified().toUpper();
    if (k == QLatin1String("MFG") || k == QLatin1String("MANUFACTURER"))
        return &id.manufacturer;
    if (k == QLatin1String("MDL") || k == QLatin1String("MODEL"))
        return &id.model;
    if (k == QLatin1String("CMD") || k == QLatin1String("COMMAND SET"))
        return &id.commandSet;
    if (k == QLatin1String("DES") || k == QLatin1String("DESCRIPTION"))
        return &id.description;
    if (k == QLatin1String("SN") || k == QLatin1String("SERN") || k == QLatin1String("SERIALNUMBER")
        || k == QLatin1String("SERIAL NUMBER"))
        return &id.serialNumber;
    return nullptr;
}

// The queue's USB printer among the devices: usb://Maker/Model?serial=… against the device
// IDs, the serial number deciding where both have one.
const PrinterInfo *usbDeviceOf(const QString &deviceUri, const QList<PrinterInfo> &printers)
{
    const QUrl url(deviceUri);
    if (url.scheme().compare(QLatin1String("usb"), Qt::CaseInsensitive) != 0)
        return nullptr;
    const QString maker = url.host(QUrl::FullyDecoded);
    const QString model = url.path(QUrl::FullyDecoded).mid(1);
    const QString serial
            = QUrlQuery(url).queryItemValue(QStringLiteral("serial"), QUrl::FullyDecoded);
    for (const PrinterInfo &info : printers) {
        const DeviceId &id = info.deviceId;
        if (info.source != FoundBy::UsbDevice || id.isEmpty())
            continue;
        if (!serial.isEmpty() && !id.serialNumber.isEmpty()) {
            if (serial == id.serialNumber)
                return &info;
            continue;
        }
        if (maker.compare(id.manufacturer, Qt::CaseInsensitive) == 0
            && model.compare(id.model, Qt::CaseInsensitive) == 0)
            return &info;
    }
    return nullptr;
}

PrinterInfo queueInfo(const InstalledQueue &queue)
{
    PrinterInfo info;
    info.target = Target::parse(QStringLiteral("DRIVER ") + queue.name).value();
    info.source = FoundBy::PrintQueue;
    info.origin = queue.deviceUri;
    // A raw queue's "model" is the print server's, not the printer's.
    if (!queue.makeAndModel.startsWith(QLatin1String("Local Raw"), Qt::CaseInsensitive))
        info.model = queue.makeAndModel;
    info.behind = targetBehindUri(queue.deviceUri);
    QStringList notes;
    if (!queue.deviceUri.isEmpty())
        notes << QStringLiteral("prints to %1").arg(queue.deviceUri);
    if (info.behind)
        notes << QStringLiteral("directly: %1").arg(info.behind->options().join(QLatin1Char(' ')));
    if (queue.stopped) {
        notes << (queue.stateMessage.isEmpty()
                          ? QStringLiteral("stopped")
                          : QStringLiteral("stopped: %1").arg(queue.stateMessage));
    }
    if (!queue.accepting)
        notes << QStringLiteral("does not accept jobs");
    info.note = notes.join(QStringLiteral("; "));
    return info;
}

} // namespace

QString foundByName(FoundBy source)
{
    switch (source) {
    case FoundBy::UsbDevice:
        return QStringLiteral("usb");
    case FoundBy::SerialPort:
        return QStringLiteral("serial");
    case FoundBy::PrintQueue:
        return QStringLiteral("cups");
    case FoundBy::DnsSd:
        return QStringLiteral("dns-sd");
    case FoundBy::Scan:
        break;
    }
    return QStringLiteral("scan");
}

QString DeviceId::makeAndModel() const
{
    if (model.isEmpty())
        return description.isEmpty() ? manufacturer : description;
    if (manufacturer.isEmpty() || model.startsWith(manufacturer, Qt::CaseInsensitive))
        return model;
    return manufacturer + QLatin1Char(' ') + model;
}

DeviceId parseDeviceId(const QByteArray &text)
{
    DeviceId id;
    const qsizetype end = text.indexOf('\0');
    const QString all = decodedText(end < 0 ? text : text.left(end));
    for (const QString &piece : all.split(QLatin1Char(';'))) {
        const qsizetype colon = piece.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString key = piece.left(colon).trimmed();
        const QString value = piece.mid(colon + 1).trimmed();
        if (key.isEmpty())
            continue;
        id.fields.append({key, value});
        QString *field = fieldOf(id, key);
        if (field && field->isEmpty())
            *field = value;
    }
    return id;
}

std::optional<Target> targetBehindUri(const QString &deviceUri)
{
    const QUrl url(deviceUri, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(QLatin1String("socket"), Qt::CaseInsensitive) != 0
        || url.host().isEmpty())
        return std::nullopt;
    QString host = url.host(QUrl::FullyDecoded);
    if (host.contains(QLatin1Char(':')))
        host = QStringLiteral("[%1]").arg(host);
    const int port = url.port(rawPrintingPort());
    const Result<Target> target
            = Target::parse(QStringLiteral("ETHERNET %1:%2").arg(host).arg(port));
    if (!target.ok())
        return std::nullopt;
    return target.value();
}

Result<QList<PrinterInfo>> printQueues()
{
    const Result<QList<InstalledQueue>> queues = installedQueues();
    if (!queues.ok())
        return queues.failure();
    QList<PrinterInfo> printers;
    for (const InstalledQueue &queue : queues.value()) {
        // A queue's name is a word; one the targets' grammar cannot name is left out.
        if (Target::parse(QStringLiteral("DRIVER ") + queue.name).ok())
            printers.append(queueInfo(queue));
    }
    return printers;
}

void markSamePrinters(QList<PrinterInfo> &printers)
{
    for (PrinterInfo &info : printers) {
        if (info.source != FoundBy::PrintQueue || !info.sameAs.isEmpty())
            continue;
        if (info.behind) {
            const QString key = info.behind->key();
            for (const PrinterInfo &other : printers) {
                if (&other != &info && other.target.key() == key)
                    info.sameAs = other.target.line();
            }
        } else if (const PrinterInfo *device = usbDeviceOf(info.origin, printers)) {
            info.sameAs = device->target.line();
        }
    }
}

Discovery discoverPrinters(const DiscoveryOptions &options)
{
    Discovery found;
    if (options.usb)
        found.printers += usbPrinters(options.folders);
    if (options.serial)
        found.printers += serialPorts(options.folders);
    if (options.queues) {
        const Result<QList<PrinterInfo>> queues = printQueues();
        if (queues.ok())
            found.printers += queues.value();
        else
            found.remarks << QStringLiteral("%1: its queues are not listed.")
                                     .arg(queues.failure().reason);
    }
    if (options.dnsSd) {
        const Result<QList<PrinterInfo>> announced = announcedPrinters(options.dnsSdWait);
        if (announced.ok())
            found.printers += announced.value();
        else
            found.remarks << QStringLiteral("%1: printers that announce themselves over DNS-SD "
                                            "are not listed.")
                                     .arg(announced.failure().reason);
    }
    markSamePrinters(found.printers);
    return found;
}

// --- Scan ranges -------------------------------------------------------------------------

namespace {

constexpr quint32 FirstMulticast = 0xE0000000u; // 224.0.0.0: multicast and reserved above
constexpr quint32 ThisNetworkEnd = 0x00FFFFFFu; // 0.0.0.0/8 names no host

std::optional<quint32> ipv4Of(const QString &text)
{
    static const QRegularExpression quad(
            QStringLiteral("^(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\."
                           "(0|[1-9][0-9]{0,2})$"));
    const QRegularExpressionMatch match = quad.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    quint32 address = 0;
    for (int i = 1; i <= 4; ++i) {
        const uint part = match.captured(i).toUInt();
        if (part > 255)
            return std::nullopt;
        address = (address << 8) | part;
    }
    return address;
}

bool isHostName(const QString &text)
{
    static const QRegularExpression name(
            QStringLiteral("^(?=.{1,253}$)([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.)*"
                           "[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.?$"));
    return name.match(text).hasMatch();
}

// The address part and the port part of a text; false when the port is no port.
bool splitPort(const QString &text, QString &address, std::uint16_t &port)
{
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        address = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return false;
        portText = rest.mid(1);
        if (!rest.isEmpty() && portText.isEmpty())
            return false;
    } else if (text.count(QLatin1Char(':')) == 1) {
        address = text.section(QLatin1Char(':'), 0, 0);
        portText = text.section(QLatin1Char(':'), 1);
        if (portText.isEmpty())
            return false;
    } else {
        address = text; // no port, or a bare IPv6 address
    }
    if (portText.isEmpty())
        return true;
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const uint value = portText.toUInt();
    if (!digits.match(portText).hasMatch() || value < 1 || value > 65535)
        return false;
    port = std::uint16_t(value);
    return true;
}

Result<ScanRange> checkedRange(const QString &text, ScanRange range)
{
    if (range.first > range.last)
        return invalid(QStringLiteral("'%1' ends before it starts").arg(text));
    if (range.count() > MaxScanAddresses) {
        return invalid(QStringLiteral("'%1' names %2 addresses; at most %3 are scanned in one "
                                      "run")
                               .arg(text)
                               .arg(range.count())
                               .arg(MaxScanAddresses));
    }
    if (range.last >= FirstMulticast)
        return invalid(QStringLiteral("'%1' reaches multicast or reserved addresses (224.0.0.0 "
                                      "and above), where no printer is")
                               .arg(text));
    if (range.first <= ThisNetworkEnd)
        return invalid(QStringLiteral("'%1' reaches 0.0.0.0/8, which names no host").arg(text));
    return range;
}

Result<ScanRange> networkRange(const QString &text, const QString &address, ScanRange range)
{
    const QString base = address.section(QLatin1Char('/'), 0, 0);
    const QString bits = address.section(QLatin1Char('/'), 1);
    static const QRegularExpression prefix(QStringLiteral("^[0-9]{1,2}$"));
    const std::optional<quint32> start = ipv4Of(base);
    if (!start || !prefix.match(bits).hasMatch() || bits.toInt() > 32)
        return invalid(QStringLiteral("'%1' is no network: write it as 192.168.1.0/24").arg(text));
    const int hostBits = 32 - bits.toInt();
    if (hostBits > 20) {
        return invalid(QStringLiteral("'%1' names %2 addresses; at most %3 are scanned in one "
                                      "run")
                               .arg(text)
                               .arg(qint64(1) << hostBits)
                               .arg(MaxScanAddresses));
    }
    const quint32 size = quint32(1) << hostBits;
    range.first = *start & ~(size - 1);
    range.last = range.first + (size - 1);
    if (hostBits >= 2) {
        ++range.first;
        --range.last;
    }
    return checkedRange(text, range);
}

Result<ScanRange> spanRange(const QString &text, const QString &address, ScanRange range)
{
    const QString from = address.section(QLatin1Char('-'), 0, 0);
    const QString to = address.section(QLatin1Char('-'), 1);
    const std::optional<quint32> first = ipv4Of(from);
    std::optional<quint32> last = ipv4Of(to);
    static const QRegularExpression octet(QStringLiteral("^(0|[1-9][0-9]{0,2})$"));
    if (first && !last && octet.match(to).hasMatch() && to.toUInt() <= 255)
        last = (*first & 0xFFFFFF00u) | to.toUInt();
    if (!first || !last) {
        return invalid(QStringLiteral("'%1' is no address range: write it as "
                                      "10.0.0.5-10.0.0.40 or 10.0.0.5-40")
                               .arg(text));
    }
    range.first = *first;
    range.last = *last;
    return checkedRange(text, range);
}

Result<ScanRange> ipv6Host(const QString &text, const QString &address, ScanRange range)
{
    const QString bare = address.section(QLatin1Char('%'), 0, 0);
    const QString scope
            = address.contains(QLatin1Char('%')) ? address.section(QLatin1Char('%'), 1) : QString();
    const auto canonical = NvPos::Native::canonicalAddress(bare.toStdString());
    if (!canonical || !bare.contains(QLatin1Char(':'))
        || (address.contains(QLatin1Char('%')) && scope.isEmpty()))
        return invalid(QStringLiteral("'%1' is no IPv6 address").arg(text));
    const QString host = QString::fromStdString(*canonical);
    if (host == QLatin1String("::") || host.startsWith(QLatin1String("ff")))
        return invalid(QStringLiteral("'%1' is no printer's address (unspecified or multicast)")
                               .arg(text));
    range.host = scope.isEmpty() ? host : host + QLatin1Char('%') + scope;
    return range;
}

} // namespace

Result<ScanRange> parseScanRange(const QString &text)
{
    ScanRange range;
    QString address;
    if (text.isEmpty() || text.contains(QLatin1Char(' ')) || !splitPort(text, address, range.port))
        return invalid(QStringLiteral("'%1' is no address: use 192.168.1.0/24, "
                                      "10.0.0.5-10.0.0.40, host, host:port or an IPv6 address")
                               .arg(text));
    if (address.contains(QLatin1Char(':')))
        return ipv6Host(text, address, range);
    if (address.contains(QLatin1Char('/')))
        return networkRange(text, address, range);
    if (address.contains(QLatin1Char('-'))
        && address.section(QLatin1Char('-'), 0, 0)
                   .contains(QRegularExpression(QStringLiteral("^[0-9.]+$"))))
        return spanRange(text, address, range);
    static const QRegularExpression numeric(QStringLiteral("^[0-9.]+$"));
    if (numeric.match(address).hasMatch()) {
        const std::optional<quint32> single = ipv4Of(address);
        if (!single)
            return invalid(QStringLiteral("'%1' is no IPv4 address").arg(text));
        range.first = range.last = *single;
        return checkedRange(text, range);
    }
    if (!isHostName(address))
        return invalid(QStringLiteral("'%1' is no host name").arg(text));
    range.host = address;
    return range;
}

Result<QList<ScanRange>> parseScanRanges(const QStringList &texts)
{
    QList<ScanRange> ranges;
    qint64 total = 0;
    for (const QString &text : texts) {
        const Result<ScanRange> range = parseScanRange(text);
        if (!range.ok())
            return range.failure();
        total += range.value().count();
        ranges.append(range.value());
    }
    if (total > MaxScanAddresses) {
        return invalid(QStringLiteral("the ranges name %1 addresses together; at most %2 are "
                                      "scanned in one run")
                               .arg(total)
                               .arg(MaxScanAddresses));
    }
    return ranges;
}

} // namespace Printer
