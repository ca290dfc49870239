#include "installedprinters.h"

#include <cups/cups.h>

namespace Printer {

namespace {
// A print server that does not answer must not keep the window from opening.
constexpr int ConnectTimeoutMs = 5000;
} // namespace

QStringList installedPrinters()
{
    http_t *http = httpConnect2(cupsServer(),
                                ippPort(),
                                nullptr,
                                AF_UNSPEC,
                                cupsEncryption(),
                                1,
                                ConnectTimeoutMs,
                                nullptr);
    if (!http)
        return {};
    httpSetTimeout(http, ConnectTimeoutMs / 1000.0, nullptr, nullptr);

    cups_dest_t *dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        // An instance (printer/instance) is a set of options, not another printer.
        if (dests[i].instance)
            continue;
        names.append(QString::fromUtf8(dests[i].name));
    }
    cupsFreeDests(count, dests);
    httpClose(http);
    return names;
}

} // namespace Printer
