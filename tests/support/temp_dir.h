// temp_dir.h - a fresh directory per test, removed with everything in it afterwards.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace kestcam::test {

class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        std::ostringstream name;
        name << "kestcam-test-" << stamp << "-" << counter++;
        path_ = std::filesystem::temp_directory_path() / name.str();
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &Path() const { return path_; }
    std::string Str() const { return path_.string(); }
    // Full path of a file in the directory.
    std::string File(const std::string &name) const { return (path_ / name).string(); }

    // Writes text (binary mode: bytes exactly as given) and returns the file's full path.
    std::string Write(const std::string &name, const std::string &text) const {
        std::string full = File(name);
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out << text;
        return full;
    }

    static std::string Read(const std::string &file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::filesystem::path path_;
};

} // namespace kestcam::test
