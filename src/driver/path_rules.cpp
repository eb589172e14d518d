// path_rules.cpp - relative/absolute path rules shared by the POSIX backend and the tests.
#include "driver/path_rules.h"

#include <cctype>
#include <vector>

namespace kestcam::paths {
namespace {

bool HasDrive(const std::string &p) { return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':'; }

// The root a path starts with ("C:\\", "\\\\server\\share\\", "/") and its components after the root.
struct Split {
    std::string root;
    std::vector<std::string> parts;
};

Split SplitPath(const std::string &p, char sep) {
    Split s;
    size_t i = 0;
    if (sep == '\\') {
        if (HasDrive(p)) {
            s.root = p.substr(0, 2);
            i = 2;
            if (i < p.size() && p[i] == sep) {
                s.root += sep;
                ++i;
            }
        } else if (p.size() >= 2 && p[0] == sep && p[1] == sep) {
            // UNC: \\server\share is the root
            size_t j = p.find(sep, 2);
            j = (j == std::string::npos) ? p.size() : p.find(sep, j + 1);
            if (j == std::string::npos) j = p.size();
            s.root = p.substr(0, j);
            i = j;
        } else if (!p.empty() && p[0] == sep) {
            s.root = std::string(1, sep);
            i = 1;
        }
    } else if (!p.empty() && p[0] == sep) {
        s.root = std::string(1, sep);
        i = 1;
    }
    std::string cur;
    for (; i <= p.size(); ++i) {
        if (i == p.size() || p[i] == sep) {
            if (!cur.empty() && cur != ".") s.parts.push_back(cur);
            cur.clear();
        } else {
            cur += p[i];
        }
    }
    return s;
}

bool SameName(const std::string &a, const std::string &b, char sep) {
    if (sep == '/') return a == b;
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

bool IsRelative(const std::string &path, char sep) {
    if (path.empty()) return true;
    if (path[0] == sep) return false;
    if (sep == '\\' && HasDrive(path)) return false;
    return true;
}

std::optional<std::string> Append(const std::string &dir, const std::string &path, char sep) {
    std::string tail = path;
    while (tail.size() >= 2 && tail[0] == '.' && tail[1] == sep) tail.erase(0, 2);
    std::string out = dir;
    if (!out.empty() && out.back() != sep && !tail.empty()) out += sep;
    out += tail;
    if (out.size() >= kMaxPath) return std::nullopt;
    return out;
}

std::optional<std::string> RelativePathTo(const std::string &dir, const std::string &file, char sep) {
    Split from = SplitPath(dir, sep);
    Split to = SplitPath(file, sep);
    if (from.root.empty() || to.root.empty() || !SameName(from.root, to.root, sep)) return std::nullopt;
    size_t common = 0;
    while (common < from.parts.size() && common < to.parts.size() &&
           SameName(from.parts[common], to.parts[common], sep))
        ++common;
    std::string out;
    if (common == from.parts.size()) {
        out = ".";
    } else {
        for (size_t i = common; i < from.parts.size(); ++i) {
            if (!out.empty()) out += sep;
            out += "..";
        }
    }
    for (size_t i = common; i < to.parts.size(); ++i) {
        out += sep;
        out += to.parts[i];
    }
    if (out.size() >= kMaxPath) return std::nullopt;
    return out;
}

} // namespace kestcam::paths
