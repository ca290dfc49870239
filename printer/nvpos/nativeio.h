#pragma once

// The operating system's side of the transports: sockets, device files and serial lines (the
// ports' names are platformnames.h). Each opener hands the run loop (runloop.h) a NativeChannel
// of its platform. One implementation per platform (nativeio_unix.cpp, ...), chosen by the
// build.

#include "connection.h"

#include <cstdint>
#include <string>

namespace Printer::NvPos::Native {

// A raw TCP connection; it fails when the host cannot be resolved or reached within
// connectTimeout(). A write succeeds once the peer acknowledged every byte.
Opened connectTcp(const std::string &host, std::uint16_t port);

// A device, FIFO or regular file opened for writing without waiting for a reader; a
// character device whose driver allows it is read as well. Writes fail after
// noProgressTimeout() without progress.
Opened openDevice(const std::string &path);

// A serial port, read and written, set up raw with settings (already checked), held by this
// process alone.
Opened openSerialPort(const std::string &path, const SerialSettings &settings);

} // namespace Printer::NvPos::Native
