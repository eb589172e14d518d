// local_time_win32.cpp - localtime_s.
#include "os/local_time.h"

namespace kestcam::os {

std::tm LocalTimeNow() {
    std::time_t t = std::time(nullptr);
    std::tm out{};
    localtime_s(&out, &t);
    return out;
}

} // namespace kestcam::os
