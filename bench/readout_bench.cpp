// readout_bench.cpp - full-frame readout through getCVLGrabRow beside memcpy of the same rows and
// OpenCV on the same frames; the per-call cost of a short span; the grab loop; width and stack scaling.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "acquisition/row_conversion.h"
#include "bench_host.h"
#include "sim/sim_mil.h"

namespace kestcam::bench {
namespace {

constexpr int kWidth = 8160;
constexpr int kHeight = 1000;

void SetBytes(benchmark::State &state, size_t perIteration) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(perIteration));
}

// Full-frame readout through the export, one host row buffer, as a host reads an image.
void Readout(benchmark::State &state, CameraSetup setup) {
    BenchHost host(setup);
    if (!host.Ok()) {
        state.SkipWithError(host.Error().c_str());
        return;
    }
    std::vector<unsigned char> row(static_cast<size_t>(host.Width()) * host.BytesPerPixel());
    for (auto _ : state) {
        if (!host.ReadAllRows(row.data())) {
            state.SkipWithError("a row was refused");
            break;
        }
        benchmark::DoNotOptimize(row.data());
        benchmark::ClobberMemory();
    }
    SetBytes(state, row.size() * static_cast<size_t>(host.Rows()));
}

void BM_Readout_Mono8(benchmark::State &state) {
    Readout(state, CameraSetup{});
}
void BM_Readout_16bitShift(benchmark::State &state) {
    CameraSetup s;
    s.bits = 12;
    s.use16bit = 1;
    s.shift16bit = 4;
    Readout(state, s);
}
void BM_Readout_16bitTable(benchmark::State &state) {
    CameraSetup s;
    s.bits = 12;
    s.use16bit = 1;
    s.useLut = true;
    Readout(state, s);
}
void BM_Readout_8bitTable(benchmark::State &state) {
    CameraSetup s;
    s.useLut = true;
    Readout(state, s);
}
void BM_Readout_ColourBgr(benchmark::State &state) {
    CameraSetup s;
    s.bands = 3;
    Readout(state, s);
}
BENCHMARK(BM_Readout_Mono8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Readout_16bitShift)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Readout_16bitTable)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Readout_8bitTable)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Readout_ColourBgr)->Unit(benchmark::kMillisecond)->UseRealTime();

