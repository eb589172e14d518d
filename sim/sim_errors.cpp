// sim_errors.cpp - per-thread error state of the simulated library.
#include "sim/sim_errors.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kestcam::sim {
namespace {

// Trivially destructible on purpose: thread_local objects with destructors need per-thread
// clean-up registration, which is fragile inside a DLL that threads may outlive.
struct ThreadError {
    bool pending;
    char text[kMaxErrorText];
};
thread_local ThreadError t_error = {false, {}};

constexpr MilInt kPendingCode = 1;          // any non-zero value means "an error is pending"
constexpr MilInt kMessageFlag = 0x20000000; // part of mil::kErrorMessage: a text is wanted

} // namespace

void ClearError() {
    t_error.pending = false;
    t_error.text[0] = '\0';
}

void SetError(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(t_error.text, sizeof t_error.text, format, args);
    va_end(args);
    t_error.pending = true;
}

MilInt GetError(MilInt type, void *text) {
    if (text != nullptr && (type & kMessageFlag) != 0) {
        char *out = static_cast<char *>(text);
        const char *message = t_error.pending ? t_error.text : "";
        const size_t length = std::min(std::strlen(message), static_cast<size_t>(mil::kErrorTextSize - 1));
        std::memcpy(out, message, length);
        out[length] = '\0';
    }
    return t_error.pending ? kPendingCode : 0;
}

} // namespace kestcam::sim
