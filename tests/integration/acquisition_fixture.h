// acquisition_fixture.h - opening cameras through the exports, waiting for completion callbacks,
// and the simulator's ramp pattern as a host sees it in delivered rows.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace kestcam::test {

// Generous bounds: they only turn a hang into a failure on a slow, loaded machine.
constexpr std::chrono::seconds kCallbackBound{30};

// The completion callback carries no user data, so the calls it receives are process-wide state.
class Completions {
public:
    static Completions &Instance() {
        static Completions *completions = new Completions();
        return *completions;
    }
    static void KESTCAM_CDECL Proc(int grabberNo, int portNo) { Instance().Add(grabberNo, portNo); }

    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        counts_.clear();
        grabberNumbers_.clear();
        hook_ = nullptr;
    }
    // Runs on the acquisition thread inside the callback, after the call was counted.
    void SetHook(std::function<void(int port)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        hook_ = std::move(hook);
    }
    int Count(int port) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = counts_.find(port);
        return it == counts_.end() ? 0 : it->second;
    }
    std::vector<int> GrabberNumbers() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return grabberNumbers_;
    }
    // Waits until port has had at least n callbacks; false after the bound.
    bool WaitFor(int port, int n, std::chrono::milliseconds bound = kCallbackBound) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, bound, [&] {
            auto it = counts_.find(port);
            return it != counts_.end() && it->second >= n;
        });
    }

private:
    void Add(int grabberNo, int portNo) {
        std::function<void(int)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++counts_[portNo];
            grabberNumbers_.push_back(grabberNo);
            hook = hook_;
        }
        changed_.notify_all();
        if (hook) hook(portNo);
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int, int> counts_;
    std::vector<int> grabberNumbers_;
    std::function<void(int)> hook_;
};

// Band b of pixel (x, y) of frame f of a digitizer with `bits` bits, as the simulator grabs it.
inline uint32_t Ramp(int x, int y, int64_t f, int b, int bits) {
    return static_cast<uint32_t>((x + 3 * static_cast<int64_t>(y) + 7 * f + 85 * b) % (int64_t{1} << bits));
}

class AcquisitionTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        Completions::Instance().Reset();
    }
    void TearDown() override {
        DriverTest::TearDown();
        Completions::Instance().Reset();
    }

    // Writes the camera's section of Kest.ini in the system path (the driver reads it at open).
    // LogLevel 3 unless the lines say otherwise: the level follows the camera opened last, and the
    // tests look at life-cycle and grab lines.
    void WriteSettings(const std::string &camera, const std::string &lines) {
        std::string section = lines;
        if (!section.empty() && section.back() != '\n') section += '\n';
        if (section.find("LogLevel") == std::string::npos) section += "LogLevel=3\n";
        sections_[camera] = section;
        std::string text;
        for (const auto &[name, keys] : sections_)
            text += "[" + name + "]\n" + keys;
        dir_.Write("Kest.ini", text);
    }
    std::string ReadSettingsFile() const { return TempDir::Read(dir_.File("Kest.ini")); }

    // A configuration of one board with one digitizer given by its keys.
    void UseOneDigitizer(const std::string &digitizerKeys, const std::string &faults = "") {
        UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 0\nDigitizers = 1\n"
                     "[System 0 Digitizer 0]\n" +
                     digitizerKeys + "\n[Faults]\n" + faults + "\n");
    }

    // Opens the camera on port; geometry in width_, rows_.
    bool OpenWithoutCallback(const std::string &camera, int port) {
        if (sections_.count(camera) == 0) WriteSettings(camera, "");
        int geometry[2] = {-1, -1};
        const std::string started = "on port=" + std::to_string(port);
        const auto startLines = [&](const std::vector<std::string> &texts) {
            return static_cast<size_t>(std::count_if(texts.begin(), texts.end(), [&](const std::string &t) {
                return t.find("GrabThread::ThreadMain: entering") != std::string::npos &&
                       t.find(started) != std::string::npos;
            }));
        };
        const size_t before = startLines(Log().Messages());
        if (Driver().openCVLPort(0, port, camera.c_str(), geometry) != 1) return false;
        width_ = geometry[0];
        rows_ = geometry[1];
        // The acquisition thread writes its first lines once its starter's have gone out, which may
        // be after the open returned: a test that clears the log after an open would find them among
        // its own. Where the level shows them, they are waited for (bounded; a missing one shows in
        // the test's own checks).
        if (LogLevelOf(camera) >= 2)
            Log().WaitUntil([&](const std::vector<std::string> &texts) { return startLines(texts) > before; },
                            std::chrono::seconds(10));
        return true;
    }
    int LogLevelOf(const std::string &camera) const {
        const auto section = sections_.find(camera);
        if (section == sections_.end()) return 3;
        const size_t key = section->second.find("LogLevel=");
        return key == std::string::npos ? 3 : std::atoi(section->second.c_str() + key + 9);
    }
    // As OpenWithoutCallback, and installs the counting callback.
    bool Open(const std::string &camera, int port) {
        return OpenWithoutCallback(camera, port) && Driver().setCompleteCallback(0, port, &Completions::Proc) == 1;
    }

    // One grab, waited for through its callback.
    bool GrabAndWait(int port) {
        const int before = Completions::Instance().Count(port);
        if (Driver().doCVLGrab(0, port) != 1) return false;
        return Completions::Instance().WaitFor(port, before + 1);
    }

    std::vector<uint8_t> Row(int port, int row, int bytesPerPixel = 1) {
        std::vector<uint8_t> out(static_cast<size_t>(width_) * bytesPerPixel, 0xEE);
        if (Driver().getCVLGrabRow(0, port, out.data(), row, 0, width_ - 1) != 1) out.clear();
        return out;
    }

    Completions &Calls() { return Completions::Instance(); }

    int width_ = 0;
    int rows_ = 0;

private:
    std::map<std::string, std::string> sections_;
    // A box nobody closes would block an unattended run on Windows.
    ScopedEnv noBoxes_{"KESTCAM_NO_MESSAGE_BOXES", "1"};
};

} // namespace kestcam::test
