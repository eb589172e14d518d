// terminal_win32.cpp - _isatty.
#include <io.h>

#include <cstdio>

#include "terminal.h"

namespace kestcam::cli {
bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
} // namespace kestcam::cli
