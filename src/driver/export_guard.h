// export_guard.h - every export with work of its own turns any exception into its failure value.
#pragma once

#include <utility>

#include "driver/logger.h"

namespace kestcam {

// Runs body; on any exception runs onError (which logs the export's line) and returns failure.
// Nothing escapes to the host, not even from onError. The export's messages reach the host's
// callback as they are written, or, those written under a lock of the driver, once it is released.
template <typename R, typename Body, typename OnError>
R Guarded(R failure, Body &&body, OnError &&onError) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        try {
            std::forward<OnError>(onError)();
        } catch (...) {
        }
        return failure;
    }
}

} // namespace kestcam
