#include "discovery.h"

#include <printer/nvpos/platformnames.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <vector>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// The printer-class driver's request for the IEEE 1284 device ID (linux/drivers/usb/class/
// usblp.c); no system header carries it.
#ifndef LPIOC_GET_DEVICE_ID
#define LPIOC_GET_DEVICE_ID(len) _IOC(_IOC_READ, 'P', 1, len)
#endif

namespace Printer {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr qint64 SmallAttributeBytes = 4096;
constexpr milliseconds LookupTimeout{3000};
constexpr milliseconds ProgressInterval{100};

QByteArray readAttribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(SmallAttributeBytes);
}

// Device names in their numbers' order: lp2 before lp10.
void sortByNumber(QStringList &names)
{
    static const QRegularExpression tail(QStringLiteral("^(.*?)([0-9]*)$"));
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const auto ma = tail.match(a);
        const auto mb = tail.match(b);
        if (ma.captured(1) != mb.captured(1))
            return ma.captured(1) < mb.captured(1);
        return ma.captured(2).toULongLong() < mb.captured(2).toULongLong();
    });
}

// The device ID the printer gives now, without the two length bytes; empty when it gives none.
QByteArray deviceIdOf(int fd)
{
    unsigned char buffer[1024] = {};
    if (::ioctl(fd, LPIOC_GET_DEVICE_ID(sizeof buffer), buffer) < 0)
        return {};
    // The length comes first, big-endian and counting itself; some printers send it the
    // other way round.
    unsigned length = (unsigned(buffer[0]) << 8) | buffer[1];
    if (length > sizeof buffer || length < 2)
        length = (unsigned(buffer[1]) << 8) | buffer[0];
    length = std::clamp(length, 2u, unsigned(sizeof buffer));
    return QByteArray(reinterpret_cast<const char *>(buffer) + 2, int(length - 2));
}

PrinterInfo usbPrinter(const QString &path, const QString &name, const DeviceFolders &folders)
{
    PrinterInfo info;
    info.target = Target::parse(QStringLiteral("LPT:") + path).value();
    info.source = FoundBy::UsbDevice;
    info.origin = path;
    QByteArray id;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        id = deviceIdOf(fd);
        ::close(fd);
        info.access = Access::Free;
    }
    // The driver keeps the ID it read when the printer was plugged in, readable by everyone.
    if (id.isEmpty())
        id = readAttribute(folders.sys + QStringLiteral("/class/usbmisc/") + name
                           + QStringLiteral("/device/ieee1284_id"))
                     .trimmed();
    info.deviceId = parseDeviceId(id);
    info.model = info.deviceId.makeAndModel();
    QStringList notes;
    if (error == EACCES || error == EPERM) {
        info.access = Access::Denied;
        notes << QStringLiteral("this user may not open it")
              << failureHint(FailureKind::Permission, PortKind::Parallel);
    } else if (error == EBUSY) {
        info.access = Access::Busy;
        notes << QStringLiteral("busy: another program (a print queue?) has it open");
    } else if (error != 0) {
        notes << QStringLiteral("cannot open it: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
    if (!info.deviceId.commandSet.isEmpty())
        notes << QStringLiteral("commands %1").arg(info.deviceId.commandSet);
    info.note = notes.join(QStringLiteral("; "));
    return info;
}

// The names in a folder, by the system's own listing: nothing in it is followed or opened.
QStringList namesIn(const QString &folder)
{
    QStringList names;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return names;
}

// Which program holds each device open, by the device's path: "name (pid)", as far as this
// user may see other programs' files. Only the links are read, so that a file on a server
// that does not answer cannot hold the search up.
QHash<QString, QString> devicesHeld()
{
    QHash<QString, QString> held;
    static const QRegularExpression number(QStringLiteral("^[0-9]+$"));
    for (const QString &pid : namesIn(QStringLiteral("/proc"))) {
        if (!number.match(pid).hasMatch())
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd/").arg(pid);
        for (const QString &fd : namesIn(fds)) {
            char target[4096];
            const ssize_t length = ::readlink(
                    QFile::encodeName(fds + fd).constData(), target, sizeof target - 1);
            if (length <= 5 || std::strncmp(target, "/dev/", 5) != 0)
                continue;
            const QString path = QFile::decodeName(QByteArray(target, qsizetype(length)));
            if (held.contains(path))
                continue;
            const QString program = QString::fromLocal8Bit(
                    readAttribute(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed());
            held.insert(path, QStringLiteral("%1 (pid %2)").arg(program, pid));
        }
    }
    return held;
}

// The USB device a tty belongs to: its maker's and product's words; empty for another bus.
QString usbDeviceWords(const QString &ttyEntry)
{
    QString folder = QFileInfo(ttyEntry + QStringLiteral("/device")).canonicalFilePath();
    for (int up = 0; up < 4 && !folder.isEmpty(); ++up) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor"))) {
            const QString maker = QString::fromUtf8(
                    readAttribute(folder + QStringLiteral("/manufacturer")).trimmed());
            const QString product = QString::fromUtf8(
                    readAttribute(folder + QStringLiteral("/product")).trimmed());
            return QStringList{maker, product}.join(QLatin1Char(' ')).trimmed();
        }
        folder = QFileInfo(folder).path();
    }
    return {};
}

