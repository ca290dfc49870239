#include "installedprinters.h"

#include <cups/cups.h>

namespace Printer {

namespace {
// A print server that does not answer must not keep the window from opening.
constexpr int ConnectTimeoutMs = 5000;

QString optionOf(const cups_dest_t &dest, const char *name)
{
    return QString::fromUtf8(cupsGetOption(name, dest.num_options, dest.options));
}
} // namespace

Result<QList<InstalledQueue>> installedQueues()
{
    http_t *http = httpConnect2(cupsServer(),
                                ippPort(),
                                nullptr,
                                AF_UNSPEC,
                                cupsEncryption(),
                                1,
                                ConnectTimeoutMs,
                                nullptr);
    if (!http) {
        return Failure{FailureKind::NotFound,
                       QStringLiteral("the print server %1 does not answer")
                               .arg(QString::fromUtf8(cupsServer()))};
    }
    httpSetTimeout(http, ConnectTimeoutMs / 1000.0, nullptr, nullptr);

    cups_dest_t *dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    QList<InstalledQueue> queues;
    for (int i = 0; i < count; ++i) {
        // An instance (printer/instance) is a set of options, not another printer.
        if (dests[i].instance)
            continue;
        InstalledQueue queue;
        queue.name = QString::fromUtf8(dests[i].name);
        queue.deviceUri = optionOf(dests[i], "device-uri");
        queue.makeAndModel = optionOf(dests[i], "printer-make-and-model");
        queue.accepting = optionOf(dests[i], "printer-is-accepting-jobs") != QLatin1String("false");
        queue.stopped = optionOf(dests[i], "printer-state").toInt() == IPP_PSTATE_STOPPED;
        queue.stateMessage = optionOf(dests[i], "printer-state-message");
        queues.append(queue);
    }
    cupsFreeDests(count, dests);
    httpClose(http);
    return queues;
}

QStringList installedPrinters()
{
    const Result<QList<InstalledQueue>> queues = installedQueues();
    QStringList names;
    if (queues.ok()) {
        for (const InstalledQueue &queue : queues.value())
            names.append(queue.name);
    }
    return names;
}

} // namespace Printer
