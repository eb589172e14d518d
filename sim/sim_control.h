// sim_control.h - what tests may see and do behind the simulated imaging library's back.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>

#include "mil/mil_api.h"

namespace kestcam::sim {

// Frees every object, forgets the application and zeroes every counter. Grabs still running
// end with an error. The calling thread's pending error is cleared; other threads keep theirs.
void ResetSimulator();

int HeldBufferCount();
int HeldDigitizerCount();
// MdigLut(digitizer, M_DEFAULT) calls on any digitizer since the last reset.
int LutResetCount();

struct DigitizerState {
    int64_t framesGrabbed = 0; // the ramp's next frame number
    int lutResets = 0;
    int64_t grabTimeoutMs = -1;         // negative: no time-out
    std::map<int64_t, double> controls; // last value of each accepted MdigControl type
    bool grabbing = false;
};
// The state of an allocated digitizer; nothing for an unknown or freed id.
std::optional<DigitizerState> InspectDigitizer(MilId digitizer);

// Waits until a grab runs on the digitizer; false when none started within `limit` or the
// digitizer is unknown or freed.
bool WaitUntilGrabbing(MilId digitizer, std::chrono::milliseconds limit);

} // namespace kestcam::sim
