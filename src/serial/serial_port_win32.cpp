// serial_port_win32.cpp - the serial port on a Windows COM device: exclusive CreateFile, the
// device control block inside the port's communication configuration, total read time-out, purge.
#include <windows.h>

#include "serial/serial_port_backend.h"

namespace kestcam::serial {

namespace {

// The size the configuration is fetched and written back with, whatever the provider adds.
constexpr DWORD kCommConfigSize = 52;
static_assert(sizeof(COMMCONFIG) <= kCommConfigSize, "the whole configuration fits");

HANDLE ToHandle(NativeHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The listed fields only; stop bits, XON/XOFF flow control, its limits and every special
// character stay as the port has them.
void ForceLineSettings(DCB &dcb, int baudRate) {
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
}

} // namespace

std::string DevicePathForName(const std::string &name) {
    return name;
}

bool OpenDevice(const char *name, int baudRate, int readTimeoutMs, NativeHandle &handle) {
    handle = kNoHandle;
    const HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;

    union {
        COMMCONFIG config;
        unsigned char bytes[kCommConfigSize];
    } comm{};
    DWORD size = kCommConfigSize;
    bool ok = GetCommConfig(h, &comm.config, &size) != FALSE;
    if (ok) ForceLineSettings(comm.config.dcb, baudRate);
    ok = ok && SetCommConfig(h, &comm.config, kCommConfigSize) != FALSE;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(readTimeoutMs > 0 ? readTimeoutMs : 0);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    // A write held up by XOFF ends as a short one after the read time-out instead of never; a
    // frame takes well under 300 ms at 9600 baud.
    timeouts.WriteTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    ok = ok && SetCommTimeouts(h, &timeouts) != FALSE;
    ok = ok && PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
    if (!ok) {
        CloseHandle(h);
        return false;
    }
    handle = reinterpret_cast<NativeHandle>(h);
    return true;
}

bool CloseDevice(NativeHandle handle) {
    return handle != kNoHandle && CloseHandle(ToHandle(handle)) != FALSE;
}

bool WriteDevice(NativeHandle handle, const unsigned char *data, size_t count, size_t &moved) {
    DWORD written = 0;
    const BOOL ok = WriteFile(ToHandle(handle), data, static_cast<DWORD>(count), &written, nullptr);
    moved = written;
    return ok != FALSE;
}

bool ReadDevice(NativeHandle handle, unsigned char *data, size_t count, size_t &moved) {
    DWORD got = 0;
    const BOOL ok = ReadFile(ToHandle(handle), data, static_cast<DWORD>(count), &got, nullptr);
    moved = got;
    return ok != FALSE;
}

} // namespace kestcam::serial
