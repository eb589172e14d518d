// profile_archive.h - moves parameters between memory and one section of the settings file.
#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "settings/ini_store.h"
#include "settings/param.h"

namespace kestcam {

// Loading reads the file once, at the first Exchange, and answers every key from that one
// reading. Storing collects the values and writes them with Flush in one atomic replace, so a
// crash or a concurrent reader never sees a half-written section.
class ProfileArchive {
public:
    // Texts are cut to this many characters on reading, as a 256-byte profile buffer holds.
    static constexpr size_t kMaxTextLength = 255;
    // Handed to the logger at every open, never kept in the file: file logging is switched on
    // for one session, not for good.
    static constexpr const char *kUnstoredKey = "LogIntoFile";

    ProfileArchive(std::string fileName, std::string section);
    // On a document in memory instead of a file: loading reads it, Flush sets the collected keys
    // into it (a const document only loads). The document outlives the archive.
    ProfileArchive(const ini::IniDocument &document, std::string section);
    ProfileArchive(ini::IniDocument &document, std::string section);

    void SetLoading() { loading_ = true; }
    void SetStoring() { loading_ = false; }
    bool IsLoading() const { return loading_; }

    // Loading: the integer profile read with the current value as default.
    // Storing: "%d".
    void Exchange(Param<int> &param);
    // Loading: the key's text with the current value's "%g" text as default; a non-empty result
    // is converted like atof, an empty one (key present without a value) keeps the value.
    // Storing: "%g".
    void Exchange(Param<double> &param);
    // Loading: the key's text, cut to kMaxTextLength; a missing key keeps the value.
    // Storing: the text as it is (for a ParamEnum its current text, not the code).
    void Exchange(Param<std::string> &param);

    // Storing: writes everything collected since the last Flush. False when the file could not
    // be written; it is then as it was. Loading: false when the file exists but could not be
    // read; the parameters then kept their values.
    bool Flush();

    const std::string &FileName() const { return fileName_; }
    const std::string &Section() const { return section_; }
    std::error_code ReadError() const { return readError_; }
    // Why the last storing Flush failed.
    std::error_code WriteError() const { return writeError_; }

private:
    const ini::IniDocument *Document();
    std::optional<std::string> Read(const std::string &key);
    void Store(const std::string &key, std::string text);

    std::string fileName_;
    std::string section_;
    bool loading_ = true;

    bool readAttempted_ = false;
    std::optional<ini::IniDocument> document_;
    std::error_code readError_;
    std::error_code writeError_;
    std::vector<std::pair<std::string, std::string>> pending_;
    const ini::IniDocument *source_ = nullptr;
    ini::IniDocument *target_ = nullptr;
};

} // namespace kestcam
