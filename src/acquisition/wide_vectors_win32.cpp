// wide_vectors_win32.cpp - 16-byte vectors only. The x64 MinGW compiler cannot realign the stack (the
// x64 unwind data forbids it) yet spills 32- and 64-byte vectors with aligned moves, which fault on a
// stack aligned to 16 bytes; the 32-bit build keeps the same rule, so both Windows builds run the same
// row code.
#include "acquisition/wide_vectors.h"

namespace kestcam {

bool WideVectorsAllowed() {
    return false;
}

} // namespace kestcam
