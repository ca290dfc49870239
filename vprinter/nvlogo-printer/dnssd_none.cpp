#include "dnssd.h"

namespace VirtualPrinter::NvlogoPrinter {

struct DnsSdAnnouncer::Private
{};

DnsSdAnnouncer::DnsSdAnnouncer(QObject *parent)
    : QObject(parent)
{}

DnsSdAnnouncer::~DnsSdAnnouncer() = default;

bool DnsSdAnnouncer::announce(const QString &, quint16, QString *error)
{
    *error = QStringLiteral("this nvlogo-printer was built without DNS-SD (NVLOGO_AVAHI=OFF); "
                            "not announced");
    return false;
}

} // namespace VirtualPrinter::NvlogoPrinter
