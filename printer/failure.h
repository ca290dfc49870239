#pragma once

#include "portkind.h"

#include <QString>

namespace Printer {

// What sort of failure a call of the printer library ended in; the reason says the rest.
enum class FailureKind {
    None,
    NotFound,
    Permission,
    Busy,
    Timeout,
    Refused,
    Cancelled,
    Unsupported,
    Io,
    Invalid // what was given (a printer's name, a picture, an option) cannot be used
};

// A failed call of the printer library: its kind and its reason, a plain English sentence.
struct Failure
{
    FailureKind kind = FailureKind::Io;
    QString reason;
};

// What the user can do about a failure of that kind on that kind of port, one sentence; empty
// when there is nothing to suggest.
QString failureHint(FailureKind kind, PortKind port);

} // namespace Printer
