#pragma once

// The names the platform gives ports and addresses. One file per platform
// (platformnames_<platform>.cpp), chosen by the build; the program's targets use them too, to
// tell whether two names reach the same printer.

#include <optional>
#include <string>

namespace Printer::NvPos::Native {

// The device of COMn and LPTn, n counting from 1.
std::string serialDevicePath(int number);
std::string parallelDevicePath(int number);

// A numeric IPv4 or IPv6 address in its one standard spelling (127.0.0.1, ::1); nothing for
// a text that is no numeric address, such as a host name.
std::optional<std::string> canonicalAddress(const std::string &host);

} // namespace Printer::NvPos::Native
