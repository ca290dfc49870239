#pragma once

#include <QString>

namespace Controls {

// The address that receipt printers commonly leave the factory with; both the main
// window's address box and the IP address box start with it.
inline QString defaultIpBoxAddress()
{
    return QStringLiteral("192.168.123.100");
}

} // namespace Controls
