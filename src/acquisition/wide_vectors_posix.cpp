// wide_vectors_posix.cpp - the System V stacks can be realigned for any vector width.
#include "acquisition/wide_vectors.h"

namespace kestcam {

bool WideVectorsAllowed() {
    return true;
}

} // namespace kestcam
