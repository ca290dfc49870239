// Fuzz target for the printer library's port texts: host:port for the network, COMn and LPTn
// names and device paths, and the trimming of blanks around them.
#include <printer/nvpos/portnames.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace Printer::NvPos;

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

void checkTrim(const std::string &text)
{
    const std::string trimmed = trimSpacesAndTabs(text);
    check(trimmed.empty() || (!isBlank(trimmed.front()) && !isBlank(trimmed.back())),
          "blank left at an end");
    check(text.find(trimmed) != std::string::npos, "trimmed text is not part of the text");
    check(trimSpacesAndTabs(trimmed) == trimmed, "trimming twice changes the text");
    if (trimmed.empty()) {
        for (const char c : text)
            check(isBlank(c), "a text with more than blanks trimmed to nothing");
    }
}

void checkHostPort(const std::string &text)
{
    const auto parsed = parseHostPort(text);
    if (!parsed)
        return;
    check(!parsed->host.empty(), "empty host");
    check(parsed->port >= 1, "port 0");
    if (text.find(':') == std::string::npos && text.front() != '[') {
        check(parsed->host == text && parsed->port == DefaultRawPort, "a bare host changed");
        return;
    }
    // Written back with its port, the address reads the same. A host that holds both a colon
    // and a closing bracket cannot be written back at all.
    const bool bracketed = text.front() == '[' || parsed->host.find(':') != std::string::npos;
    if (bracketed && parsed->host.find(']') != std::string::npos)
        return;
    const std::string written = (bracketed ? "[" + parsed->host + "]" : parsed->host) + ":"
                                + std::to_string(parsed->port);
    const auto again = parseHostPort(written);
    check(again && again->host == parsed->host && again->port == parsed->port,
          "host and port do not read back");
}

void checkDevice(const std::string &text, const char *prefix, DeviceKind kind)
{
    const auto device = deviceOf(text, kind);
    const std::string withPath = std::string(prefix) + ":";
    if (text.compare(0, withPath.size(), withPath) == 0 && text.size() > withPath.size()) {
        check(device && *device == text.substr(withPath.size()), "a device path changed");
        return;
    }
    if (text.compare(0, 3, prefix) != 0) {
        check(!device, "a name without the prefix was taken");
        return;
    }
    if (device) {
        check(!device->empty(), "empty device");
        const std::string again = withPath + *device;
        const auto reread = deviceOf(again, kind);
        check(reread && *reread == *device, "a device does not read back");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(bytes), size);
    checkTrim(text);
    checkHostPort(text);
    checkHostPort(trimSpacesAndTabs(text));
    checkDevice(text, "COM", DeviceKind::Serial);
    checkDevice(text, "LPT", DeviceKind::Parallel);
    // The names as a user types them after the port list's prefix.
    checkDevice("COM" + text, "COM", DeviceKind::Serial);
    checkDevice("LPT" + text, "LPT", DeviceKind::Parallel);
    return 0;
}
