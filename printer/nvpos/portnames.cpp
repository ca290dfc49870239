#include "portnames.h"

#include "platformnames.h"

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

std::optional<std::string> deviceOf(const std::string &name, DeviceKind kind)
{
    const bool serial = kind == DeviceKind::Serial;
    const std::string prefix = serial ? "COM" : "LPT";
    if (name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    const std::string rest = name.substr(prefix.size());
    if (!rest.empty() && rest.front() == ':') {
        if (rest.size() == 1)
            return std::nullopt;
        return rest.substr(1);
    }
    // Device numbers stay small; a bound keeps the arithmetic far from overflow.
    const int number = static_cast<int>(numberIn(rest, 4096));
    if (number < 1)
        return std::nullopt;
    return serial ? Native::serialDevicePath(number) : Native::parallelDevicePath(number);
}

} // namespace Printer::NvPos