// The physical limit of the path: the same bytes moved by memcpy row by row into one row buffer.
void MemcpyRows(benchmark::State &state, size_t bytesPerPixel, size_t width = kWidth) {
    const size_t stride = width * bytesPerPixel;
    RowVector<unsigned char> frame(stride * kHeight); // placed as the imaging library's frames are
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<unsigned char>(i * 7);
    std::vector<unsigned char> row(stride);
    for (auto _ : state) {
        for (int r = 0; r < kHeight; ++r) {
            std::memcpy(row.data(), frame.data() + stride * r, stride);
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(row.data());
    }
    SetBytes(state, stride * kHeight);
}
void BM_Memcpy_Mono8(benchmark::State &state) {
    MemcpyRows(state, 1);
}
void BM_Memcpy_Colour(benchmark::State &state) {
    MemcpyRows(state, 3);
}
BENCHMARK(BM_Memcpy_Mono8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memcpy_Colour)->Unit(benchmark::kMillisecond)->UseRealTime();

// OpenCV on the same frames: 16 -> 8 bits with a scale of 1/16, and an 8-bit table.
void BM_OpenCV_ConvertTo16to8(benchmark::State &state) {
    cv::Mat src(kHeight, kWidth, CV_16UC1), dst;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            src.at<uint16_t>(y, x) = static_cast<uint16_t>((x + 3 * y) & 0xFFF);
    for (auto _ : state) {
        src.convertTo(dst, CV_8U, 1.0 / 16.0);
        benchmark::DoNotOptimize(dst.data);
    }
    SetBytes(state, static_cast<size_t>(kWidth) * kHeight);
}
// The same on one thread, as the driver reads rows on the host's one thread.
void BM_OpenCV_ConvertTo16to8_OneThread(benchmark::State &state) {
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    BM_OpenCV_ConvertTo16to8(state);
    cv::setNumThreads(threads);
}
void BM_OpenCV_Lut8(benchmark::State &state) {
    cv::Mat src(kHeight, kWidth, CV_8UC1), lut(1, 256, CV_8UC1), dst;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            src.at<uint8_t>(y, x) = static_cast<uint8_t>(x + 3 * y);
    for (int i = 0; i < 256; ++i)
        lut.at<uint8_t>(0, i) = static_cast<uint8_t>(255 - i);
    for (auto _ : state) {
        cv::LUT(src, lut, dst);
        benchmark::DoNotOptimize(dst.data);
    }
    SetBytes(state, static_cast<size_t>(kWidth) * kHeight);
}
BENCHMARK(BM_OpenCV_ConvertTo16to8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCV_ConvertTo16to8_OneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenCV_Lut8)->Unit(benchmark::kMillisecond)->UseRealTime();

// What bounds the 16-bit readout, outside the driver: the copy of 2 bytes per pixel that MbufGet2d
// makes into a staging row (the simulator's row copy, and the C library's memcpy beside it), that copy
// followed by the driver's own shift kernel (the readout without any per-call cost), and the shift
// read straight from the frame (a fused read the imaging library's call does not offer). Bytes
// counted as delivered: one per pixel, as in the readouts.
RowVector<uint16_t> Frame16() {
    RowVector<uint16_t> frame(static_cast<size_t>(kWidth) * kHeight);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint16_t>((i % kWidth + 3 * (i / kWidth)) & 0xFFF);
    return frame;
}
void CopyRow16(uint16_t *dst, const uint16_t *src, bool libraryMemcpy) {
    if (libraryMemcpy)
        std::memcpy(dst, src, kWidth * sizeof(uint16_t));
    else
        CopyRow(reinterpret_cast<uint8_t *>(dst), reinterpret_cast<const uint8_t *>(src),
                kWidth * sizeof(uint16_t));
}
void Copy16Rows(benchmark::State &state, bool libraryMemcpy, bool thenShift) {
    const RowVector<uint16_t> frame = Frame16();
    RowVector<uint16_t> staging(kWidth); // as the driver's staging row
    std::vector<uint8_t> row(kWidth);
    for (auto _ : state) {
        for (int r = 0; r < kHeight; ++r) {
            CopyRow16(staging.data(), frame.data() + static_cast<size_t>(kWidth) * r, libraryMemcpy);
            if (thenShift) ShiftRow16(staging.data(), row.data(), kWidth, 4);
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(staging.data());
        benchmark::DoNotOptimize(row.data());
    }
    SetBytes(state, static_cast<size_t>(kWidth) * kHeight);
}
void BM_Limit_Copy16Rows(benchmark::State &state) {
    Copy16Rows(state, false, false);
}
void BM_Limit_Copy16Rows_Memcpy(benchmark::State &state) {
    Copy16Rows(state, true, false);
}
void BM_Limit_Copy16ThenShift(benchmark::State &state) {
    Copy16Rows(state, false, true);
}
void BM_Limit_Copy16ThenShift_Memcpy(benchmark::State &state) {
    Copy16Rows(state, true, true);
}
void BM_Limit_Shift16FromFrame(benchmark::State &state) {
    const RowVector<uint16_t> frame = Frame16();
    std::vector<uint8_t> row(kWidth);
    for (auto _ : state) {
        for (int r = 0; r < kHeight; ++r) {
            ShiftRow16(frame.data() + static_cast<size_t>(kWidth) * r, row.data(), kWidth, 4);
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(row.data());
    }
    SetBytes(state, static_cast<size_t>(kWidth) * kHeight);
}
BENCHMARK(BM_Limit_Copy16Rows)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Limit_Copy16Rows_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Limit_Copy16ThenShift)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Limit_Copy16ThenShift_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Limit_Shift16FromFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// A hand-off to a sleeping thread, from the notify to the moment the thread runs: the grab loop has
// two a frame (the request to the grab thread, the completion back to the host) and the sharing path
// two more. Both sides pause 500 us before each, the waker either asleep too or busy (as a thread
// that has just filled or read a frame is); on a virtual machine the two differ widely.
void WakeSleepingThread(benchmark::State &state, bool wakerBusy) {
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::condition_variable changed;
    long posted = 0;
    long seen = 0;
    bool stop = false;
    Clock::time_point sentAt;
    Clock::time_point wokeAt;
    std::thread waiter([&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stop || posted > seen; });
            if (stop) return;
            wokeAt = Clock::now();
            seen = posted;
            changed.notify_all();
        }
    });
    const auto pause = std::chrono::microseconds(500);
    for (auto _ : state) {
        if (wakerBusy) {
            for (const auto start = Clock::now(); Clock::now() - start < pause;) {
            }
        } else {
            std::this_thread::sleep_for(pause);
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            sentAt = Clock::now();
            ++posted;
        }
        changed.notify_all();
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return seen == posted; });
        state.SetIterationTime(std::chrono::duration<double>(wokeAt - sentAt).count());
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    changed.notify_all();
    waiter.join();
}
void BM_Limit_WakeFromIdleThread(benchmark::State &state) {
    WakeSleepingThread(state, false);
}
void BM_Limit_WakeFromBusyThread(benchmark::State &state) {
    WakeSleepingThread(state, true);
}
BENCHMARK(BM_Limit_WakeFromIdleThread)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_Limit_WakeFromBusyThread)->Unit(benchmark::kMicrosecond)->UseManualTime();

