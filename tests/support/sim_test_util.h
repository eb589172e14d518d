// sim_test_util.h - a fixture for tests of the simulated imaging library: a clean library per
// test, a configuration file in a fresh directory, and short-hands for the calling thread's error.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "mil/mil_api.h"
#include "sim/sim_control.h"
#include "sim/sim_mil.h"
#include "support/env.h"
#include "support/temp_dir.h"

namespace kestcam::test {

// band b of pixel (x, y) of frame f, as the simulator's documentation states it.
inline uint32_t RampValue(int x, int y, int64_t f, int b, int bits) {
    return static_cast<uint32_t>((x + 3 * static_cast<int64_t>(y) + 7 * f + 85 * b) % (int64_t{1} << bits));
}

class SimMilTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::ResetSimulator();
        UseBuiltInConfig();
    }
    void TearDown() override {
        sim::ResetSimulator();
        env_.reset();
    }

    // Points KESTCAM_SIM_CONFIG at a new file holding text; returns the file's path.
    std::string UseConfig(const std::string &text) {
        const std::string path = dir_.Write("sim" + std::to_string(++files_) + ".ini", text);
        UseConfigPath(path);
        return path;
    }
    void UseConfigPath(const std::string &path) {
        env_.reset();
        env_ = std::make_unique<ScopedEnv>("KESTCAM_SIM_CONFIG", path);
    }
    // An empty KESTCAM_SIM_CONFIG counts as unset.
    void UseBuiltInConfig() { UseConfigPath(""); }

    std::string WriteFile(const std::string &name, const std::string &text) { return dir_.Write(name, text); }
    std::string MissingFile(const std::string &name) const { return dir_.File(name); }

    // The calling thread's pending error, as the driver reads it.
    bool ErrorPending() const { return mil.MappGetError(mil::kErrorCurrent, nullptr) != 0; }
    std::string ErrorText() const {
        char text[mil::kErrorTextSize] = {};
        mil.MappGetError(mil::kErrorMessage, text);
        return text;
    }

    MilId AllocApp() {
        MilId app = 0;
        mil.MappAlloc(mil::kDefault, &app);
        return app;
    }
    MilId AllocSystem(const char *descriptor = "M_SYSTEM_SOLIOS", MilInt device = 0) {
        MilId system = 0;
        mil.MsysAlloc(descriptor, device, 0, &system);
        return system;
    }
    MilId AllocDigitizer(MilId system, MilInt number, const char *dcf = "M_DEFAULT") {
        MilId digitizer = 0;
        mil.MdigAlloc(system, number, dcf, mil::kDefault, &digitizer);
        return digitizer;
    }
    MilInt Inquire(MilId digitizer, MilInt64 type) { return mil.MdigInquire(digitizer, type, nullptr); }

    const MilFunctions &mil = SimMilFunctions();

private:
    TempDir dir_;
    std::unique_ptr<ScopedEnv> env_;
    int files_ = 0;
};

} // namespace kestcam::test
