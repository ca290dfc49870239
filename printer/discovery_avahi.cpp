// Printers that announce themselves over DNS-SD, through the avahi daemon's client library.

#include "discovery.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/strlst.h>

#include <algorithm>
#include <vector>

#include <net/if.h>

namespace Printer {

namespace {

using Clock = std::chrono::steady_clock;

// The raw printing service, port 9100 as a rule.
constexpr char RawPrintingService[] = "_pdl-datastream._tcp";

struct Browse
{
    AvahiClient *client = nullptr;
    std::vector<AvahiServiceResolver *> resolvers; // still running
    bool allForNow = false;
    QString failure;
    QList<PrinterInfo> found;
};

QString txtValue(AvahiStringList *txt, const char *key)
{
    AvahiStringList *item = avahi_string_list_find(txt, key);
    char *name = nullptr;
    char *value = nullptr;
    size_t size = 0;
    if (!item || avahi_string_list_get_pair(item, &name, &value, &size) < 0)
        return {};
    const QString text = value ? QString::fromUtf8(value, qsizetype(size)).trimmed() : QString();
    avahi_free(name);
    avahi_free(value);
    return text;
}

// The printer's words for itself: ty, else product ("(Model)"), else usb_MFG and usb_MDL.
QString modelOf(AvahiStringList *txt)
{
    if (const QString ty = txtValue(txt, "ty"); !ty.isEmpty())
        return ty;
    QString product = txtValue(txt, "product");
    if (product.startsWith(QLatin1Char('(')) && product.endsWith(QLatin1Char(')')))
        product = product.mid(1, product.size() - 2);
    if (!product.isEmpty())
        return product;
    DeviceId id;
    id.manufacturer = txtValue(txt, "usb_MFG");
    id.model = txtValue(txt, "usb_MDL");
    return id.makeAndModel();
}

// The address as the targets' grammar takes it; a link-local IPv6 address with its interface.
QString addressText(const AvahiAddress &address, AvahiIfIndex interface, uint16_t port)
{
    char text[AVAHI_ADDRESS_STR_MAX] = {};
    avahi_address_snprint(text, sizeof text, &address);
    QString host = QString::fromLatin1(text);
    if (address.proto != AVAHI_PROTO_INET6)
        return QStringLiteral("%1:%2").arg(host).arg(port);
    char name[IF_NAMESIZE] = {};
    if (host.startsWith(QLatin1String("fe80:"), Qt::CaseInsensitive)
        && ::if_indextoname(unsigned(interface), name))
        host += QLatin1Char('%') + QString::fromLatin1(name);
    return QStringLiteral("[%1]:%2").arg(host).arg(port);
}

void add(Browse &browse, PrinterInfo info, bool ipv4)
{
    // One service is announced on every interface and over IPv4 and IPv6: once, IPv4 first.
    for (PrinterInfo &known : browse.found) {
        if (known.origin != info.origin)
            continue;
        if (ipv4 && known.target.name().startsWith('['))
            known = std::move(info);
        return;
    }
    browse.found.append(std::move(info));
}

void onResolved(AvahiServiceResolver *resolver,
                AvahiIfIndex interface,
                AvahiProtocol,
                AvahiResolverEvent event,
                const char *name,
                const char *,
                const char *,
                const char *host,
                const AvahiAddress *address,
                uint16_t port,
                AvahiStringList *txt,
                AvahiLookupResultFlags,
                void *data)
{
    auto *browse = static_cast<Browse *>(data);
    try {
        const auto target = event == AVAHI_RESOLVER_FOUND && address
                                    ? Target::parse(QStringLiteral("ETHERNET ")
                                                    + addressText(*address, interface, port))
                                    : Result<Target>(Failure{});
        if (target.ok()) {
            PrinterInfo info;
            info.target = target.value();
            info.source = FoundBy::DnsSd;
            info.origin = QString::fromUtf8(name);
            info.model = modelOf(txt);
            info.note = QStringLiteral("announced by %1; not asked: nvlogo-cli find --scan %2 "
                                       "asks it")
                                .arg(QString::fromUtf8(host),
                                     QString::fromUtf8(target.value().name()));
            add(*browse, std::move(info), address->proto == AVAHI_PROTO_INET);
        }
    } catch (...) {
        // Nothing may cross the library's C code; the service is left out.
    }
    browse->resolvers.erase(
            std::remove(browse->resolvers.begin(), browse->resolvers.end(), resolver),
            browse->resolvers.end());
    avahi_service_resolver_free(resolver);
}

void onBrowsed(AvahiServiceBrowser *,
               AvahiIfIndex interface,
               AvahiProtocol protocol,
               AvahiBrowserEvent event,
               const char *name,
               const char *type,
               const char *domain,
               AvahiLookupResultFlags,
               void *data)
{
    auto *browse = static_cast<Browse *>(data);
    try {
        if (event == AVAHI_BROWSER_NEW) {
            if (AvahiServiceResolver *resolver = avahi_service_resolver_new(browse->client,
                                                                            interface,
                                                                            protocol,
                                                                            name,
                                                                            type,
                                                                            domain,
                                                                            protocol,
                                                                            AvahiLookupFlags(0),
                                                                            onResolved,
                                                                            browse))
                browse->resolvers.push_back(resolver);
        } else if (event == AVAHI_BROWSER_ALL_FOR_NOW) {
            browse->allForNow = true;
        } else if (event == AVAHI_BROWSER_FAILURE) {
            browse->failure = QString::fromUtf8(avahi_strerror(avahi_client_errno(browse->client)));
        }
    } catch (...) {
        browse->failure = QStringLiteral("out of memory");
    }
}

void onClientState(AvahiClient *client, AvahiClientState state, void *data)
{
    auto *browse = static_cast<Browse *>(data);
    if (state == AVAHI_CLIENT_FAILURE) {
        try {
            browse->failure = QString::fromUtf8(avahi_strerror(avahi_client_errno(client)));
        } catch (...) {
        }
    }
}

Failure clientFailure(int error)
{
    if (error == AVAHI_ERR_NO_DAEMON)
        return Failure{FailureKind::NotFound, QStringLiteral("the avahi daemon is not running")};
    if (error == AVAHI_ERR_DBUS_ERROR)
        return Failure{FailureKind::NotFound,
                       QStringLiteral("the avahi daemon cannot be asked: the system's D-Bus does "
                                      "not answer")};
    return Failure{FailureKind::Io,
                   QStringLiteral("the avahi daemon cannot be asked: %1")
                           .arg(QString::fromUtf8(avahi_strerror(error)))};
}

// Runs the browse until every service known now is resolved, or until the deadline.
void browseUntil(AvahiSimplePoll *poll, Browse &browse, Clock::time_point deadline)
{
    while (browse.failure.isEmpty() && !(browse.allForNow && browse.resolvers.empty())) {
        const auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0
            || avahi_simple_poll_iterate(poll, int(std::min<qint64>(left.count(), 100))) != 0)
            return;
    }
}

} // namespace