QString serialNote(const QString &name, const QString &usbWords, const Target &target)
{
    QString what = QStringLiteral("serial port");
    if (name.startsWith(QLatin1String("ttyUSB")))
        what = QStringLiteral("USB serial adapter");
    else if (name.startsWith(QLatin1String("ttyACM")))
        what = QStringLiteral("USB serial device");
    if (!usbWords.isEmpty())
        what += QStringLiteral(" (%1)").arg(usbWords);
    return QStringLiteral("%1; a printer may be behind it: nvlogo-cli status %2 asks it")
            .arg(what, target.options().join(QLatin1Char(' ')));
}

std::optional<PrinterInfo>
serialPort(const QString &name, const DeviceFolders &folders, const QHash<QString, QString> &held)
{
    const QString entry = folders.sys + QStringLiteral("/class/tty/") + name;
    if (!QFileInfo::exists(entry + QStringLiteral("/device")))
        return std::nullopt; // a virtual terminal, a pseudo-terminal: no device behind it
    // A standard port the kernel found no UART on (type 0, "unknown").
    const QByteArray type = readAttribute(entry + QStringLiteral("/type")).trimmed();
    if (type == "0")
        return std::nullopt;
    const QString path = folders.dev + QLatin1Char('/') + name;
    struct stat device = {};
    if (::stat(QFile::encodeName(path).constData(), &device) != 0 || !S_ISCHR(device.st_mode)
        || !Target::parse(QStringLiteral("COM:") + path).ok())
        return std::nullopt;
    PrinterInfo info;
    info.target = Target::parse(QStringLiteral("COM:") + path).value();
    info.source = FoundBy::SerialPort;
    info.origin = path;
    info.isPrinter = false;
    const QString usbWords = usbDeviceWords(entry);
    if (name.startsWith(QLatin1String("ttyACM")))
        info.model = usbWords;
    QStringList notes;
    if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0) {
        info.access = Access::Denied;
        notes << QStringLiteral("this user may not open it")
              << failureHint(FailureKind::Permission, PortKind::Serial);
    } else if (const QString holder = held.value(QFileInfo(path).canonicalFilePath());
               !holder.isEmpty()) {
        info.access = Access::Busy;
        notes << QStringLiteral("busy: %1 has it open").arg(holder);
    } else {
        info.access = Access::Free;
    }
    notes << serialNote(name, usbWords, info.target);
    info.note = notes.join(QStringLiteral("; "));
    return info;
}

} // namespace

QList<PrinterInfo> usbPrinters(const DeviceFolders &folders)
{
    const QDir usb(folders.dev + QStringLiteral("/usb"));
    static const QRegularExpression lp(QStringLiteral("^lp[0-9]+$"));
    QStringList names = usb.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    names = names.filter(lp);
    sortByNumber(names);
    QList<PrinterInfo> printers;
    for (const QString &name : names) {
        // A device folder whose name the targets' grammar cannot carry is left out.
        if (Target::parse(QStringLiteral("LPT:") + usb.filePath(name)).ok())
            printers.append(usbPrinter(usb.filePath(name), name, folders));
    }
    return printers;
}

QList<PrinterInfo> serialPorts(const DeviceFolders &folders)
{
    QStringList names = QDir(folders.sys + QStringLiteral("/class/tty"))
                                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    sortByNumber(names);
    QList<PrinterInfo> ports;
    const QHash<QString, QString> held = devicesHeld();
    for (const QString &name : names) {
        if (auto port = serialPort(name, folders, held))
            ports.append(*port);
    }
    return ports;
}

