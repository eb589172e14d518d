// bench_host.cpp - the benchmark host: the driver loaded as a host loads it, against the simulator.
#include "bench_host.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "acquisition/lut_generator.h"

namespace kestcam::bench {

namespace {

std::mutex g_mutex;
std::condition_variable g_done;
long g_completions = 0;
std::chrono::steady_clock::time_point g_completedAt;

void KESTCAM_CDECL OnComplete(int, int) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_completions;
        g_completedAt = std::chrono::steady_clock::now();
    }
    g_done.notify_all();
}

} // namespace

namespace {

cli::DriverLibrary *LoadDriver(const char *path) {
    auto *lib = new cli::DriverLibrary();
    std::string error;
    if (!lib->Load(path, error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        std::exit(1);
    }
    return lib;
}

} // namespace

const cli::DriverExports &BenchHost::Driver(bool minimalBackend) {
    if (minimalBackend) {
        static cli::DriverLibrary *bench = LoadDriver(KESTCAM_BENCH_DRIVER_PATH);
        return bench->Exports();
    }
    static cli::DriverLibrary *shipped = LoadDriver(KESTCAM_DRIVER_PATH);
    return shipped->Exports();
}

BenchHost::BenchHost(const CameraSetup &setup) : setup_(setup) {
    char sim[512];
    std::snprintf(sim, sizeof sim,
                  "[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 0\nDigitizers = 1\n"
                  "[System 0 Digitizer 0]\nWidth = %d\nHeight = %d\nBands = %d\nBits = %d\n",
                  setup.width, setup.height, setup.bands, setup.bits);
    config_ = std::make_unique<test::ScopedEnv>("KESTCAM_SIM_CONFIG", dir_.Write("sim.ini", sim));
    // Read when initialize creates the registry.
    backend_ = std::make_unique<test::ScopedEnv>("KESTCAM_MIL", setup.minimalBackend ? "minimal" : "sim");
    std::string lutFile = dir_.File("log.csv");
    if (setup.useLut && !WriteLutGeneratorFile(lutFile, 0, setup.bits > 8 ? 12 : 8, 1)) {
        error_ = "cannot write the lookup table";
        return;
    }
    char ini[1024];
    std::snprintf(ini, sizeof ini,
                  "[Camera 1]\nHeightMultiplier=%d\nUse16bit=%d\nShift16bit=%d\nUseLUT=%d\nLUT_FILE=%s\n"
                  "lutcolumn=ln\nLogLevel=1\nShareCamera=%d\nShareName=%s\n",
                  setup.heightMultiplier, setup.use16bit, setup.shift16bit, setup.useLut ? 1 : 0, lutFile.c_str(),
                  setup.shareName.empty() ? 0 : 1, setup.shareName.c_str());
    dir_.Write("Kest.ini", ini);

    const cli::DriverExports &d = Exports();
    d.initialize(dir_.Str().c_str(), nullptr);
    if (d.openCVLPort == nullptr || d.openCVLPort(0, 0, "Camera 1", geometry_) != 1) {
        error_ = "cannot open Camera 1";
        return;
    }
    open_ = true;
    d.setCompleteCallback(0, 0, &OnComplete);
    ok_ = GrabAndWait();
    if (!ok_) error_ = "the first grab did not complete";
}

BenchHost::~BenchHost() {
    const cli::DriverExports &d = Exports();
    if (open_) d.closeCVLPort(0, 0);
    d.finalize();
}

bool BenchHost::GrabAndWait(std::chrono::steady_clock::time_point *completed) {
    std::unique_lock<std::mutex> lock(g_mutex);
    const long before = g_completions;
    lock.unlock();
    if (Exports().doCVLGrab(0, 0) != 1) return false;
    lock.lock();
    if (!g_done.wait_for(lock, std::chrono::seconds(30), [&] { return g_completions > before; })) return false;
    if (completed != nullptr) *completed = g_completedAt;
    return true;
}

bool BenchHost::ReadAllRows(unsigned char *row) {
    const auto getRow = Exports().getCVLGrabRow;
    const int last = geometry_[0] - 1;
    for (int r = 0; r < geometry_[1]; ++r)
        if (getRow(0, 0, row, r, 0, last) != 1) return false;
    return true;
}

bool BenchHost::ReadRow(unsigned char *row, int r, int first, int last) {
    return Exports().getCVLGrabRow(0, 0, row, r, first, last) == 1;
}

} // namespace kestcam::bench
