// mil_backend.h - how a platform fills the imaging-library table.
#pragma once

#include "mil/mil_api.h"

namespace kestcam {

// A table whose every call fails cleanly: MappAlloc gives no application and no error is pending.
const MilFunctions &UnavailableMilFunctions();
// The built-in simulated library.
const MilFunctions &BuiltInSimulatorFunctions();
// The platform's choice for the value of KESTCAM_MIL (null when unset); logs why it fell back to
// the unavailable table.
const MilFunctions &PlatformMilFunctions(const char *selection);
// The feature functions of the library the same selection gives (all null when it has none).
const MilFeatureFunctions &PlatformMilFeatureFunctions(const char *selection);
// No feature access.
const MilFeatureFunctions &NoMilFeatureFunctions();

} // namespace kestcam
