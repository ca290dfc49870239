#include "portnames.h"

#include "nativeio.h"

namespace Printer::NvPos {

namespace {

bool isDigits(const std::string &text)
{
    if (text.empty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// The whole number that text spells, or 0 when it spells none or one above limit.
long numberIn(const std::string &text, long limit)
{
    if (!isDigits(text) || text.size() > 9)
        return 0;
    const long value = std::stol(text);
    return value <= limit ? value : 0;
}

// "<prefix>n" -> n (1 or more), "<prefix>:path" -> path.
struct DeviceName
{
    long number = 0;
    std::string path;
};

std::optional<DeviceName> deviceNameOf(const std::string &name, const std::string &prefix)
{
    if (name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    const std::string rest = name.substr(prefix.size());
    if (!rest.empty() && rest.front() == ':') {
        if (rest.size() == 1)
            return std::nullopt;
        return DeviceName{0, rest.substr(1)};
    }
    // Device numbers stay small; a bound keeps the arithmetic far from overflow.
    const long number = numberIn(rest, 4096);
    if (number < 1)
        return std::nullopt;
    return DeviceName{number, {}};
}

} // namespace

std::string trimSpacesAndTabs(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::optional<HostPort> parseHostPort(const std::string &text)
{
    HostPort result;
    std::string portText;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        result.host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return std::nullopt;
            portText = rest.substr(1);
            hasPort = true;
        }
    } else {
        const auto colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
            result.host = text.substr(0, colon);
            portText = text.substr(colon + 1);
            hasPort = true;
        } else {
            result.host = text;
        }
    }
    if (result.host.empty())
        return std::nullopt;
    if (hasPort) {
        const long port = numberIn(portText, 65535);
        if (port < 1)
            return std::nullopt;
        result.port = static_cast<std::uint16_t>(port);
    }
    return result;
}

std::optional<std::string> serialDeviceOf(const std::string &name)
{
    const auto device = deviceNameOf(name, "COM");
    if (!device)
        return std::nullopt;
    if (device->number > 0)
        return Native::serialDevicePath(static_cast<int>(device->number));
    return device->path;
}

std::optional<std::string> parallelDeviceOf(const std::string &name)
{
    const auto device = deviceNameOf(name, "LPT");
    if (!device)
        return std::nullopt;
    if (device->number > 0)
        return Native::parallelDevicePath(static_cast<int>(device->number));
    return device->path;
}

} // namespace Printer::NvPos
