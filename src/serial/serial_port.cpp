// serial_port.cpp - the process-wide serial port: its open flag, its handle and the error texts.
// The open flag is taken in one atomic step, so two threads opening at once cannot both pass it.
#include "serial/serial_port.h"

#include <atomic>
#include <cstdio>

#include "serial/serial_port_backend.h"

namespace kestcam {

namespace {

// kBusy: an open or close is under way; every other open or close is refused meanwhile.
enum PortState : int { kClosed = 0, kOpen = 1, kBusy = 2 };

std::atomic<int> g_state{kClosed};
std::atomic<serial::NativeHandle> g_handle{serial::kNoHandle};

void Report(const char *text) {
    std::fputs(text, stderr);
}

} // namespace

int SerialPortOpen(const char *name, int baudRate, int readTimeoutMs) {
    int expected = kClosed;
    if (!g_state.compare_exchange_strong(expected, kBusy)) return 0;
    serial::NativeHandle handle = serial::kNoHandle;
    if (name == nullptr || !serial::OpenDevice(name, baudRate, readTimeoutMs, handle)) {
        Report("ERROR: Com-Port initialization failed\n");
        g_handle = serial::kNoHandle;
        g_state = kClosed;
        return 0;
    }
    g_handle = handle;
    g_state = kOpen;
    return 1;
}

int SerialPortClose() {
    int expected = kOpen;
    if (!g_state.compare_exchange_strong(expected, kBusy)) return 0;
    if (!serial::CloseDevice(g_handle)) {
        g_state = kOpen;
        return 0;
    }
    g_handle = serial::kNoHandle;
    g_state = kClosed;
    return 1;
}

int SerialPortWrite(const void *buffer, int count) {
    size_t written = 0;
    const size_t wanted = count > 0 ? static_cast<size_t>(count) : 0;
    if (!serial::WriteDevice(g_handle, static_cast<const unsigned char *>(buffer), wanted, written)) {
        Report("ERROR: Serial transmission failed\n");
        return 0;
    }
    if (written != wanted || count < 0) {
        Report("ERROR: Unexpected bytes written to transmission\n");
        return 0;
    }
    return 1;
}

int SerialPortRead(void *buffer, unsigned count) {
    size_t got = 0;
    if (!serial::ReadDevice(g_handle, static_cast<unsigned char *>(buffer), count, got)) {
        Report("ERROR: Receiving failed\n");
        return 0;
    }
    if (got != count) {
        Report("ERROR: Unexpected bytes read in receive frame\n");
        return 0;
    }
    return 1;
}

} // namespace kestcam
