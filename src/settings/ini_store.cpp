// ini_store.cpp - the INI parser and writer (text in, text out) and the thin file layer over it.
#include "settings/ini_store.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

#include "os/file_replace.h"

namespace kestcam::ini {
namespace {

// Ctrl-Z counts as a blank: old DOS editors end text files with it.
constexpr std::string_view kBlanks = " \t\r\v\f\x1a";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// A settings file is a few kilobytes; anything this large is not one, and holding it in memory
// twice (old and new text) to rewrite it would only hurt the host.
constexpr long kMaxFileSize = 16L * 1024 * 1024;

std::string_view TrimLeft(std::string_view s) {
    size_t first = s.find_first_not_of(kBlanks);
    return first == std::string_view::npos ? std::string_view() : s.substr(first);
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    size_t last = s.find_last_not_of(kBlanks);
    return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// ASCII folding only: bytes above 0x7F belong to whatever code page wrote the file, and the
// camera names this store is keyed by are ASCII.
bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// One pair of matching quotes around a value is removed, as GetPrivateProfileString does, so a
// path written as "C:\My Files\cam.dcf" reads as the path.
std::string_view StripQuotes(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

IniDocument::Line IniDocument::Classify(std::string text, bool firstLine) {
    Line line;
    line.text = std::move(text);
    std::string_view view = line.text;
    if (firstLine && view.substr(0, kUtf8Bom.size()) == kUtf8Bom) view.remove_prefix(kUtf8Bom.size());

    if (view.size() > kMaxLineLength) {
        if (TrimLeft(view).substr(0, 1) == "[") line.kind = Line::BrokenHeader;
        return line;
    }
    std::string_view trimmed = Trim(view);
    if (trimmed.empty() || trimmed.front() == ';') return line;
    if (trimmed.front() == '[') {
        // The name runs to the last ']', so a name containing ']' survives a round trip; without
        // one the line is no header and the section before it goes on, as on Windows.
        size_t close = trimmed.rfind(']');
        if (close == std::string_view::npos || close == 0) return line;
        line.section = std::string(Trim(trimmed.substr(1, close - 1)));
        line.kind = Line::Header;
        return line;
    }
    size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) return line;
    std::string_view key = Trim(trimmed.substr(0, equals));
    if (key.empty()) return line;
    line.key = std::string(key);
    line.value = std::string(Trim(trimmed.substr(equals + 1)));
    line.kind = Line::KeyValue;
    return line;
}

IniDocument IniDocument::ParseFile(std::string_view bytes) {
    const FileEncoding encoding = DetectEncoding(bytes);
    if (encoding == FileEncoding::Bytes) return Parse(bytes);
    // The byte-order mark decodes into the first line's text like a UTF-8 one, is skipped the same
    // way and goes back out with the rest.
    std::string text;
    const bool whole = DecodeUtf16(bytes, encoding, text);
    IniDocument doc = Parse(text);
    doc.encoding_ = encoding;
    doc.writable_ = whole;
    return doc;
}

std::string IniDocument::FromCaller(std::string_view text) const {
    if (encoding_ == FileEncoding::Bytes) return std::string(text);
    // As it will read back once written as UTF-16.
    return NormalizeUtf8(Utf8FromNarrow(text));
}

std::string IniDocument::ToCaller(std::string_view text) const {
    if (encoding_ == FileEncoding::Bytes) return std::string(text);
    return NarrowFromUtf8(text);
}

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    size_t firstBreak = text.find('\n');
    if (firstBreak == std::string_view::npos)
        doc.lineEnd_ = os::NativeLineEnd();
    else
        doc.lineEnd_ = (firstBreak > 0 && text[firstBreak - 1] == '\r') ? "\r\n" : "\n";

    const bool crlf = doc.lineEnd_ == "\r\n";
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(pos, end - pos);
        // Only the line end the text uses is taken off; a stray '\r' elsewhere stays part of its
        // line, so writing the text back changes nothing but the lines that were set.
        if (crlf && !raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        doc.lines_.push_back(Classify(std::string(raw), pos == 0));
        pos = end + 1;
    }
    return doc;
}

std::optional<size_t> IniDocument::FindSection(std::string_view section) const {
    section = Trim(section);
    if (section.empty()) return std::nullopt;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Line::Header && EqualsNoCase(lines_[i].section, section)) return i;
    return std::nullopt;
}

size_t IniDocument::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != Line::Header && lines_[i].kind != Line::BrokenHeader)
        ++i;
    return i;
}

std::optional<size_t> IniDocument::FindKey(size_t header, std::string_view key) const {
    key = Trim(key);
    if (key.empty()) return std::nullopt;
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
        if (lines_[i].kind == Line::KeyValue && EqualsNoCase(lines_[i].key, key)) return i;
    return std::nullopt;
}

