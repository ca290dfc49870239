#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Printer::NvPos {

constexpr std::uint16_t DefaultRawPort = 9100;

struct HostPort
{
    std::string host;
    std::uint16_t port = DefaultRawPort;
};

// "host", "host:port", "[v6]" or "[v6]:port"; a text with more than one colon and no
// brackets is an IPv6 address without a port. Empty host or a port outside 1..65535: nothing.
std::optional<HostPort> parseHostPort(const std::string &text);

// "COMn" -> the platform's n-th serial device, "COM:/path" -> /path.
std::optional<std::string> serialDeviceOf(const std::string &name);

// "LPTn" -> the platform's n-th printer port, "LPT:/path" -> /path.
std::optional<std::string> parallelDeviceOf(const std::string &name);

// The name without spaces and tabs at either end: what a port name typed or pasted into a
// field may carry around it.
std::string trimSpacesAndTabs(const std::string &text);

} // namespace Printer::NvPos
