// Logger rules: level filter, line-feed rule, stamp format, callback pairs, log file and held lines.
#include <gtest/gtest.h>

#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "driver/logger.h"
#include "driver/platform_paths.h"
#include "support/temp_dir.h"

namespace kestcam {
namespace {

std::vector<std::string> g_texts;

// The log file is written in text mode: lines end in the platform's line end.
std::string ReadLog(const std::string &file) {
    std::string text = test::TempDir::Read(file);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}
void KESTCAM_CDECL Capture(const char *text) { g_texts.emplace_back(text); }

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_texts.clear();
        Logger &log = Logger::Instance();
        savedPath_ = log.SystemPath();
        log.SetDebugMsgProc(&Capture);
        log.SetLogLevel(3);
        log.SetLogIntoFile(false);
        log.SetSystemPath(dir_.Str());
    }
    void TearDown() override {
        Logger &log = Logger::Instance();
        log.SetDebugMsgProc(nullptr);
        log.SetLogIntoFile(false);
        log.SetLogLevel(3);
        log.SetSystemPath(savedPath_);
    }
    std::string LogFile() const { return dir_.File("Kest.log"); }

    test::TempDir dir_;
    std::string savedPath_;
};

TEST_F(LoggerTest, MessageAboveTheLevelProducesNoCallback) {
    Logger::Instance().Print(4, "row %d\n", 7);
    EXPECT_TRUE(g_texts.empty());
}

TEST_F(LoggerTest, LevelZeroSilencesEvenErrors) {
    Logger::Instance().SetLogLevel(0);
    Logger::Instance().Print(1, "ERROR: x\n");
    EXPECT_TRUE(g_texts.empty());
}

TEST_F(LoggerTest, StampAndMessageArriveAsTwoCalls) {
    Logger::Instance().Print(1, "abc");
    ASSERT_EQ(g_texts.size(), 2u);
    // day/month/last digit of the year, then the time, a colon and a blank
    EXPECT_TRUE(std::regex_match(g_texts[0], std::regex(R"(\d\d/\d\d/0\d \d\d:\d\d:\d\d: )"))) << g_texts[0];
    EXPECT_EQ(g_texts[1], "abc\n");
}

TEST_F(LoggerTest, LineFeedIsNotDoubled) {
    Logger::Instance().Print(1, "done\n");
    ASSERT_EQ(g_texts.size(), 2u);
    EXPECT_EQ(g_texts[1], "done\n");
}

TEST_F(LoggerTest, MessagesOf1022And1023CharactersGetNoLineFeed) {
    const std::string m1021(1021, 'a'), m1022(1022, 'b'), m1023(1023, 'c');
    Logger::Instance().Print(1, "%s", m1021.c_str());
    Logger::Instance().Print(1, "%s", m1022.c_str());
    Logger::Instance().Print(1, "%s", m1023.c_str());
    ASSERT_EQ(g_texts.size(), 6u);
    EXPECT_EQ(g_texts[1], m1021 + "\n");
    EXPECT_EQ(g_texts[3], m1022);
    EXPECT_EQ(g_texts[5], m1023);
}

TEST_F(LoggerTest, EmptyMessageStaysEmpty) {
    Logger::Instance().Print(1, "%s", "");
    ASSERT_EQ(g_texts.size(), 2u);
    EXPECT_EQ(g_texts[1], "");
}

TEST_F(LoggerTest, OverlongMessageIsCutNeverOverflowing) {
    const std::string huge(100000, 'x');
    Logger::Instance().Print(1, "%s tail", huge.c_str());
    ASSERT_EQ(g_texts.size(), 2u);
    EXPECT_EQ(g_texts[1].size(), static_cast<size_t>(Logger::kMessageSize - 1));
    EXPECT_EQ(g_texts[1], std::string(Logger::kMessageSize - 1, 'x'));
}

TEST_F(LoggerTest, NullCallbackSkipsOutputButFileStillWritten) {
    Logger::Instance().SetDebugMsgProc(nullptr);
    Logger::Instance().SetLogIntoFile(true);
    Logger::Instance().Print(1, "to the file only");
    EXPECT_TRUE(g_texts.empty());
    EXPECT_EQ(ReadLog(LogFile()), "to the file only\n");
}

TEST_F(LoggerTest, LogFileHoldsMessagesWithoutStampsAndIsAppended) {
    dir_.Write("Kest.log", "earlier\n");
    Logger::Instance().SetLogIntoFile(true);
    Logger::Instance().Print(1, "one");
    Logger::Instance().Print(2, "two\n");
    Logger::Instance().Print(4, "filtered");
    EXPECT_EQ(ReadLog(LogFile()), "earlier\none\ntwo\n");
}

