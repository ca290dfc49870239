#pragma once

#include "result.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Printer {

// The names of the printer queues installed on this system, in the order the print
// system lists them; empty when there are none or the print system does not answer.
QStringList installedPrinters();

// One installed queue as the print server describes it.
struct InstalledQueue
{
    QString name;
    QString deviceUri;    // where its jobs go: socket://host:9100, usb://Maker/Model?serial=…
    QString makeAndModel; // the driver's words for the printer ("Local Raw Printer")
    bool accepting = true;
    bool stopped = false;
    QString stateMessage; // why it is stopped, as the server says
};

// The installed queues; fails when the print server does not answer.
Result<QList<InstalledQueue>> installedQueues();

} // namespace Printer
