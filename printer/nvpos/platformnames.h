#pragma once

// The names the platform gives ports and addresses. One file per platform
// (platformnames_<platform>.cpp), chosen by the build; the program's targets use them too, to
// tell whether two names reach the same printer.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

struct addrinfo;

namespace Printer::NvPos::Native {

// The device of COMn and LPTn, n counting from 1.
std::string serialDevicePath(int number);
std::string parallelDevicePath(int number);

// A numeric IPv4 or IPv6 address in its one standard spelling (127.0.0.1, ::1); nothing for
// a text that is no numeric address, such as a host name.
std::optional<std::string> canonicalAddress(const std::string &host);

struct AddrInfoDeleter
{
    void operator()(addrinfo *list) const;
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// What a bounded host-name lookup came to.
struct HostLookup
{
    enum class Outcome { Found, NotFound, Failed, TimedOut };
    Outcome outcome = Outcome::Failed;
    AddrInfoList found; // the addresses, when Found
    std::string reason; // the resolver's or the system's words, when NotFound or Failed
};

// Looks host up on a helper thread, so that a resolver that does not answer cannot hold the
// caller past deadline; a late answer is freed by the helper.
HostLookup lookUpHost(const std::string &host,
                      const std::string &service,
                      const addrinfo &hints,
                      std::chrono::steady_clock::time_point deadline);

} // namespace Printer::NvPos::Native
