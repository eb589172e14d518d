// waitable_win32.cpp - WaitForMultipleObjects over event handles; events are manual-reset events.
#include "share/waitable.h"

#include <windows.h>

#include "share/win32_exception.h"

namespace kestcam::share {

namespace {
HANDLE H(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
} // namespace

int WaitForAny(const Waitable *items, int count, int timeoutMs) {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    if (count <= 0 || count > MAXIMUM_WAIT_OBJECTS) throw Win32Exception(ERROR_INVALID_PARAMETER);
    for (int i = 0; i < count; ++i)
        handles[i] = H(items[i].native);
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE,
                                                timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (result == WAIT_TIMEOUT) return kWaitTimedOut;
    if (result < WAIT_OBJECT_0 + static_cast<DWORD>(count)) return static_cast<int>(result - WAIT_OBJECT_0);
    // An abandoned mutex counts as acquired.
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + static_cast<DWORD>(count))
        return static_cast<int>(result - WAIT_ABANDONED_0);
    throw Win32Exception();
}

WaitableEvent::WaitableEvent() {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event != nullptr) handle_ = reinterpret_cast<std::intptr_t>(event);
}

WaitableEvent::~WaitableEvent() {
    if (IsValid()) CloseHandle(H(handle_));
}

bool WaitableEvent::IsValid() const {
    return handle_ != -1;
}

void WaitableEvent::Set() {
    if (IsValid()) SetEvent(H(handle_));
}

void WaitableEvent::Reset() {
    if (IsValid()) ResetEvent(H(handle_));
}

bool WaitableEvent::IsSet() const {
    return IsValid() && WaitForSingleObject(H(handle_), 0) == WAIT_OBJECT_0;
}

Waitable WaitableEvent::AsWaitable() const {
    return Waitable{handle_, 0};
}

} // namespace kestcam::share
