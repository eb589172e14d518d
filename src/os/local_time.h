// local_time.h - the current local time, thread-safe on every platform.
#pragma once

#include <ctime>

namespace kestcam::os {

std::tm LocalTimeNow();

} // namespace kestcam::os
