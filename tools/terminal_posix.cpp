// terminal_posix.cpp - isatty.
#include <unistd.h>

#include "terminal.h"

namespace kestcam::cli {
bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }
} // namespace kestcam::cli
