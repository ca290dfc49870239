#include "dnssd.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <QMetaObject>

namespace VirtualPrinter::NvlogoPrinter {

// Avahi calls back on its own thread (the threaded poll), with its lock held; what the
// callbacks learn reaches the Qt side as queued messages. No exception leaves a callback: they
// only call C functions and build strings.
struct DnsSdAnnouncer::Private
{
    DnsSdAnnouncer *owner = nullptr;
    AvahiThreadedPoll *poll = nullptr;
    AvahiClient *client = nullptr;
    AvahiEntryGroup *group = nullptr;
    QByteArray name;
    quint16 port = 0;

    static void onGroup(AvahiEntryGroup *group, AvahiEntryGroupState state, void *data)
    {
        static_cast<Private *>(data)->groupChanged(group, state);
    }
    static void onClient(AvahiClient *client, AvahiClientState state, void *data)
    {
        static_cast<Private *>(data)->clientChanged(client, state);
    }
    void tell(const QString &line)
    {
        QMetaObject::invokeMethod(
                owner, [owner = owner, line] { emit owner->message(line); }, Qt::QueuedConnection);
    }
    void publish(AvahiClient *client);
    void renameAfterCollision();
    void groupChanged(AvahiEntryGroup *changed, AvahiEntryGroupState state);
    void clientChanged(AvahiClient *changed, AvahiClientState state);
};

namespace {

QString avahiError(int error)
{
    return QString::fromUtf8(avahi_strerror(error));
}

} // namespace

void DnsSdAnnouncer::Private::publish(AvahiClient *current)
{
    if (!group)
        group = avahi_entry_group_new(current, onGroup, this);
    if (!group) {
        tell(QStringLiteral("--announce: %1; not announced")
                     .arg(avahiError(avahi_client_errno(current))));
        return;
    }
    int result = avahi_entry_group_add_service(group,
                                               AVAHI_IF_UNSPEC,
                                               AVAHI_PROTO_UNSPEC,
                                               AvahiPublishFlags(0),
                                               name.constData(),
                                               DnsSdAnnouncer::ServiceType,
                                               nullptr,
                                               nullptr,
                                               port,
                                               nullptr);
    if (result == AVAHI_ERR_COLLISION) {
        renameAfterCollision();
        publish(current);
        return;
    }
    if (result < 0 || (result = avahi_entry_group_commit(group)) < 0)
        tell(QStringLiteral("--announce: %1; not announced").arg(avahiError(result)));
}

void DnsSdAnnouncer::Private::renameAfterCollision()
{
    char *alternative = avahi_alternative_service_name(name.constData());
    tell(QStringLiteral("--announce: the name \"%1\" is taken; trying \"%2\"")
                 .arg(QString::fromUtf8(name), QString::fromUtf8(alternative)));
    name = alternative;
    avahi_free(alternative);
    if (group)
        avahi_entry_group_reset(group);
}

void DnsSdAnnouncer::Private::groupChanged(AvahiEntryGroup *changed, AvahiEntryGroupState state)
{
    group = changed;
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
        tell(QStringLiteral("announced \"%1\" as %2 on port %3")
                     .arg(QString::fromUtf8(name), QLatin1String(DnsSdAnnouncer::ServiceType))
                     .arg(port));
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        renameAfterCollision();
        publish(avahi_entry_group_get_client(changed));
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
        tell(QStringLiteral("--announce: %1; not announced")
                     .arg(avahiError(avahi_client_errno(avahi_entry_group_get_client(changed)))));
    }
}

void DnsSdAnnouncer::Private::clientChanged(AvahiClient *changed, AvahiClientState state)
{
    if (state == AVAHI_CLIENT_S_RUNNING) {
        publish(changed);
    } else if (state == AVAHI_CLIENT_S_COLLISION || state == AVAHI_CLIENT_S_REGISTERING) {
        // The host name changes: the service is published again once the daemon runs.
        if (group)
            avahi_entry_group_reset(group);
    } else if (state == AVAHI_CLIENT_FAILURE) {
        tell(QStringLiteral("--announce: the avahi daemon went away (%1); no longer announced")
                     .arg(avahiError(avahi_client_errno(changed))));
    }
}

DnsSdAnnouncer::DnsSdAnnouncer(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->owner = this;
}

DnsSdAnnouncer::~DnsSdAnnouncer()
{
    if (d->poll)
        avahi_threaded_poll_stop(d->poll);
    // Freeing the client frees its entry groups and withdraws the service.
    if (d->client)
        avahi_client_free(d->client);
    if (d->poll)
        avahi_threaded_poll_free(d->poll);
}

bool DnsSdAnnouncer::announce(const QString &name, quint16 port, QString *error)
{
    d->name = name.toUtf8();
    d->port = port;
    d->poll = avahi_threaded_poll_new();
    if (!d->poll) {
        *error = QStringLiteral("--announce: cannot start Avahi's event loop; not announced");
        return false;
    }
    int failure = 0;
    // Without AVAHI_CLIENT_NO_FAIL the call fails at once when no daemon runs.
    d->client = avahi_client_new(avahi_threaded_poll_get(d->poll),
                                 AvahiClientFlags(0),
                                 Private::onClient,
                                 d.get(),
                                 &failure);
    if (!d->client) {
        *error = QStringLiteral("--announce: no avahi daemon answers (%1); not announced, the "
                                "printer works without it")
                         .arg(avahiError(failure));
        return false;
    }
    if (avahi_threaded_poll_start(d->poll) < 0) {
        *error = QStringLiteral("--announce: cannot start Avahi's event loop; not announced");
        return false;
    }
    return true;
}

} // namespace VirtualPrinter::NvlogoPrinter
