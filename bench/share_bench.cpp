// share_bench.cpp - frame sharing at full speed (2048 x 1000 from the simulator): grabs per second
// with sharing off, with a client that never reads and with one that keeps up (and the frames it is
// sent, also beside a host that reads its frames), the sharing path of one frame from completion to
// notice, and its yardstick: one readout of the frame plus one memcpy of it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/row_conversion.h"
#include "bench_host.h"
#include "driver/logger.h"
#include "share/share_client.h"

namespace kestcam::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 2048;
constexpr int kHeight = 1000;
constexpr size_t kFrameBytes = static_cast<size_t>(kWidth) * kHeight;

CameraSetup ShareSetup(bool shared) {
    CameraSetup s;
    s.width = kWidth;
    s.height = kHeight;
    if (shared) {
        static int serial = 0;
        s.shareName = "kcbench-" + std::to_string(Clock::now().time_since_epoch().count() % 1000000) + "-" +
                      std::to_string(serial++);
    }
    return s;
}

bool ConnectClient(ShareClient &client, const std::string &name, benchmark::State &state) {
    Logger::Instance().SetLogLevel(0);
    std::string error;
    if (client.Connect(name, 5000, error)) return true;
    state.SkipWithError(error.c_str());
    return false;
}

// A client thread that takes every notice and copies the frame, counting them.
class KeepingUpClient {
public:
    explicit KeepingUpClient(ShareClient &client) : client_(client), frame_(client.FrameBytes()) {
        thread_ = std::thread([this] {
            while (!done_) {
                if (client_.WaitForFrame(50) != ShareClient::Wait::Frame) continue;
                const Clock::time_point noticed = Clock::now();
                client_.CopyFrame(frame_.data(), frame_.size());
                std::lock_guard<std::mutex> lock(mutex_);
                ++frames_;
                noticed_ = noticed;
                changed_.notify_all();
            }
        });
    }
    ~KeepingUpClient() {
        done_ = true;
        thread_.join();
    }
    long Frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    // Waits for frame number n; the moment its notice arrived, or nothing after the bound.
    bool WaitFor(long n, Clock::time_point &noticed) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] { return frames_ >= n; })) return false;
        noticed = noticed_;
        return true;
    }

private:
    ShareClient &client_;
    std::vector<unsigned char> frame_;
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    long frames_ = 0;
    Clock::time_point noticed_;
    std::thread thread_;
};

