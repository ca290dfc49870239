#pragma once

// Which printers are here: the printer-class USB devices, the serial ports that exist, the
// print server's queues, the network printers that announce themselves over DNS-SD, and the
// addresses the user names. Each is found as a Target with what was learned about it on the
// way. Nothing here sends a byte to a printer: asking the ones that accept a connection is
// the commands' work, above the ESC/POS layer. One file per platform (discovery_<platform>.cpp)
// and, for DNS-SD, one per service library (discovery_avahi.cpp).

#include "result.h"
#include "target.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace Printer {

// How a printer was found.
enum class FoundBy { UsbDevice, SerialPort, PrintQueue, DnsSd, Scan };
// "usb", "serial", "cups", "dns-sd", "scan".
QString foundByName(FoundBy source);

// The IEEE 1284 device ID a printer gives: "KEY:value;" pairs.
struct DeviceId
{
    QString manufacturer;                  // MFG or MANUFACTURER
    QString model;                         // MDL or MODEL
    QString commandSet;                    // CMD or COMMAND SET, as given ("ESC/POS,PJL")
    QString description;                   // DES or DESCRIPTION
    QString serialNumber;                  // SN, SERN or SERIALNUMBER
    QList<QPair<QString, QString>> fields; // every pair, keys as sent, in order

    bool isEmpty() const { return fields.isEmpty(); }
    // "Maker Model", the maker once even where the model repeats it; else the description.
    QString makeAndModel() const;
};

// The pairs of a device ID text (without the driver's two length bytes). Keys are matched
// without regard to case or the blanks around them; pieces without a colon are passed over,
// NUL bytes end the text.
DeviceId parseDeviceId(const QByteArray &text);

// Whether this user may open the device now.
enum class Access { Unknown, Free, Busy, Denied };

// One printer found, or one port that a printer may be behind.
struct PrinterInfo
{
    Target target;
    FoundBy source = FoundBy::Scan;
    // Where it was found: the device, the queue's device URI, the service's name, the
    // address scanned.
    QString origin;
    QString model;    // empty when unknown
    QString firmware; // empty when unknown
    DeviceId deviceId;
    Access access = Access::Unknown;
    // What the user should know: busy, the group to join, what the entry stands for.
    QString note;
    // The network printer that a queue on socket://host:port prints to.
    std::optional<Target> behind;
    // The line of another entry that reaches the same printer more directly (a queue of a
    // USB printer listed as its device too); two connections at once would mix their bytes.
    QString sameAs;
    // A printer for sure; false for a serial port that one may be behind.
    bool isPrinter = true;
};

// Where the system keeps its devices; the tests point these at a made-up tree.
struct DeviceFolders
{
    QString dev = QStringLiteral("/dev");
    QString sys = QStringLiteral("/sys");
};

// The printer-class USB devices (/dev/usb/lp*) with their device IDs. A device this user may
// not open is listed all the same, with its ID from the system's device tree where it has
// one, Access::Denied and the group to join.
QList<PrinterInfo> usbPrinters(const DeviceFolders &folders = {});

// The serial ports that have a device behind them: real UARTs (a standard port the kernel
// found no chip on is left out), USB serial adapters and USB serial devices. Which are busy
// is told by the programs holding them, as far as this user may see other programs.
QList<PrinterInfo> serialPorts(const DeviceFolders &folders = {});

// The print server's queues with their device URIs; fails when the server does not answer.
Result<QList<PrinterInfo>> printQueues();
// The network printer a device URI names: socket://host[:port] (port 9100 when none is
// given); nothing for every other URI.
std::optional<Target> targetBehindUri(const QString &deviceUri);

// The printers that announce raw printing (_pdl-datastream._tcp) over DNS-SD, through the
// avahi daemon, within wait. Fails (kind NotFound) when the daemon is not running, or
// (Unsupported) when this build has no DNS-SD.
Result<QList<PrinterInfo>> announcedPrinters(std::chrono::milliseconds wait);

// The sources of one look around, and what they found.
struct DiscoveryOptions
{
    bool usb = true;
    bool serial = true;
    bool queues = true;
    bool dnsSd = true;
    std::chrono::milliseconds dnsSdWait{3000};
    DeviceFolders folders;
};

struct Discovery
{
    QList<PrinterInfo> printers;
    QStringList remarks; // one line for each source that could not be read, and why
};

// Every local source the options name, in the order above, with entries that reach one
// printer twice marked (sameAs). Talks to no printer and to no address on the network.
Discovery discoverPrinters(const DiscoveryOptions &options = {});

// Marks the entries that reach a printer another entry reaches more directly: a queue on
// socket://host:port when that address is listed itself, a queue on usb://maker/model when
// the USB device with that device ID is.
void markSamePrinters(QList<PrinterInfo> &printers);

// --- Hosts the user names ------------------------------------------------------------------

constexpr int MaxScanAddresses = 4096;
constexpr int MaxScanConnections = 256;

// One --scan text: an IPv4 range, or one host (a name or an IPv6 address).
struct ScanRange
{
    QString host;      // a host name or an IPv6 address; empty for IPv4 addresses
    quint32 first = 0; // the IPv4 range first..last, both included
    quint32 last = 0;
    std::uint16_t port = 9100;

    qint64 count() const { return host.isEmpty() ? qint64(last) - qint64(first) + 1 : 1; }
};

// 192.168.1.0/24 (every host address of the network: in a network of four addresses or more
// the network's own and its broadcast address are left out), 10.0.0.5-10.0.0.40
// or 10.0.0.5-40, 10.0.0.5, a host name, an IPv6 address bare or in brackets; each with :port where
// a port may follow (port 9100 when none is given). Refuses more than MaxScanAddresses addresses,
// multicast and broadcast addresses, and anything else with a reason.
Result<ScanRange> parseScanRange(const QString &text);
// All the --scan texts of one run, which together name at most MaxScanAddresses addresses.
Result<QList<ScanRange>> parseScanRanges(const QStringList &texts);

// What became of one address.
enum class ScanAnswer {
    Accepted,    // a connection was made (and closed at once)
    Refused,     // nothing listens on that port
    Silent,      // no answer in time: no host, or a firewall that drops
    Unreachable, // no route to the host or network
    Failed       // a name that does not resolve, or another error; reason says
};

struct ScanHit
{
    Target target;   // ETHERNET address:port, or the host name as given
    QString address; // the numeric address connected to; empty when there was none
    ScanAnswer answer = ScanAnswer::Failed;
    QString reason;
};

struct ScanProgress
{
    int total = 0;
    int done = 0;
    int accepted = 0;
};

struct ScanOptions
{
    std::chrono::milliseconds timeout{1000}; // for each connection
    int connections = MaxScanConnections;    // at most this many at once
    // Called on the calling thread at the start, about ten times a second and at the end.
    std::function<void(const ScanProgress &)> progress;
    // Asked as often; true ends the scan, leaving the addresses not tried out.
    std::function<bool()> stopRequested;
};

// Tries a TCP connection to every address of the ranges, up to options.connections at once,
// each for at most options.timeout; a host name is looked up first (3 s at most). Sends
// nothing: a connection is closed as soon as it is made. One hit per address, in the order
// of the ranges, an address named twice tried once; a host name with several addresses gives
// one hit: the first of them that accepts, else the last to end.
QList<ScanHit> scanAddresses(const QList<ScanRange> &ranges, const ScanOptions &options);

} // namespace Printer
