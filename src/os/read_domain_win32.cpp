// read_domain_win32.cpp - readers fence themselves on Windows. FlushProcessWriteBuffers would spare
// them the fence, but Wine, under which the Windows tests run, does not implement it.
#include "os/read_domain.h"

namespace kestcam::os {

bool RegisterProcessBarrier() {
    return false;
}

void ProcessBarrier() {}

} // namespace kestcam::os
