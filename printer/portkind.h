#pragma once

#include <QString>

namespace Printer {

// The four kinds of connection.
enum class PortKind { Unknown, Ethernet, Serial, Parallel, Driver };

// The window's rule: the first three characters of the port text, compared exactly ("ETH",
// "COM", "LPT", "DRI", in that order); anything else is Unknown.
PortKind portKindOf(const QString &portText);

} // namespace Printer
