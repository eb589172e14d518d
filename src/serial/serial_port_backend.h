// serial_port_backend.h - what each platform provides to the serial port: opening and configuring
// a device, closing it, and one synchronous write or read. serial_port.cpp keeps the process-wide
// state and writes the error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestcam::serial {

// A file descriptor or a Win32 HANDLE.
using NativeHandle = std::intptr_t;
constexpr NativeHandle kNoHandle = -1;

// Every step of the open: the device, its line settings, its time-outs and the purge of both
// directions. On failure whatever was opened is closed again and false returned.
bool OpenDevice(const char *name, int baudRate, int readTimeoutMs, NativeHandle &handle);
bool CloseDevice(NativeHandle handle);
// One synchronous transfer. False when the call itself failed; `moved` says how many bytes went.
// A read returns fewer bytes than asked when the read time-out of the open elapsed first.
bool WriteDevice(NativeHandle handle, const unsigned char *data, size_t count, size_t &moved);
bool ReadDevice(NativeHandle handle, unsigned char *data, size_t count, size_t &moved);

// The device path a port name stands for: "COMn" is /dev/ttyS(n-1) on POSIX systems, anything
// else is used as it is. Windows uses every name unchanged.
std::string DevicePathForName(const std::string &name);

} // namespace kestcam::serial
