// env.h - setting and clearing environment variables from tests, on every platform.
#pragma once

#include <cstdlib>
#include <string>

namespace kestcam::test {

inline void SetEnv(const char *name, const std::string &value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char *name) {
#if defined(_WIN32)
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

// Sets a variable for the lifetime of the object and restores the earlier state afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value) : name_(name) {
        const char *old = std::getenv(name);
        if (old != nullptr) {
            had_ = true;
            old_ = old;
        }
        SetEnv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            SetEnv(name_, old_);
        else
            UnsetEnv(name_);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *name_;
    bool had_ = false;
    std::string old_;
};

} // namespace kestcam::test
