// sim_errors.h - the simulated library's current error, one per calling thread.
#pragma once

#include "mil/mil_api.h"
#include "os/tls_model.h"

namespace kestcam::sim {

namespace detail {
// Trivially destructible, like all of the error state; cleared by every call, so reached inline.
KC_TLS_INITIAL_EXEC inline thread_local bool t_errorPending = false;
} // namespace detail

// Every library call except MappGetError starts by clearing the caller's error and may then
// set one; MappGetError reads it without changing it.
inline void ClearError() {
    detail::t_errorPending = false;
}
// Sets the calling thread's error to the formatted text (cut at kMaxErrorText - 1 characters).
void SetError(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

constexpr int kMaxErrorText = 512;

// MappGetError's answer for the calling thread: 0 when no error is pending, else a non-zero
// code. With text non-null and the message flag in type, the message (or "" when none is
// pending) is copied into text, cut to fit a kErrorTextSize buffer and always terminated.
MilInt GetError(MilInt type, void *text);

} // namespace kestcam::sim
