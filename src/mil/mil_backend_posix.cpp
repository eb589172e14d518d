// mil_backend_posix.cpp - on POSIX systems the imaging library is always the built-in simulator.
#include <cstring>

#include "driver/logger.h"
#include "mil/mil_backend.h"

namespace kestcam {

const MilFunctions &PlatformMilFunctions(const char *selection) {
    if (selection == nullptr || std::strcmp(selection, "sim") == 0) return BuiltInSimulatorFunctions();
    KC_LOG(1, "MilBackend: ERROR: KESTCAM_MIL=%s: loading an imaging library by path is only possible on Windows\n",
           selection);
    return UnavailableMilFunctions();
}

} // namespace kestcam