// The client library's calls to the daemon wait as long as D-Bus lets them (25 s at most);
// the browse itself ends at wait.
Result<QList<PrinterInfo>> announcedPrinters(std::chrono::milliseconds wait)
{
    const Clock::time_point deadline = Clock::now() + wait;
    AvahiSimplePoll *poll = avahi_simple_poll_new();
    if (!poll)
        return Failure{FailureKind::Io, QStringLiteral("the avahi client cannot start")};
    Browse browse;
    int error = 0;
    browse.client = avahi_client_new(
            avahi_simple_poll_get(poll), AvahiClientFlags(0), onClientState, &browse, &error);
    if (!browse.client) {
        avahi_simple_poll_free(poll);
        return clientFailure(error);
    }
    AvahiServiceBrowser *browser = avahi_service_browser_new(browse.client,
                                                             AVAHI_IF_UNSPEC,
                                                             AVAHI_PROTO_UNSPEC,
                                                             RawPrintingService,
                                                             nullptr,
                                                             AvahiLookupFlags(0),
                                                             onBrowsed,
                                                             &browse);
    if (browser)
        browseUntil(poll, browse, deadline);
    else
        browse.failure = QString::fromUtf8(avahi_strerror(avahi_client_errno(browse.client)));
    for (AvahiServiceResolver *resolver : browse.resolvers)
        avahi_service_resolver_free(resolver);
    if (browser)
        avahi_service_browser_free(browser);
    avahi_client_free(browse.client);
    avahi_simple_poll_free(poll);
    if (!browse.failure.isEmpty())
        return Failure{FailureKind::Io,
                       QStringLiteral("the avahi daemon failed to browse: %1").arg(browse.failure)};
    return browse.found;
}

} // namespace Printer