TEST_F(LoggerTest, LinesWithoutASystemPathAreHeldThenWrittenAheadOfTheNext) {
    Logger &log = Logger::Instance();
    log.SetSystemPath("");
    log.SetLogIntoFile(true);
    const size_t before = log.PendingLineCount();
    log.Print(1, "first");
    log.Print(1, "second");
    log.Print(1, "third");
    EXPECT_EQ(log.PendingLineCount(), before + 3);
    EXPECT_FALSE(std::filesystem::exists(LogFile()));

    log.SetSystemPath(dir_.Str());
    log.Print(1, "fourth");
    EXPECT_EQ(log.PendingLineCount(), 0u);
    const std::string text = ReadLog(LogFile());
    EXPECT_NE(text.find("first\nsecond\nthird\nfourth\n"), std::string::npos) << text;
}

TEST_F(LoggerTest, UnopenableLogFileLosesTheMessageButKeepsTheCallback) {
    Logger::Instance().SetSystemPath(dir_.File("no/such/dir"));
    Logger::Instance().SetLogIntoFile(true);
    Logger::Instance().Print(1, "lost");
    ASSERT_EQ(g_texts.size(), 2u);
    EXPECT_EQ(g_texts[1], "lost\n");
    EXPECT_EQ(Logger::Instance().PendingLineCount(), 0u);
}

std::mutex g_pairMutex;
std::vector<std::string> g_pairTexts;
void KESTCAM_CDECL CapturePairs(const char *text) {
    std::lock_guard<std::mutex> lock(g_pairMutex);
    g_pairTexts.emplace_back(text);
}

TEST_F(LoggerTest, ConcurrentPrintsKeepEachStampWithItsMessage) {
    g_pairTexts.clear();
    Logger::Instance().SetDebugMsgProc(&CapturePairs);
    constexpr int kThreads = 4, kEach = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) Logger::Instance().Print(1, "thread %d line %d", t, i);
        });
    for (auto &th : threads) th.join();
    ASSERT_EQ(g_pairTexts.size(), static_cast<size_t>(2 * kThreads * kEach));
    const std::regex stamp(R"(\d\d/\d\d/0\d \d\d:\d\d:\d\d: )");
    for (size_t i = 0; i < g_pairTexts.size(); i += 2) {
        ASSERT_TRUE(std::regex_match(g_pairTexts[i], stamp)) << i;
        ASSERT_EQ(g_pairTexts[i + 1].rfind("thread ", 0), 0u) << i;
    }
}

// A host callback that calls back into the driver (which logs) must not deadlock.
void KESTCAM_CDECL Reentrant(const char *text) {
    g_texts.emplace_back(text);
    if (g_texts.size() == 2) Logger::Instance().Print(1, "nested");
}

TEST_F(LoggerTest, CallbackMayLogAgainOnTheSameThread) {
    Logger::Instance().SetDebugMsgProc(&Reentrant);
    Logger::Instance().Print(1, "outer");
    ASSERT_EQ(g_texts.size(), 4u);
    EXPECT_EQ(g_texts[1], "outer\n");
    EXPECT_EQ(g_texts[3], "nested\n");
}

// Lines written under a lock of the driver go out, in order, when the thread releases its last
// one; each to the file as the switch stood when it was written.
TEST_F(LoggerTest, HeldLinesGoOutWhenTheLastLockIsReleasedToTheFileAsDecidedWhenWritten) {
    Logger &log = Logger::Instance();
    std::mutex outer, inner;
    {
        DriverLock<std::mutex> a(outer);
        log.Print(1, "first");
        log.SetLogIntoFile(true);
        {
            DriverLock<std::mutex> b(inner);
            log.Print(1, "second");
        }
        EXPECT_TRUE(g_texts.empty());
        a.unlock();
        EXPECT_EQ(g_texts.size(), 4u);
        a.lock();
        log.Print(1, "third");
        log.SetLogIntoFile(false);
    }
    log.Print(1, "fourth");
    ASSERT_EQ(g_texts.size(), 8u);
    EXPECT_EQ(g_texts[1] + g_texts[3] + g_texts[5] + g_texts[7], "first\nsecond\nthird\nfourth\n");
    EXPECT_EQ(ReadLog(LogFile()), "second\nthird\n");
}

TEST_F(LoggerTest, SettingsFileSitsInTheSystemPathWithOneSeparatorAdded) {
    const char sep = platform_paths::Separator();
    Logger::Instance().SetSystemPath("base");
    EXPECT_EQ(Logger::Instance().GetSettingsFilePath(), std::string("base") + sep + "Kest.ini");
    Logger::Instance().SetSystemPath(std::string("base") + sep);
    EXPECT_EQ(Logger::Instance().GetSettingsFilePath(), std::string("base") + sep + sep + "Kest.ini");
    Logger::Instance().SetSystemPath("");
    EXPECT_EQ(Logger::Instance().GetSettingsFilePath(), std::string(1, sep) + "Kest.ini");
}

} // namespace
} // namespace kestcam
