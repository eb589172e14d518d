// number_text.h - the C library's number conversions ("%d", "%g", atoi, atof) made independent
// of the process locale and free of undefined behaviour on overflow.
#pragma once

#include <string>
#include <string_view>

namespace kestcam {

// "%d".
std::string FormatInt(int value);
// "%.*g", always with "." as the decimal point: the settings file must read back the same
// whatever locale the host process has set.
std::string FormatDouble(double value, int significantDigits);
// atoi: leading blanks, optional sign, decimal digits up to the first other character, 0 when
// there are none. A number beyond int's range gives the nearest bound.
int ParseIntPrefix(std::string_view text);
// atof: the longest prefix strtod accepts, 0.0 when there is none; "." is the decimal point.
double ParseDoublePrefix(std::string_view text);

} // namespace kestcam