std::optional<std::string> IniDocument::Get(std::string_view sectionText, std::string_view keyText) const {
    std::optional<size_t> header = FindSection(FromCaller(sectionText));
    if (!header) return std::nullopt;
    std::optional<size_t> line = FindKey(*header, FromCaller(keyText));
    if (!line) return std::nullopt;
    return ToCaller(StripQuotes(lines_[*line].value));
}

bool IniDocument::Set(std::string_view sectionText, std::string_view keyText, std::string_view valueText) {
    const std::string sectionOwn = FromCaller(sectionText);
    const std::string keyOwn = FromCaller(keyText);
    const std::string valueOwn = FromCaller(valueText);
    std::string_view section = sectionOwn;
    std::string_view key = keyOwn;
    std::string_view value = valueOwn;
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key)) return false;
    if (key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '[') return false;
    // Whatever follows a line break would turn into lines of its own: other keys, other sections.
    // The text written is the value a later read answers: blanks before the cut are dropped too,
    // or a save of what was read would differ from the save it was read from.
    value = Trim(value.substr(0, value.find_first_of("\r\n")));
    // A value that is itself in matching quotes would lose them to the next read: it is written in
    // one more pair, which the read removes.
    std::string stored(value);
    if (StripQuotes(value).size() != value.size()) stored = '"' + stored + '"';
    if (section.size() + 2 > kMaxLineLength || key.size() + 1 + stored.size() > kMaxLineLength) return false;

    Line keyLine;
    keyLine.kind = Line::KeyValue;
    keyLine.value = stored;

    std::optional<size_t> header = FindSection(section);
    if (!header) {
        // A file that holds nothing but its byte-order mark is as good as empty.
        const bool blankEnd =
            lines_.empty() || Trim(lines_.back().text).empty() || (lines_.size() == 1 && lines_[0].text == kUtf8Bom);
        if (!blankEnd) lines_.push_back(Line{});
        Line headerLine;
        headerLine.kind = Line::Header;
        headerLine.section = std::string(section);
        headerLine.text = "[" + headerLine.section + "]";
        lines_.push_back(std::move(headerLine));
        keyLine.key = std::string(key);
        keyLine.text = keyLine.key + "=" + stored;
        lines_.push_back(std::move(keyLine));
        return true;
    }

    if (std::optional<size_t> existing = FindKey(*header, key)) {
        Line &line = lines_[*existing];
        line.text = line.key + "=" + stored;
        line.value = std::move(keyLine.value);
        return true;
    }

    // After the section's last key, so comments and blank lines that lead into the next
    // section stay with it.
    size_t insertAt = *header + 1;
    size_t end = SectionEnd(*header);
    for (size_t i = *header + 1; i < end; ++i)
        if (lines_[i].kind == Line::KeyValue) insertAt = i + 1;
    keyLine.key = std::string(key);
    keyLine.text = keyLine.key + "=" + stored;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(keyLine));
    return true;
}

bool IniDocument::HasSection(std::string_view section) const {
    return FindSection(FromCaller(section)).has_value();
}

std::vector<std::string> IniDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const Line &line : lines_) {
        if (line.kind != Line::Header || line.section.empty()) continue;
        bool seen = false;
        for (const std::string &name : names)
            seen = seen || EqualsNoCase(name, line.section);
        if (!seen) names.push_back(line.section);
    }
    for (std::string &name : names)
        name = ToCaller(name);
    return names;
}

std::vector<std::string> IniDocument::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    std::optional<size_t> header = FindSection(FromCaller(section));
    if (!header) return names;
    size_t end = SectionEnd(*header);
    for (size_t i = *header + 1; i < end; ++i) {
        if (lines_[i].kind != Line::KeyValue) continue;
        bool seen = false;
        for (const std::string &name : names)
            seen = seen || EqualsNoCase(name, lines_[i].key);
        if (!seen) names.push_back(lines_[i].key);
    }
    for (std::string &name : names)
        name = ToCaller(name);
    return names;
}

std::string IniDocument::Serialize() const {
    const std::string_view lineEnd = lineEnd_.empty() ? std::string_view(os::NativeLineEnd()) : lineEnd_;
    size_t size = 0;
    for (const Line &line : lines_)
        size += line.text.size() + lineEnd.size();
    std::string out;
    out.reserve(size);
    for (const Line &line : lines_) {
        out += line.text;
        out += lineEnd;
    }
    return out;
}

std::string IniDocument::SerializeFile() const {
    return encoding_ == FileEncoding::Bytes ? Serialize() : EncodeUtf16(Serialize(), encoding_);
}

