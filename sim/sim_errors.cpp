// sim_errors.cpp - per-thread error state of the simulated library.
#include "sim/sim_errors.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>


namespace kestcam::sim {
namespace {

// Trivially destructible on purpose: thread_local objects with destructors need per-thread
// clean-up registration, which is fragile inside a DLL that threads may outlive. The text is written
// only with an error; the flag every call clears is in the header.
thread_local char t_errorText[kMaxErrorText] = {};

constexpr MilInt kPendingCode = 1;          // any non-zero value means "an error is pending"
constexpr MilInt kMessageFlag = 0x20000000; // part of mil::kErrorMessage: a text is wanted

} // namespace

void SetError(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(t_errorText, sizeof t_errorText, format, args);
    va_end(args);
    detail::t_errorPending = true;
}

MilInt GetError(MilInt type, void *text) {
    if (text != nullptr && (type & kMessageFlag) != 0) {
        char *out = static_cast<char *>(text);
        const char *message = detail::t_errorPending ? t_errorText : "";
        const size_t length = std::min(std::strlen(message), static_cast<size_t>(mil::kErrorTextSize - 1));
        std::memcpy(out, message, length);
        out[length] = '\0';
    }
    return detail::t_errorPending ? kPendingCode : 0;
}

} // namespace kestcam::sim