// --- Scanning ------------------------------------------------------------------------------

namespace {

struct Endpoint
{
    qsizetype hit = 0;
    sockaddr_storage address = {};
    socklen_t length = 0;
};

QString numericAddress(const sockaddr *address, socklen_t length)
{
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return QString::fromLatin1(host);
}

Result<std::vector<Endpoint>> lookUp(const QString &host, std::uint16_t port, qsizetype hit)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    using NvPos::Native::HostLookup;
    const HostLookup lookup = NvPos::Native::lookUpHost(
            host.toStdString(), std::to_string(port), hints, Clock::now() + LookupTimeout);
    if (lookup.outcome == HostLookup::Outcome::TimedOut)
        return Failure{FailureKind::Timeout,
                       QStringLiteral("Cannot look up %1: no answer within 3 s").arg(host)};
    if (lookup.outcome != HostLookup::Outcome::Found)
        return Failure{FailureKind::NotFound,
                       QStringLiteral("Cannot look up %1: %2")
                               .arg(host, QString::fromLocal8Bit(lookup.reason.c_str()))};
    std::vector<Endpoint> endpoints;
    for (const addrinfo *a = lookup.found.get(); a; a = a->ai_next) {
        Endpoint endpoint;
        endpoint.hit = hit;
        std::memcpy(&endpoint.address, a->ai_addr, a->ai_addrlen);
        endpoint.length = a->ai_addrlen;
        endpoints.push_back(endpoint);
    }
    return endpoints;
}

Endpoint ipv4Endpoint(quint32 address, std::uint16_t port, qsizetype hit)
{
    Endpoint endpoint;
    endpoint.hit = hit;
    auto *in = reinterpret_cast<sockaddr_in *>(&endpoint.address);
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    in->sin_addr.s_addr = htonl(address);
    endpoint.length = sizeof(sockaddr_in);
    return endpoint;
}

Target ethernet(const QString &host, std::uint16_t port)
{
    const QString address
            = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return Target::parse(QStringLiteral("ETHERNET %1:%2").arg(address).arg(port)).value();
}

// The hits of the ranges, each address once, and the connections to try for them.
void expand(const QList<ScanRange> &ranges, QList<ScanHit> &hits, std::vector<Endpoint> &endpoints)
{
    QSet<QString> seen;
    for (const ScanRange &range : ranges) {
        if (!range.host.isEmpty()) {
            ScanHit hit;
            hit.target = ethernet(range.host, range.port);
            if (seen.contains(hit.target.key()))
                continue;
            seen.insert(hit.target.key());
            auto found = lookUp(range.host, range.port, hits.size());
            if (found.ok())
                endpoints.insert(endpoints.end(), found.value().begin(), found.value().end());
            else
                hit.reason = found.failure().reason;
            hits.append(hit);
            continue;
        }
        for (qint64 a = range.first; a <= qint64(range.last); ++a) {
            const Endpoint endpoint = ipv4Endpoint(quint32(a), range.port, hits.size());
            ScanHit hit;
            hit.address = numericAddress(reinterpret_cast<const sockaddr *>(&endpoint.address),
                                         endpoint.length);
            hit.target = ethernet(hit.address, range.port);
            if (seen.contains(hit.target.key()))
                continue;
            seen.insert(hit.target.key());
            hits.append(hit);
            endpoints.push_back(endpoint);
        }
    }
}

// What a connection that ended with error says about the address.
void settle(ScanHit &hit, const Endpoint &endpoint, int error)
{
    if (hit.answer == ScanAnswer::Accepted)
        return;
    hit.address = numericAddress(reinterpret_cast<const sockaddr *>(&endpoint.address),
                                 endpoint.length);
    hit.reason.clear();
    switch (error) {
    case 0:
        hit.answer = ScanAnswer::Accepted;
        return;
    case ECONNREFUSED:
        hit.answer = ScanAnswer::Refused;
        return;
    case ETIMEDOUT:
        hit.answer = ScanAnswer::Silent;
        return;
    case EHOSTUNREACH:
    case ENETUNREACH:
        hit.answer = ScanAnswer::Unreachable;
        break;
    default:
        hit.answer = ScanAnswer::Failed;
        break;
    }
    hit.reason = QString::fromLocal8Bit(std::strerror(error));
}

struct Attempt
{
    size_t endpoint = 0;
    int fd = -1;
    Clock::time_point deadline;
};

