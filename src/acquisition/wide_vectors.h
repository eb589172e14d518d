// wide_vectors.h - whether this build may run code on vectors wider than 16 bytes (AVX2, AVX-512).
#pragma once

namespace kestcam {

// False where the compiler cannot keep such vectors correctly aligned on the stack; the row
// conversions then stay with 16-byte vectors, whatever the processor offers.
bool WideVectorsAllowed();

} // namespace kestcam