namespace {

class IniErrorCategory : public std::error_category {
public:
    const char *name() const noexcept override { return "kestcam.ini"; }
    std::string message(int condition) const override {
        return condition == static_cast<int>(IniError::TruncatedUtf16)
                   ? "the file is UTF-16 but ends in half a character; it is left as it is"
                   : "unknown settings file error";
    }
};

} // namespace

std::error_code make_error_code(IniError error) {
    static const IniErrorCategory category;
    return {static_cast<int>(error), category};
}

// Windows reads the value with GetPrivateProfileString and answers the default when the text
// is empty, so "Key=" and Key="" keep the default just as a missing key does. It wraps numbers
// outside int modulo 2^32 (2147483648 reads as -2147483648), which turns a mistyped time-out
// into an arbitrary one; here such a number gives the nearest bound of int instead.
int ProfileIntFromText(std::string_view value, int def) {
    value = Trim(value);
    if (value.empty()) return def;
    size_t i = 0;
    bool negative = false;
    if (value[i] == '+' || value[i] == '-') {
        negative = value[i] == '-';
        ++i;
    }
    // The prefixes are lower case only, as Windows reads them: "0X1F" is 0.
    int base = 10;
    if (i + 1 < value.size() && value[i] == '0') {
        char prefix = value[i + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) i += 2;
    }
    constexpr std::uint64_t kLimit = 0x80000000ull; // |INT_MIN|; anything above saturates
    std::uint64_t magnitude = 0;
    for (; i < value.size(); ++i) {
        int digit = HexDigit(value[i]);
        if (digit < 0 || digit >= base) break;
        magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (magnitude > kLimit) magnitude = kLimit + 1;
    }
    if (negative) return magnitude >= kLimit ? INT32_MIN : -static_cast<int>(magnitude);
    return magnitude >= kLimit ? INT32_MAX : static_cast<int>(magnitude);
}

std::error_code ReadDocument(const std::string &file, IniDocument &doc) {
    struct Closer {
        void operator()(std::FILE *f) const { std::fclose(f); }
    };
    errno = 0;
    std::unique_ptr<std::FILE, Closer> in(std::fopen(file.c_str(), "rb"));
    if (!in) {
        if (errno == ENOENT) {
            doc = IniDocument::Parse({});
            return {};
        }
        return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, in.get());
        text.append(buffer, n);
        if (static_cast<long>(text.size()) > kMaxFileSize) return std::make_error_code(std::errc::file_too_large);
        if (n < sizeof buffer) break;
    }
    // A directory opens fine on POSIX and fails here.
    if (std::ferror(in.get())) return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
    doc = IniDocument::ParseFile(text);
    return {};
}

std::string GetString(const std::string &file, std::string_view section, std::string_view key,
                      std::string_view def) {
    IniDocument doc;
    if (ReadDocument(file, doc)) return std::string(def);
    std::optional<std::string> value = doc.Get(section, key);
    return value ? *value : std::string(def);
}

int GetInt(const std::string &file, std::string_view section, std::string_view key, int def) {
    IniDocument doc;
    if (ReadDocument(file, doc)) return def;
    std::optional<std::string> value = doc.Get(section, key);
    return value ? ProfileIntFromText(*value, def) : def;
}

bool WriteString(const std::string &file, std::string_view section, std::string_view key, std::string_view value) {
    return WriteSection(file, section, {{std::string(key), std::string(value)}});
}

bool WriteSection(const std::string &file, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>> &keyValues, std::error_code *why) {
    auto fail = [&](std::error_code error) {
        if (why != nullptr) *why = error;
        return false;
    };
    // Read, change and replace form one step: two cameras saving at once from different host
    // threads would otherwise each write back the file without the other's section.
    static std::mutex writeMutex;
    std::lock_guard<std::mutex> lock(writeMutex);
    // An unreadable file must not be replaced by one holding only what is written now.
    IniDocument doc;
    if (std::error_code error = ReadDocument(file, doc)) return fail(error);
    if (!doc.Writable()) return fail(IniError::TruncatedUtf16);
    std::string before = doc.SerializeFile();
    for (const auto &[key, value] : keyValues)
        if (!doc.Set(section, key, value)) return fail(std::make_error_code(std::errc::invalid_argument));
    std::string after = doc.SerializeFile();
    if (after == before) {
        // Nothing to write, but what a save killed earlier left beside the file goes all the same.
        os::RemoveStaleTemporaries(file);
        return true;
    }
    if (std::error_code error = os::ReplaceFileContents(file, after)) return fail(error);
    return true;
}

} // namespace kestcam::ini
