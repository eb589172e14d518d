// text_encoding.h - settings files saved as UTF-16 (with a byte-order mark, as Windows editors save
// them): telling them from 8-bit files, and converting between their UTF-16 and the UTF-8 text the
// INI parser works on, without losing a single unit either way.
#pragma once

#include <string>
#include <string_view>

namespace kestcam::ini {

// How a settings file is stored: 8-bit text (the platform's narrow code page, or UTF-8), or UTF-16
// in either byte order, marked by its byte-order mark.
enum class FileEncoding { Bytes, Utf16Le, Utf16Be };

// UTF-16 when the bytes start with its byte-order mark (FF FE little endian, FE FF big endian).
FileEncoding DetectEncoding(std::string_view bytes);

// UTF-16 bytes (byte-order mark included, so it reads back as U+FEFF) to UTF-8. A surrogate
// without its partner is kept as its own three-byte sequence, so encoding the text again gives the
// same bytes. False when the byte count is odd: the last unit is cut off, and text holds the
// whole units before it.
bool DecodeUtf16(std::string_view bytes, FileEncoding encoding, std::string &text);
// UTF-8 (with lone surrogates as DecodeUtf16 writes them) to UTF-16 bytes in that byte order. A
// byte that starts no valid sequence becomes U+FFFD.
std::string EncodeUtf16(std::string_view text, FileEncoding encoding);
// The text as it reads back after EncodeUtf16 and DecodeUtf16.
std::string NormalizeUtf8(std::string_view text);

// UTF-8 and UTF-16 code units, by the rules above.
std::u16string Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::u16string_view text);

// Text as the platform's narrow ("A") calls take it: the ANSI code page on Windows, where characters
// it lacks become '?', as the system's own profile functions answer them; UTF-8 elsewhere, unchanged.
std::string NarrowFromUtf8(std::string_view text);
std::string Utf8FromNarrow(std::string_view text);

} // namespace kestcam::ini
