// number_text.cpp - locale-independent "%d"/"%g" formatting and atoi/atof-style parsing.
#include "settings/number_text.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestcam {
namespace {

// The decimal point of the current C locale; "." in the "C" locale most processes keep.
std::string LocaleDecimalPoint() {
    const std::lconv *conv = std::localeconv();
    if (conv == nullptr || conv->decimal_point == nullptr || conv->decimal_point[0] == '\0') return ".";
    return conv->decimal_point;
}

} // namespace

std::string FormatInt(int value) {
    return std::to_string(value);
}

std::string FormatDouble(double value, int significantDigits) {
    char buffer[64];
    int n = std::snprintf(buffer, sizeof buffer, "%.*g", significantDigits, value);
    if (n < 0) return "0";
    std::string text(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1);
    std::string point = LocaleDecimalPoint();
    if (point != ".") {
        size_t at = text.find(point);
        if (at != std::string::npos) text.replace(at, point.size(), ".");
    }
    return text;
}

int ParseIntPrefix(std::string_view text) {
    // No copy and no strtol: this also reads every field of a lookup table, and the white space
    // skipped is the C locale's whatever locale the host has set.
    const char *p = text.data();
    const char *const end = p + text.size();
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r')))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    // The magnitude is gathered in 64 bits and held at the limit, so it never overflows however many
    // digits follow.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : static_cast<long long>(INT_MAX);
    long long magnitude = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

double ParseDoublePrefix(std::string_view text) {
    std::string copy(text);
    std::string point = LocaleDecimalPoint();
    if (point != ".") {
        // strtod only knows the locale's point; a ',' already in the text must then not be taken
        // for one, so the number ends there as it would in the "C" locale.
        size_t stop = copy.find(point);
        if (stop != std::string::npos) copy.erase(stop);
        size_t at = copy.find('.');
        if (at != std::string::npos) copy.replace(at, 1, point);
    }
    return std::strtod(copy.c_str(), nullptr);
}

} // namespace kestcam
