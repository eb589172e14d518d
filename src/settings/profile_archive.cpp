// profile_archive.cpp - the three Exchange forms and the single-write flush.
#include "settings/profile_archive.h"

#include "settings/number_text.h"

namespace kestcam {
namespace {

bool IsUnstored(const std::string &key) {
    std::string_view unstored = ProfileArchive::kUnstoredKey;
    if (key.size() != unstored.size()) return false;
    for (size_t i = 0; i < key.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(key[i]) != lower(unstored[i])) return false;
    }
    return true;
}

} // namespace

ProfileArchive::ProfileArchive(std::string fileName, std::string section)
    : fileName_(std::move(fileName)), section_(std::move(section)) {}

ProfileArchive::ProfileArchive(const ini::IniDocument &document, std::string section)
    : section_(std::move(section)), source_(&document) {}

ProfileArchive::ProfileArchive(ini::IniDocument &document, std::string section)
    : section_(std::move(section)), source_(&document), target_(&document) {}

const ini::IniDocument *ProfileArchive::Document() {
    if (source_ != nullptr) return source_;
    if (!readAttempted_) {
        readAttempted_ = true;
        ini::IniDocument doc;
        readError_ = ini::ReadDocument(fileName_, doc);
        if (!readError_) document_ = std::move(doc);
    }
    return document_ ? &*document_ : nullptr;
}

std::optional<std::string> ProfileArchive::Read(const std::string &key) {
    if (IsUnstored(key)) return std::nullopt;
    const ini::IniDocument *doc = Document();
    if (doc == nullptr) return std::nullopt;
    return doc->Get(section_, key);
}

void ProfileArchive::Store(const std::string &key, std::string text) {
    if (IsUnstored(key)) return;
    pending_.emplace_back(key, std::move(text));
}

void ProfileArchive::Exchange(Param<int> &param) {
    if (!loading_) {
        Store(param.name, FormatInt(param.value));
        return;
    }
    if (std::optional<std::string> text = Read(param.name))
        param.value = ini::ProfileIntFromText(*text, param.value);
}

void ProfileArchive::Exchange(Param<double> &param) {
    if (!loading_) {
        Store(param.name, FormatDouble(param.value, 6));
        return;
    }
    if (IsUnstored(param.name) || (Document() == nullptr)) return;
    // A missing key answers the value's own "%g" text, so after a load the value always holds
    // what the file would hold after the next save, whether the key was there or not.
    std::optional<std::string> text = Read(param.name);
    std::string answer = text ? text->substr(0, kMaxTextLength) : FormatDouble(param.value, 6);
    if (!answer.empty()) param.value = ParseDoublePrefix(answer);
}

void ProfileArchive::Exchange(Param<std::string> &param) {
    if (!loading_) {
        Store(param.name, param.value);
        return;
    }
    if (std::optional<std::string> text = Read(param.name)) param.value = text->substr(0, kMaxTextLength);
}

bool ProfileArchive::Flush() {
    if (loading_) {
        Document();
        return !readError_;
    }
    if (pending_.empty()) return true;
    if (source_ != nullptr) {
        bool stored = target_ != nullptr;
        for (const auto &[key, text] : pending_)
            stored = stored && target_->Set(section_, key, text);
        pending_.clear();
        return stored;
    }
    if (!ini::WriteSection(fileName_, section_, pending_, &writeError_)) return false;
    pending_.clear();
    return true;
}

} // namespace kestcam
