#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace VirtualPrinter::NvlogoPrinter {

// Publishes the printer's raw TCP port over DNS-SD as _pdl-datastream._tcp, as network
// printers announce themselves, while the object lives. Built with Avahi where the build
// allows (dnssd_avahi.cpp), without it elsewhere (dnssd_none.cpp).
class DnsSdAnnouncer : public QObject
{
    Q_OBJECT

public:
    explicit DnsSdAnnouncer(QObject *parent = nullptr);
    ~DnsSdAnnouncer() override;

    // Starts the announcement; false, with one line that says why, when it cannot be made (no
    // daemon runs). What happens later (published, a name taken) comes as message().
    bool announce(const QString &name, quint16 port, QString *error);

    static constexpr const char *ServiceType = "_pdl-datastream._tcp";

signals:
    void message(const QString &line);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace VirtualPrinter::NvlogoPrinter
