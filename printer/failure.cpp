#include "failure.h"

#include <QCoreApplication>

namespace Printer {

QString failureHint(FailureKind kind, PortKind port)
{
    switch (kind) {
    case FailureKind::Permission:
        if (port == PortKind::Serial) {
            return QCoreApplication::translate("Printer",
                                               "Join the dialout group: sudo usermod -aG dialout "
                                               "\"$USER\", then log in again.");
        }
        if (port == PortKind::Parallel) {
            return QCoreApplication::translate("Printer",
                                               "Join the lp group: sudo usermod -aG lp \"$USER\", "
                                               "then log in again.");
        }
        return {};
    case FailureKind::Busy:
        return QCoreApplication::translate("Printer", "Another program is using the port.");
    case FailureKind::None:
    case FailureKind::NotFound:
    case FailureKind::Timeout:
    case FailureKind::Refused:
    case FailureKind::Cancelled:
    case FailureKind::Unsupported:
    case FailureKind::Io:
    case FailureKind::Invalid:
        break;
    }
    return {};
}

} // namespace Printer
