// local_time_posix.cpp - localtime_r.
#include "os/local_time.h"

namespace kestcam::os {

std::tm LocalTimeNow() {
    std::time_t t = std::time(nullptr);
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

} // namespace kestcam::os
