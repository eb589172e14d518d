// property_list.h - the element's `properties` text ("ExposureTime=250,Gain=2") as name/value pairs.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kestcam::gst {

using PropertyList = std::vector<std::pair<std::string, int>>;

// Comma-separated NAME=INTEGER items, blanks around each part ignored; an empty text is no items.
// False with the offending item named in error.
bool ParsePropertyList(const std::string &text, PropertyList &out, std::string &error);

} // namespace kestcam::gst
