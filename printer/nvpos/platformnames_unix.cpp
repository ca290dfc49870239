#include "platformnames.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>

namespace Printer::NvPos::Native {

std::string serialDevicePath(int number)
{
    return "/dev/ttyS" + std::to_string(number - 1);
}

std::string parallelDevicePath(int number)
{
    const std::string port = "/dev/lp" + std::to_string(number - 1);
    struct stat info;
    if (::stat(port.c_str(), &info) == 0)
        return port;
    // A receipt printer on USB appears as a USB printer class device.
    return "/dev/usb/lp" + std::to_string(number - 1);
}

std::optional<std::string> canonicalAddress(const std::string &host)
{
    char text[INET6_ADDRSTRLEN] = {};
    in_addr v4 = {};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1
        && ::inet_ntop(AF_INET, &v4, text, sizeof text))
        return std::string(text);
    in6_addr v6 = {};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1
        && ::inet_ntop(AF_INET6, &v6, text, sizeof text))
        return std::string(text);
    return std::nullopt;
}

} // namespace Printer::NvPos::Native
