// sim_control.cpp - the test-facing views of the simulated imaging library.
#include "sim/sim_control.h"

#include "sim/sim_errors.h"
#include "sim/sim_library.h"

namespace kestcam::sim {

void ResetSimulator() {
    ClearError();
    SimLibrary::Instance().Reset();
}

int HeldBufferCount() {
    return SimLibrary::Instance().HeldBuffers();
}

int HeldDigitizerCount() {
    return SimLibrary::Instance().HeldDigitizers();
}

int LutResetCount() {
    return SimLibrary::Instance().LutResets();
}

std::optional<DigitizerState> InspectDigitizer(MilId digitizer) {
    return SimLibrary::Instance().Inspect(digitizer);
}

bool WaitUntilGrabbing(MilId digitizer, std::chrono::milliseconds limit) {
    return SimLibrary::Instance().WaitUntilGrabbing(digitizer, limit);
}

} // namespace kestcam::sim
