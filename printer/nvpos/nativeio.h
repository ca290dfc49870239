#pragma once

// The operating system's side of the library: sockets, device files and the names of the
// serial and printer ports. One implementation per platform (nativeio_unix.cpp, ...), chosen
// by the build.

#include "connection.h"

#include <cstdint>
#include <string>

namespace Printer::NvPos::Native {

// The device of COMn and LPTn, n counting from 1.
std::string serialDevicePath(int number);
std::string parallelDevicePath(int number);

// A raw TCP connection; it fails when the host cannot be resolved or reached within
// connectTimeout(). A write succeeds once the peer acknowledged every byte.
Opened connectTcp(const std::string &host, std::uint16_t port);

// A device, FIFO or regular file opened for writing without waiting for a reader. Writes fail
// after noProgressTimeout() without progress.
Opened openDevice(const std::string &path);

// How many bytes the driver of the serial port behind handle still holds (0 when it cannot
// tell).
std::int64_t serialOutputQueued(std::intptr_t handle);

} // namespace Printer::NvPos::Native
