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
class IniDocument {
public:
    static IniDocument Parse(std::string_view text);

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

    std::vector<Line> lines_;
    std::string lineEnd_;
};

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
// Writes many keys of one section in one atomic replace. False, with the file untouched, when
// the existing file cannot be read, a name is not representable (see IniDocument::Set) or the
// replace fails. A write that would change nothing leaves the file alone and succeeds. Writes
// from threads of one process are serialised, so none loses another's keys.
bool WriteSection(const std::string &file, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>> &keyValues);

} // namespace kestcam::ini
