// ini_fuzz.cpp - libFuzzer harness for the INI parser and writer. Any input, as a file's bytes (8-bit
// or UTF-16 by its byte-order mark), must parse, write back to bytes that parse to themselves, and
// answer a value set into it.
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//       tests/fuzz/ini_fuzz.cpp src/settings/ini_store.cpp src/settings/text_encoding.cpp \
//       src/settings/text_encoding_posix.cpp src/os/file_replace_posix.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_store.h"

using kestcam::ini::IniDocument;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);
    IniDocument doc = IniDocument::ParseFile(text);

    std::string once = doc.SerializeFile();
    Check(IniDocument::ParseFile(once).SerializeFile() == once);

    std::vector<std::string> sections = doc.SectionNames();
    for (const std::string &section : sections) {
        Check(doc.HasSection(section));
        for (const std::string &key : doc.KeyNames(section))
            Check(doc.Get(section, key).has_value());
    }

    // The last bytes of the input choose a section and a value, so the fuzzer steers the writes.
    std::string section = sections.empty() ? std::string("Camera 1") : sections[size % sections.size()];
    std::string value(text.substr(size / 2, 16));
    if (doc.Set(section, "FuzzKey", value)) {
        IniDocument reread = IniDocument::ParseFile(doc.SerializeFile());
        std::optional<std::string> got = reread.Get(section, "FuzzKey");
        Check(got.has_value());
        Check(*got == *doc.Get(section, "FuzzKey"));
        for (const std::string &other : sections) {
            if (other == section) continue;
            for (const std::string &key : doc.KeyNames(other))
                Check(reread.Get(other, key) == doc.Get(other, key));
        }
    }
    (void)kestcam::ini::ProfileIntFromText(text.substr(0, 40), 7);
    return 0;
}