// Per-call cost: a 2-pixel span against a full 8160-pixel row, both 8-bit; through the shipped
// driver and the simulator, and through the benchmark driver, whose MbufGet2d is a plain copy.
void RowCall(benchmark::State &state, int span, bool minimalBackend = false) {
    CameraSetup setup;
    setup.minimalBackend = minimalBackend;
    BenchHost host(setup);
    if (!host.Ok()) {
        state.SkipWithError(host.Error().c_str());
        return;
    }
    std::vector<unsigned char> row(kWidth);
    // As a host calls it: through the pointer it resolved once.
    const auto getRow = host.Exports().getCVLGrabRow;
    int r = 0;
    for (auto _ : state) {
        if (getRow(0, 0, row.data(), r, 0, span - 1) != 1) {
            state.SkipWithError("a row was refused");
            break;
        }
        benchmark::DoNotOptimize(row.data());
        if (++r == kHeight) r = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
void BM_RowCall_Span2(benchmark::State &state) {
    RowCall(state, 2);
}
void BM_RowCall_FullRow(benchmark::State &state) {
    RowCall(state, kWidth);
}
void BM_RowCall_Span2_Minimal(benchmark::State &state) {
    RowCall(state, 2, true);
}
void BM_RowCall_FullRow_Minimal(benchmark::State &state) {
    RowCall(state, kWidth, true);
}
BENCHMARK(BM_RowCall_Span2)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_RowCall_FullRow)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_RowCall_Span2_Minimal)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_RowCall_FullRow_Minimal)->Unit(benchmark::kNanosecond);

