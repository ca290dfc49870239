#pragma once

// The operating system's side of the library: sockets, device files and the names of the
// serial and printer ports. One implementation per platform (nativeio_unix.cpp, ...), chosen
// by the build.

#include "connection.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Printer::NvPos::Native {

// The device of COMn and LPTn, n counting from 1.
std::string serialDevicePath(int number);
std::string parallelDevicePath(int number);

// A raw TCP connection, or nullptr (logged) when the host cannot be resolved or reached
// within connectTimeout().
std::unique_ptr<Connection> connectTcp(const std::string &host, std::uint16_t port);

// A device, FIFO or regular file opened for writing without waiting for a reader, or nullptr
// (logged). Writes fail after noProgressTimeout() without progress.
std::unique_ptr<Connection> openDevice(const std::string &path);

// Waits until the serial port behind handle has sent the bytes its driver still holds. When
// they are not gone by the deadline they are dropped, so that closing cannot hang, and the
// result is false.
bool drainSerialOutput(std::intptr_t handle, Clock::time_point deadline);

} // namespace Printer::NvPos::Native
