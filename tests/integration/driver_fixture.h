// driver_fixture.h - the driver loaded as a host loads it, a log capture and a fresh system path per test.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver_library.h"
#include "support/env.h"
#include "support/temp_dir.h"

namespace kestcam::test {

// The driver under test: KESTCAM_TEST_DRIVER when set (a build tree run elsewhere), else the one built here.
inline const cli::DriverExports &Driver() {
    static cli::DriverLibrary *library = [] {
        auto *lib = new cli::DriverLibrary();
        const char *override = std::getenv("KESTCAM_TEST_DRIVER");
        std::string error;
        if (!lib->Load(override != nullptr && override[0] != '\0' ? override : KESTCAM_DRIVER_PATH, error)) {
            ADD_FAILURE() << "cannot load the driver: " << error;
            std::abort();
        }
        return lib;
    }();
    return library->Exports();
}

// Everything the driver hands to the debug-message procedure, one entry per call.
class LogCapture {
public:
    static LogCapture &Instance() {
        static LogCapture *capture = new LogCapture();
        return *capture;
    }
    static void KESTCAM_CDECL Proc(const char *text) { Instance().Add(text != nullptr ? text : "(null)"); }

    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.clear();
    }
    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }
    // The messages only: every second text, the first of each pair being the time stamp.
    std::vector<std::string> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (size_t i = 1; i < texts_.size(); i += 2) out.push_back(texts_[i]);
        return out;
    }
    size_t Count(const std::string &fragment) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count_if(texts_.begin(), texts_.end(), [&](const std::string &t) {
            return t.find(fragment) != std::string::npos;
        }));
    }
    bool Contains(const std::string &fragment) const { return Count(fragment) > 0; }
    // Waits until at least n texts contain fragment; false after the time-out.
    bool WaitForCount(const std::string &fragment, size_t n,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return static_cast<size_t>(std::count_if(texts_.begin(), texts_.end(), [&](const std::string &t) {
                       return t.find(fragment) != std::string::npos;
                   })) >= n;
        });
    }
    // Waits until done holds for the texts so far; false after the time-out.
    bool WaitUntil(const std::function<bool(const std::vector<std::string> &texts)> &done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return done(texts_); });
    }
    // Waits until a text containing fragment arrives; false after the time-out.
    bool WaitFor(const std::string &fragment, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return std::any_of(texts_.begin(), texts_.end(),
                               [&](const std::string &t) { return t.find(fragment) != std::string::npos; });
        });
    }

private:
    void Add(std::string text) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            texts_.push_back(std::move(text));
        }
        changed_.notify_all();
    }
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> texts_;
};

// Default simulator: three cameras on one board plus an unsupported host system.
// A test may write its own configuration with UseSimConfig before calling Initialize.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        LogCapture::Instance().Clear();
        Driver().setDebugMsgProc(&LogCapture::Proc);
        Driver().setSystemPath(dir_.Str().c_str());
    }
    void TearDown() override {
        Driver().finalize();
        simConfig_.reset();
        Driver().setDebugMsgProc(nullptr);
    }

    // Points the simulator at an INI text of its configuration keys.
    void UseSimConfig(const std::string &text) {
        simConfig_ = std::make_unique<ScopedEnv>("KESTCAM_SIM_CONFIG", dir_.Write("sim.ini", text));
    }
    int Initialize() { return Driver().initialize(dir_.Str().c_str(), &LogCapture::Proc); }
    std::vector<std::string> CameraNames() {
        std::vector<std::string> out;
        char **names = Driver().getCVLCameraConfigNames();
        for (char **n = names; n != nullptr && *n != nullptr; ++n) out.emplace_back(*n);
        return out;
    }
    LogCapture &Log() { return LogCapture::Instance(); }

    TempDir dir_;
    std::unique_ptr<ScopedEnv> simConfig_;
};

} // namespace kestcam::test
