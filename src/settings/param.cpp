// param.cpp - the entry list of ParamEnum.
#include "settings/param.h"

namespace kestcam {

void ParamEnum::ClearEntries() {
    texts.clear();
    codes.clear();
}

void ParamEnum::AddEntry(const char *text, int code) {
    if (text == nullptr || *text == '\0') return;
    texts.emplace_back(text);
    codes.push_back(code);
    if (texts.size() == 1) value = texts.front();
}

bool ParamEnum::GetEntry(int index, std::string &text, int &code) const {
    if (index < 0 || static_cast<size_t>(index) >= texts.size() || static_cast<size_t>(index) >= codes.size())
        return false;
    text = texts[static_cast<size_t>(index)];
    code = codes[static_cast<size_t>(index)];
    return true;
}

int ParamEnum::EntryCount() const {
    return static_cast<int>(texts.size() < codes.size() ? texts.size() : codes.size());
}

int ParamEnum::CodeOf(const char *text) const {
    if (text == nullptr || *text == '\0') return 0;
    for (size_t i = 0; i < texts.size() && i < codes.size(); ++i)
        if (texts[i] == text) return codes[i];
    return 0;
}

void ParamEnum::SetByCode(int code) {
    for (size_t i = 0; i < texts.size() && i < codes.size(); ++i) {
        if (codes[i] == code) {
            value = texts[i];
            return;
        }
    }
}

} // namespace kestcam