// The connections of a scan, up to a number at once.
class Connector
{
public:
    Connector(QList<ScanHit> &hits, const std::vector<Endpoint> &endpoints, const ScanOptions &o)
        : m_hits(hits)
        , m_endpoints(endpoints)
        , m_options(o)
    {}
    ~Connector()
    {
        for (const Attempt &attempt : m_attempts)
            ::close(attempt.fd);
    }
    Connector(const Connector &) = delete;
    Connector &operator=(const Connector &) = delete;

    void run();

private:
    bool start();
    void wait();
    void finish(size_t index, int error);
    void report(bool last);

    QList<ScanHit> &m_hits;
    const std::vector<Endpoint> &m_endpoints;
    const ScanOptions &m_options;
    std::vector<Attempt> m_attempts;
    size_t m_next = 0;
    ScanProgress m_progress;
    Clock::time_point m_reported;
};

// Starts the next connection; false when no socket can be had now.
bool Connector::start()
{
    const Endpoint &endpoint = m_endpoints[m_next];
    const int fd
            = ::socket(endpoint.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        if ((error == EMFILE || error == ENFILE) && !m_attempts.empty())
            return false; // wait until one of those running ends
        Attempt failed{m_next++, -1, {}};
        m_attempts.push_back(failed);
        finish(m_attempts.size() - 1, error);
        return true;
    }
    const int rc
            = ::connect(fd, reinterpret_cast<const sockaddr *>(&endpoint.address), endpoint.length);
    m_attempts.push_back({m_next++, fd, Clock::now() + m_options.timeout});
    if (rc == 0 || errno != EINPROGRESS)
        finish(m_attempts.size() - 1, rc == 0 ? 0 : errno);
    return true;
}

void Connector::finish(size_t index, int error)
{
    const Attempt attempt = m_attempts[index];
    if (attempt.fd >= 0)
        ::close(attempt.fd);
    m_attempts.erase(m_attempts.begin() + qsizetype(index));
    const Endpoint &endpoint = m_endpoints[attempt.endpoint];
    settle(m_hits[endpoint.hit], endpoint, error);
    ++m_progress.done;
    if (error == 0)
        ++m_progress.accepted;
}

void Connector::wait()
{
    std::vector<pollfd> fds;
    Clock::time_point until = Clock::now() + ProgressInterval;
    for (const Attempt &attempt : m_attempts) {
        fds.push_back({attempt.fd, POLLOUT, 0});
        until = std::min(until, attempt.deadline);
    }
    const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
    if (::poll(fds.data(), nfds_t(fds.size()), int(std::clamp<qint64>(left, 0, 100) + 1)) < 0
        && errno != EINTR)
        return;
    const Clock::time_point now = Clock::now();
    // From the end, so that finishing one leaves the indexes before it as they were.
    for (size_t i = fds.size(); i-- > 0;) {
        if (fds[i].revents != 0) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            finish(i, error);
        } else if (now >= m_attempts[i].deadline) {
            finish(i, ETIMEDOUT);
        }
    }
}

void Connector::report(bool last)
{
    if (!m_options.progress)
        return;
    const Clock::time_point now = Clock::now();
    if (!last && now - m_reported < ProgressInterval)
        return;
    m_reported = now;
    m_options.progress(m_progress);
}

void Connector::run()
{
    m_progress.total = int(m_endpoints.size());
    const int most = std::clamp(m_options.connections, 1, MaxScanConnections);
    if (m_options.progress)
        m_options.progress(m_progress);
    m_reported = Clock::now();
    while (m_next < m_endpoints.size() || !m_attempts.empty()) {
        if (m_options.stopRequested && m_options.stopRequested())
            break;
        while (m_next < m_endpoints.size() && int(m_attempts.size()) < most && start()) {
        }
        if (!m_attempts.empty())
            wait();
        report(false);
    }
    // Addresses not tried, or not to the end, when a stop came.
    for (ScanHit &hit : m_hits) {
        if (hit.answer == ScanAnswer::Failed && hit.reason.isEmpty())
            hit.reason = QStringLiteral("the scan was stopped before it ended");
    }
    report(true);
}

} // namespace

QList<ScanHit> scanAddresses(const QList<ScanRange> &ranges, const ScanOptions &options)
{
    QList<ScanHit> hits;
    std::vector<Endpoint> endpoints;
    expand(ranges, hits, endpoints);
    Connector connector(hits, endpoints, options);
    connector.run();
    return hits;
}

} // namespace Printer
