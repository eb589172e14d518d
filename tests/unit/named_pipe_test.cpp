// The sharing pipe's disconnect on every platform: what the server wrote before it disconnects
// reaches a client that reads it meanwhile (a reply, the last notice), and a client that reads
// nothing does not keep the server waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "share/named_pipe.h"
#include "share/win32_exception.h"

namespace kestcam {
namespace {

constexpr int kBoundMs = 30000;

std::string UniqueName() {
    static std::atomic<int> counter{0};
    return "kcflush-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007) +
           "-" + std::to_string(counter++);
}

class NamedPipeDisconnect : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Create(name_);
        server_.Listen();
        share::Waitable connected = server_.Connect();
        client_.Open(name_);
        ASSERT_EQ(share::WaitForAny(&connected, 1, kBoundMs), 0);
        ASSERT_TRUE(server_.FinishConnect());
        for (const char *text : {"dimensions.", "frame-ready"}) {
            share::Waitable written = server_.Write(text, 12);
            while (server_.IsWritePending())
                ASSERT_EQ(share::WaitForAny(&written, 1, kBoundMs), 0);
        }
    }
    // The client's next message: its text, or "(gone)" when the server has disconnected.
    std::string Take() {
        char buffer[12] = {};
        try {
            share::Waitable ready = client_.Read(buffer, sizeof buffer);
            int bytes = 0;
            do {
                if (share::WaitForAny(&ready, 1, kBoundMs) != 0) return "(nothing)";
            } while (!client_.FinishRead(bytes));
            return std::string(buffer, bytes > 0 ? static_cast<size_t>(bytes) - 1 : 0);
        } catch (const Win32Exception &e) {
            return e.IsPeerGone() ? "(gone)" : e.what();
        }
    }

    const std::string name_ = UniqueName();
    CNamedPipe server_;
    CNamedPipe client_;
};

TEST_F(NamedPipeDisconnect, WhatTheClientTakesMeanwhileReachesItAndThenTheEnd) {
    // A bound long enough for a loaded machine: the client reads once the disconnect has begun.
    server_.SetFlushBound(kBoundMs);
    std::promise<void> ended;
    std::future<void> done = ended.get_future();
    std::thread disconnect([&] {
        server_.Disconnect();
        ended.set_value();
    });
    // Where disconnecting would discard unread messages, the server now waits for the client; where
    // it keeps them (POSIX), the disconnect is over at once.
    done.wait_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Take(), "dimensions.");
    EXPECT_EQ(Take(), "frame-ready");
    EXPECT_EQ(Take(), "(gone)");
    disconnect.join();
}

TEST_F(NamedPipeDisconnect, AClientThatReadsNothingDoesNotKeepItWaiting) {
    auto disconnected = std::async(std::launch::async, [this] { server_.Disconnect(); });
    EXPECT_EQ(disconnected.wait_for(std::chrono::milliseconds(kBoundMs)), std::future_status::ready);
    EXPECT_FALSE(server_.IsConnected());
}

} // namespace
} // namespace kestcam
