// dynamic_library.h - a run-time loaded library (DLL or shared object), owned by one object and
// unloaded when that object goes.
#pragma once

#include <string>

namespace kestcam::os {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary() { Reset(); }
    DynamicLibrary(DynamicLibrary &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    DynamicLibrary &operator=(DynamicLibrary &&other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    // Loads the library at path (a bare file name is searched as the system searches it). On
    // failure the result is empty and error holds the system's reason.
    static DynamicLibrary Open(const std::string &path, std::string &error);

    bool IsLoaded() const { return handle_ != nullptr; }
    // The address of an export by name, or null.
    void *Symbol(const char *name) const;
    // The address of an export by ordinal number (a Windows DLL's export table); null when the
    // library has no such ordinal, and always null where libraries have no ordinals.
    void *Ordinal(int ordinal) const;
    // Unloads the library; the addresses it handed out are invalid afterwards.
    void Reset();

private:
    explicit DynamicLibrary(void *handle) : handle_(handle) {}

    void *handle_ = nullptr;
};

} // namespace kestcam::os
