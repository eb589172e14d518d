// text_encoding_posix.cpp - the narrow calls of POSIX systems take UTF-8: nothing to convert.
#include "settings/text_encoding.h"

namespace kestcam::ini {

std::string NarrowFromUtf8(std::string_view text) {
    return std::string(text);
}

std::string Utf8FromNarrow(std::string_view text) {
    return std::string(text);
}

} // namespace kestcam::ini
