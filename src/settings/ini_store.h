// ini_store.h - INI files with the private-profile rules: case-insensitive names, defaults for
// anything missing, last write wins, and every write an atomic replace of the whole file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "settings/text_encoding.h"

namespace kestcam::ini {

// Lines longer than this answer no look-up. No key the driver stores comes near it, and a
// runaway line (a binary file, a damaged editor save) must cost one pass, nothing more.
constexpr size_t kMaxLineLength = 32 * 1024;

// An INI text held in memory. Parsing never fails: garbage lines, lines without "=" and
// overlong lines are kept verbatim for writing back but answer no look-up.
//
// Look-up rules, as the Windows profile functions apply them: section and key names are
// trimmed and compared without regard to ASCII letter case; the first section of a name is
// the section (a later duplicate is never consulted) and the first line of a key in it answers;
// a value is trimmed and loses one pair of matching surrounding quotes (' or "). Two rules are
// stricter than Windows on purpose: a line whose first non-blank character is ';' is a comment
// (Windows answers it as a key named ";..."), and keys before the first section header belong
// to no section. A leading UTF-8 byte-order mark is ignored.
//
// A file saved as UTF-16 (ParseFile) is read as the Windows profile functions read it: names and
// values are exchanged in the platform's narrow text (see NarrowFromUtf8), and SerializeFile writes
// the whole file back as UTF-16 in its own byte order, so a save never mixes 8-bit lines into it.
class IniDocument {
public:
    static IniDocument Parse(std::string_view text);
    // A file's bytes: UTF-16 when they start with its byte-order mark, otherwise as Parse.
    static IniDocument ParseFile(std::string_view bytes);

    // The value of (section, key), trimmed; names compared without regard to case.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Sets (section, key); creates the section at the end of the file and the key at the end
    // of its section when missing. Other lines, comments included, stay as they were.
    // An existing key keeps its spelling and position; a value is stored up to its first line
    // break. False, and nothing changed, for names the file format cannot hold: an empty
    // section or key, a line break in either, a key containing "=" or starting with ';' or
    // '[', or a line longer than kMaxLineLength.
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    bool HasSection(std::string_view section) const;
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

    // Lines joined with the line end the parsed text used (the platform's for a new text).
    std::string Serialize() const;
    // Serialize in the file's own encoding: the bytes to write back.
    std::string SerializeFile() const;
    FileEncoding Encoding() const { return encoding_; }
    // False for a UTF-16 file cut off in the middle of a unit (an odd number of bytes): it reads as
    // far as it is whole, but writing it back would lose its last byte.
    bool Writable() const { return writable_; }

private:
    struct Line {
        std::string text;    // the line as read or as formed by Set
        std::string section; // for a header line: its name
        std::string key;     // for a key line: its trimmed key
        std::string value;   // for a key line: its trimmed value
        // BrokenHeader: an overlong line that opens like a header. It ends the section before
        // it, so the keys that follow cannot answer for that other section.
        enum Kind { Other, Header, KeyValue, BrokenHeader } kind = Other;
    };
    static Line Classify(std::string text, bool firstLine);
    std::optional<size_t> FindSection(std::string_view section) const;
    std::optional<size_t> FindKey(size_t header, std::string_view key) const;
    size_t SectionEnd(size_t header) const;
    // Between the caller's narrow text and the document's own (UTF-8 for a UTF-16 file).
    std::string FromCaller(std::string_view text) const;
    std::string ToCaller(std::string_view text) const;

    std::vector<Line> lines_;
    std::string lineEnd_;
    FileEncoding encoding_ = FileEncoding::Bytes;
    bool writable_ = true;
};

// Why a settings file was not written, beside the system's own errors.
enum class IniError { TruncatedUtf16 = 1 };
std::error_code make_error_code(IniError error);

// The integer read of the private-profile rules applied to a value that is present: an empty
// value gives def, otherwise the text's leading integer (optional sign, then decimal digits or
// "0x" hexadecimal, "0o" octal, "0b" binary digits) and 0 when it has none. A number outside
// int's range gives the nearest bound.
int ProfileIntFromText(std::string_view value, int def);

// Reads and parses a whole file. An absent file gives an empty document and no error; a file
// that exists but cannot be read gives the error and leaves doc as it was.
std::error_code ReadDocument(const std::string &file, IniDocument &doc);

// File-level private-profile calls.
std::string GetString(const std::string &file, std::string_view section, std::string_view key,
                      std::string_view def);
// The integer read of the private-profile rules: a missing key (or an empty value) gives def,
// otherwise ProfileIntFromText.
int GetInt(const std::string &file, std::string_view section, std::string_view key, int def);
// Writes one key; the file is replaced atomically. False when it cannot be written.
bool WriteString(const std::string &file, std::string_view section, std::string_view key, std::string_view value);
// Writes many keys of one section in one atomic replace, in the file's own encoding. False, with
// the file untouched and the reason in why (when given), when the existing file cannot be read or
// is a truncated UTF-16 file, a name is not representable (see IniDocument::Set; invalid_argument)
// or the replace fails. A write that would change nothing leaves the file alone and succeeds.
// Writes from threads of one process are serialised, so none loses another's keys.
bool WriteSection(const std::string &file, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>> &keyValues, std::error_code *why = nullptr);

} // namespace kestcam::ini

namespace std {
template <> struct is_error_code_enum<kestcam::ini::IniError> : true_type {};
} // namespace std