// The simulator's MbufGet2d on its own, called directly (the copy of the simulator linked into this
// program): what the simulator adds to a row call.
void BM_SimGet2d_Span2(benchmark::State &state) {
    MilId app = 0, system = 0, buffer = 0;
    SimMappAlloc(0, &app);
    SimMsysAlloc("M_SYSTEM_SOLIOS", 0, 0, &system);
    SimMbufAlloc2d(system, kWidth, kHeight, 8, mil::kImageGrab, &buffer);
    if (buffer == 0) {
        state.SkipWithError("the simulator allocated no buffer");
    } else {
        unsigned char row[2];
        int r = 0;
        for (auto _ : state) {
            SimMbufGet2d(buffer, 0, r, 2, 1, row);
            benchmark::DoNotOptimize(row);
            if (++r == kHeight) r = 0;
        }
        state.SetItemsProcessed(state.iterations());
    }
    if (buffer != 0) SimMbufFree(buffer);
    if (system != 0) SimMsysFree(system);
    if (app != 0) SimMappFree(app);
}
BENCHMARK(BM_SimGet2d_Span2)->Unit(benchmark::kNanosecond);

// The grab loop: doCVLGrab -> callback -> every row -> next grab, frame time 0.
void BM_GrabLoop_Mono8(benchmark::State &state) {
    BenchHost host(CameraSetup{});
    if (!host.Ok()) {
        state.SkipWithError(host.Error().c_str());
        return;
    }
    std::vector<unsigned char> row(kWidth);
    for (auto _ : state) {
        if (!host.GrabAndWait() || !host.ReadAllRows(row.data())) {
            state.SkipWithError("grab or row failed");
            break;
        }
    }
    SetBytes(state, static_cast<size_t>(kWidth) * kHeight);
}
BENCHMARK(BM_GrabLoop_Mono8)->Unit(benchmark::kMillisecond)->UseRealTime();

// How the readout cost grows with the width (1000 rows), through the simulator and through the
// benchmark driver's plain copy, beside memcpy of the same rows; and the grab loop with the number of
// stacked frames.
void ReadoutWidth(benchmark::State &state, bool minimalBackend) {
    CameraSetup s;
    s.width = static_cast<int>(state.range(0));
    s.minimalBackend = minimalBackend;
    Readout(state, s);
}
void BM_ReadoutWidth_Mono8(benchmark::State &state) {
    ReadoutWidth(state, false);
}
void BM_ReadoutWidthMinimal_Mono8(benchmark::State &state) {
    ReadoutWidth(state, true);
}
void BM_MemcpyWidth_Mono8(benchmark::State &state) {
    MemcpyRows(state, 1, static_cast<size_t>(state.range(0)));
}
#define KC_WIDTHS ->Arg(256)->Arg(512)->Arg(1024)->Arg(2048)->Arg(4096)->Arg(8192)->Arg(16384)
BENCHMARK(BM_ReadoutWidth_Mono8) KC_WIDTHS->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ReadoutWidthMinimal_Mono8) KC_WIDTHS->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_MemcpyWidth_Mono8) KC_WIDTHS->Unit(benchmark::kMicrosecond)->UseRealTime();
#undef KC_WIDTHS

void BM_GrabLoopStack_Mono8(benchmark::State &state) {
    CameraSetup s;
    s.width = 2048;
    s.height = 1000;
    s.heightMultiplier = static_cast<int>(state.range(0));
    BenchHost host(s);
    if (!host.Ok()) {
        state.SkipWithError(host.Error().c_str());
        return;
    }
    std::vector<unsigned char> row(static_cast<size_t>(host.Width()));
    for (auto _ : state) {
        if (!host.GrabAndWait() || !host.ReadAllRows(row.data())) {
            state.SkipWithError("grab or row failed");
            break;
        }
    }
    SetBytes(state, static_cast<size_t>(host.Width()) * host.Rows());
}
BENCHMARK(BM_GrabLoopStack_Mono8)
    ->Arg(1)
    ->Arg(5)
    ->Arg(10)
    ->Arg(25)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
} // namespace kestcam::bench

// The results name the row kernels the driver runs (the same choice as the core linked here makes
// on this processor) and the threads OpenCV may use, since both decide what the ratios compare.
int main(int argc, char **argv) {
    benchmark::AddCustomContext("row_kernels", kestcam::UsableRowKernels().back().name);
    benchmark::AddCustomContext("opencv_threads", std::to_string(cv::getNumThreads()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
