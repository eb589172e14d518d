// text_encoding_win32.cpp - the narrow ("A") calls of Windows take the ANSI code page; the text of a
// UTF-16 settings file is converted as GetPrivateProfileStringA and WritePrivateProfileStringA
// convert it.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <climits>

#include "settings/text_encoding.h"

namespace kestcam::ini {

std::string NarrowFromUtf8(std::string_view text) {
    const std::u16string wide = Utf16FromUtf8(text);
    if (wide.empty() || wide.size() > INT_MAX / 4) return {};
    const auto *units = reinterpret_cast<const wchar_t *>(wide.data());
    const int count = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, units, count, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, units, count, narrow.data(), size, nullptr, nullptr);
    return narrow;
}

std::string Utf8FromNarrow(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX / 2) return {};
    const int count = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), count, nullptr, 0);
    if (size <= 0) return {};
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), count, wide.data(), size);
    return Utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t *>(wide.data()), wide.size()));
}

} // namespace kestcam::ini