// The host grabs at full speed: doCVLGrab -> callback -> next doCVLGrab.
void GrabLoop(benchmark::State &state, BenchHost &host) {
    for (auto _ : state) {
        if (!host.GrabAndWait()) {
            state.SkipWithError("a grab did not complete");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}

// Every row of the frame through getCVLGrabRow into frame; false, with the benchmark ended, on a refusal.
bool ReadFrame(benchmark::State &state, BenchHost &host, std::vector<unsigned char> &frame) {
    for (int r = 0; r < kHeight; ++r)
        if (!host.ReadRow(frame.data() + static_cast<size_t>(r) * kWidth, r, 0, kWidth - 1)) {
            state.SkipWithError("a row was refused");
            return false;
        }
    return true;
}

// The frames sent to the client since `before`, per second of the loop.
void CountAnnounced(benchmark::State &state, KeepingUpClient &reader, long before) {
    state.counters["announced"] =
        benchmark::Counter(static_cast<double>(reader.Frames() - before), benchmark::Counter::kIsRate);
}

void BM_Share_GrabLoop_Off(benchmark::State &state) {
    BenchHost host(ShareSetup(false));
    if (!host.Ok()) return state.SkipWithError(host.Error().c_str());
    GrabLoop(state, host);
}
BENCHMARK(BM_Share_GrabLoop_Off)->Unit(benchmark::kMillisecond)->UseRealTime();

// A client that connects, asks for the dimensions and then reads nothing. Its pipe holds a few
// hundred notices, each with a frame copied for it; those grabs come first, untimed, so the loop
// measures what such a client costs from then on, when the server no longer sends it frames. They
// are spaced a millisecond apart: at full speed a grab lands in nearly every copy of the server,
// which then drops the frame and announces nothing, and the pipe would not fill.
void BM_Share_GrabLoop_ClientNeverReads(benchmark::State &state) {
    const CameraSetup setup = ShareSetup(true);
    BenchHost host(setup);
    if (!host.Ok()) return state.SkipWithError(host.Error().c_str());
    ShareClient client;
    if (!ConnectClient(client, setup.shareName, state)) return;
    for (int n = 0; n < 600; ++n) {
        if (!host.GrabAndWait()) return state.SkipWithError("a grab did not complete");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    GrabLoop(state, host);
}
BENCHMARK(BM_Share_GrabLoop_ClientNeverReads)->Unit(benchmark::kMillisecond)->UseRealTime();

// A client that keeps up; "announced" counts the frames it was sent per second of the loop. With
// hostReads the host reads every row of each frame before it asks for the next, as a host does.
void KeepingUpLoop(benchmark::State &state, bool hostReads) {
    const CameraSetup setup = ShareSetup(true);
    BenchHost host(setup);
    if (!host.Ok()) return state.SkipWithError(host.Error().c_str());
    ShareClient client;
    if (!ConnectClient(client, setup.shareName, state)) return;
    KeepingUpClient reader(client);
    std::vector<unsigned char> frame(hostReads ? kFrameBytes : 0);
    const long before = reader.Frames();
    for (auto _ : state) {
        if (!host.GrabAndWait()) return state.SkipWithError("a grab did not complete");
        if (hostReads && !ReadFrame(state, host, frame)) return;
    }
    state.SetItemsProcessed(state.iterations());
    CountAnnounced(state, reader, before);
}

// The host asks for the next grab as soon as one completes, so a frame is shared only if the server
// copies it whole before that grab begins.
void BM_Share_GrabLoop_ClientKeepsUp(benchmark::State &state) {
    KeepingUpLoop(state, false);
}
BENCHMARK(BM_Share_GrabLoop_ClientKeepsUp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Share_GrabReadLoop_ClientKeepsUp(benchmark::State &state) {
    KeepingUpLoop(state, true);
}
BENCHMARK(BM_Share_GrabReadLoop_ClientKeepsUp)->Unit(benchmark::kMillisecond)->UseRealTime();

// One frame through the sharing path: from the host's completion callback (the frame notice to the
// server follows it at once) to the notice at the client. The host waits for it before the next
// grab, so every frame is shared.
void BM_Share_FramePath(benchmark::State &state) {
    const CameraSetup setup = ShareSetup(true);
    BenchHost host(setup);
    if (!host.Ok()) return state.SkipWithError(host.Error().c_str());
    ShareClient client;
    if (!ConnectClient(client, setup.shareName, state)) return;
    KeepingUpClient reader(client);
    long expected = reader.Frames();
    for (auto _ : state) {
        Clock::time_point completed;
        Clock::time_point noticed;
        if (!host.GrabAndWait(&completed) || !reader.WaitFor(++expected, noticed)) {
            state.SkipWithError("a frame was not shared");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(noticed - completed).count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}
BENCHMARK(BM_Share_FramePath)->Unit(benchmark::kMillisecond)->UseManualTime();

// The yardstick: every row of the frame through getCVLGrabRow into a frame buffer, then one memcpy
// of the frame.
void BM_Share_ReadoutPlusMemcpy(benchmark::State &state) {
    BenchHost host(ShareSetup(false));
    if (!host.Ok()) return state.SkipWithError(host.Error().c_str());
    std::vector<unsigned char> frame(kFrameBytes);
    RowVector<unsigned char> segment(kFrameBytes); // on a cache line, as the mapped segment is
    for (auto _ : state) {
        if (!ReadFrame(state, host, frame)) return;
        std::memcpy(segment.data(), frame.data(), kFrameBytes);
        benchmark::DoNotOptimize(segment.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}
BENCHMARK(BM_Share_ReadoutPlusMemcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Share_Memcpy(benchmark::State &state) {
    std::vector<unsigned char> from(kFrameBytes, 1);
    std::vector<unsigned char> to(kFrameBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kFrameBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}
BENCHMARK(BM_Share_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace kestcam::bench
