// camsim_command_win32.cpp - `kestcam camsim` needs a pseudo-terminal; on Windows it explains where
// the simulated camera runs instead.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"

namespace kestcam::cli {

int RunCamsim(const std::vector<std::string> &) {
    std::fprintf(stderr, "kestcam camsim: needs a pseudo-terminal, which Windows lacks; run the Linux build's "
                         "camsim and map a COM port to its terminal (docs/serial-camera.md)\n");
    return kExitFailure;
}

} // namespace kestcam::cli
