// genicam_bench.cpp - continuous grabbing through the GenICam backend, as the driver grabs in
// continuous mode (one synchronous sequence after another), counted for a number of seconds; and
// the backend's own per-frame cost, the copy of a received frame into a grab buffer.
// usage: kestcam_genicam_bench LIBRARY DCF SECONDS
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "genicam_frame.h"
#include "mil/mil_api.h"

namespace {

using namespace kestcam;
using Clock = std::chrono::steady_clock;

template <typename F> F Resolve(void *library, const char *name) {
    void *address = dlsym(library, name);
    if (address == nullptr) {
        std::fprintf(stderr, "genicam bench: %s lacks %s\n", "the library", name);
        std::exit(1);
    }
    return reinterpret_cast<F>(address);
}

// Microseconds one CopyFrame of a width x height frame of the format takes (best of five runs of 200).
double CopyMicroseconds(const char *format, int width, int height, int bufferBits) {
    genicam::PixelLayout layout;
    genicam::LayoutOf(format, layout);
    const size_t pixels = static_cast<size_t>(width) * height;
    std::vector<uint8_t> frame(pixels * layout.bands * layout.bytesPerSample);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> planes(pixels * layout.bands * (bufferBits / 8));
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        for (int i = 0; i < 200; ++i) {
            genicam::CopyFrame(frame.data(), layout, width, height, bufferBits, planes.data());
            frame[0] = planes[static_cast<size_t>(i) % planes.size()]; // keeps the copies
        }
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / 200;
        if (us < best) best = us;
    }
    return best;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: kestcam_genicam_bench LIBRARY DCF SECONDS\n");
        return 2;
    }
    void *library = dlopen(argv[1], RTLD_NOW);
    if (library == nullptr) {
        std::fprintf(stderr, "genicam bench: %s\n", dlerror());
        return 1;
    }
    MilFunctions m{};
    m.MappAlloc = Resolve<decltype(m.MappAlloc)>(library, "MappAlloc");
    m.MappGetError = Resolve<decltype(m.MappGetError)>(library, "MappGetError");
    m.MsysAlloc = Resolve<decltype(m.MsysAlloc)>(library, "MsysAlloc");
    m.MdigAlloc = Resolve<decltype(m.MdigAlloc)>(library, "MdigAlloc");
    m.MdigInquire = Resolve<decltype(m.MdigInquire)>(library, "MdigInquire");
    m.MdigControl = Resolve<decltype(m.MdigControl)>(library, "MdigControl");
    m.MdigProcess = Resolve<decltype(m.MdigProcess)>(library, "MdigProcess");
    m.MdigFree = Resolve<decltype(m.MdigFree)>(library, "MdigFree");
    m.MbufAlloc2d = Resolve<decltype(m.MbufAlloc2d)>(library, "MbufAlloc2d");

    char error[mil::kErrorTextSize] = {};
    MilId app = 0, system = 0, digitizer = 0, buffer = 0;
    m.MappAlloc(mil::kDefault, &app);
    m.MsysAlloc("M_SYSTEM_GIGE_VISION", 0, 0, &system);
    if (system != 0) m.MdigAlloc(system, 0, argv[2], mil::kDefault, &digitizer);
    if (digitizer == 0) {
        m.MappGetError(mil::kErrorMessage, error);
        std::fprintf(stderr, "genicam bench: no camera: %s\n", error);
        return 1;
    }
    const int width = m.MdigInquire(digitizer, mil::kSizeX, nullptr);
    const int height = m.MdigInquire(digitizer, mil::kSizeY, nullptr);
    m.MdigControl(digitizer, mil::kGrabTimeout, 1000);
    m.MbufAlloc2d(system, width, height, 8, mil::kImageGrab, &buffer);

    long frames = 0, errors = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(std::atof(argv[3]));
    std::string firstError;
    while (Clock::now() < end) {
        m.MdigProcess(digitizer, &buffer, 1, mil::kSequence, mil::kSynchronous, nullptr, nullptr);
        if (m.MappGetError(mil::kErrorMessage, error) != 0) {
            ++errors;
            if (firstError.empty()) firstError = error;
        } else {
            ++frames;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("backend: %dx%d Mono8, %.1f s: %ld frames, %ld errors, %.1f frames/s\n", width, height, seconds,
                frames, errors, frames / seconds);
    if (!firstError.empty()) std::printf("backend: first error: %s\n", firstError.c_str());
    std::printf("copy into the ring, per frame: Mono8 %dx%d %.1f us; Mono16 to 8 bits %.1f us; RGB8 %.1f us\n",
                width, height, CopyMicroseconds("Mono8", width, height, 8),
                CopyMicroseconds("Mono16", width, height, 8), CopyMicroseconds("RGB8", width, height, 8));
    m.MdigFree(digitizer);
    return 0;
}
