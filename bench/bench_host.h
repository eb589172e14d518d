// bench_host.h - a host session for benchmarks: simulator configuration, settings, open, grab, read.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver_library.h"
#include "support/env.h"
#include "support/temp_dir.h"

namespace kestcam::bench {

// One simulated digitizer and the settings the camera is opened with.
struct CameraSetup {
    int width = 8160;
    int height = 1000;
    int bands = 1;
    int bits = 8;
    int heightMultiplier = 1;
    int use16bit = 0;
    int shift16bit = 0;
    bool useLut = false;
    std::string shareName; // not empty: the camera shares its frames under this name
    // The benchmark driver with its minimal backend (MbufGet2d a plain copy) instead of the shipped
    // driver and the simulator: what is left of a row call is the driver's own cost.
    bool minimalBackend = false;
};

// Loads the driver once, then opens "Camera 1" on port 0 with the given set-up; the session is
// closed and the driver finalized when the object goes.
class BenchHost {
public:
    explicit BenchHost(const CameraSetup &setup);
    ~BenchHost();
    BenchHost(const BenchHost &) = delete;
    BenchHost &operator=(const BenchHost &) = delete;

    bool Ok() const { return ok_; }
    const std::string &Error() const { return error_; }
    int Width() const { return geometry_[0]; }
    int Rows() const { return geometry_[1]; }
    int BytesPerPixel() const { return setup_.bands; }

    // One grab, waiting for its completion callback; completed (if given) receives the moment the
    // callback ran.
    bool GrabAndWait(std::chrono::steady_clock::time_point *completed = nullptr);
    // Reads every row of the image into one row buffer, as a host does.
    bool ReadAllRows(unsigned char *row);
    bool ReadRow(unsigned char *row, int r, int first, int last);

    // The shipped driver, or the benchmark driver; each is loaded once.
    static const cli::DriverExports &Driver(bool minimalBackend = false);
    const cli::DriverExports &Exports() const { return Driver(setup_.minimalBackend); }

private:
    CameraSetup setup_;
    test::TempDir dir_;
    std::unique_ptr<test::ScopedEnv> config_;
    std::unique_ptr<test::ScopedEnv> backend_;
    int geometry_[2] = {0, 0};
    bool ok_ = false;
    bool open_ = false;
    std::string error_;
};

} // namespace kestcam::bench
