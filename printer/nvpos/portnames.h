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

// The ports named by a prefix and a number or a path: COM for serial, LPT for parallel.
enum class DeviceKind { Serial, Parallel };

// "COMn" or "LPTn" -> the platform's n-th port of that kind (n from 1), "COM:/path" or
// "LPT:/path" -> /path; nothing for any other name.
std::optional<std::string> deviceOf(const std::string &name, DeviceKind kind);

// The name without spaces and tabs at either end: what a port name typed or pasted into a
// field may carry around it.
std::string trimSpacesAndTabs(const std::string &text);

} // namespace Printer::NvPos
