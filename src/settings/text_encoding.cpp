// text_encoding.cpp - UTF-16 settings files: byte-order marks and the lossless conversion to and
// from UTF-8.
#include "settings/text_encoding.h"

#include <cstdint>

namespace kestcam::ini {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// One sequence at text[i]: the code point (a surrogate too) and its length; U+FFFD and 1 for a byte
// that starts none, an overlong form or a value beyond U+10FFFF.
char32_t DecodeOne(std::string_view text, size_t i, size_t &length) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = byte(0);
    length = 1;
    if (lead < 0x80) return lead;
    size_t need = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        need = 1, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        need = 2, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        need = 3, cp = lead & 0x07, least = 0x10000;
    } else {
        return kReplacement;
    }
    if (i + need >= text.size()) return kReplacement;
    for (size_t k = 1; k <= need; ++k) {
        if (!IsContinuation(byte(k))) return kReplacement;
        cp = (cp << 6) | (byte(k) & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF) return kReplacement;
    length = need + 1;
    return cp;
}

void AppendUtf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

FileEncoding DetectEncoding(std::string_view bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return FileEncoding::Utf16Le;
    if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') return FileEncoding::Utf16Be;
    return FileEncoding::Bytes;
}

std::u16string Utf16FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t length = 1;
        const char32_t cp = DecodeOne(text, i, length);
        i += length;
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Utf8FromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

bool DecodeUtf16(std::string_view bytes, FileEncoding encoding, std::string &text) {
    const bool little = encoding == FileEncoding::Utf16Le;
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
        const auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
        units += static_cast<char16_t>(lo | (hi << 8));
    }
    text = Utf8FromUtf16(units);
    return bytes.size() % 2 == 0;
}

std::string EncodeUtf16(std::string_view text, FileEncoding encoding) {
    const bool little = encoding == FileEncoding::Utf16Le;
    const std::u16string units = Utf16FromUtf8(text);
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
        const char lo = static_cast<char>(u & 0xFF);
        const char hi = static_cast<char>(u >> 8);
        bytes += little ? lo : hi;
        bytes += little ? hi : lo;
    }
    return bytes;
}

std::string NormalizeUtf8(std::string_view text) {
    return Utf8FromUtf16(Utf16FromUtf8(text));
}

} // namespace kestcam::ini
