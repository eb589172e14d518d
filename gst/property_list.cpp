// property_list.cpp - parsing the `properties` text; no I/O.
#include "property_list.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kestcam::gst {

namespace {
std::string Trim(const std::string &s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}
} // namespace

bool ParsePropertyList(const std::string &text, PropertyList &out, std::string &error) {
    out.clear();
    if (Trim(text).empty()) return true;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string item = Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        const size_t eq = item.find('=');
        const std::string name = Trim(item.substr(0, eq));
        const std::string value = eq == std::string::npos ? std::string() : Trim(item.substr(eq + 1));
        if (eq == std::string::npos || name.empty() || value.empty()) {
            error = "'" + item + "' is not NAME=VALUE";
            return false;
        }
        char *end = nullptr;
        errno = 0;
        const long v = std::strtol(value.c_str(), &end, 10);
        if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) {
            error = "the value of " + name + " ('" + value + "') is not an integer";
            return false;
        }
        out.emplace_back(name, static_cast<int>(v));
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

} // namespace kestcam::gst
