// Atomic file replacement: whole new content or the old file untouched, no temporary left over.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "os/file_replace.h"
#include "support/temp_dir.h"

namespace kestcam::os {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Entries(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(FileReplaceTest, ReplacedFileHoldsExactlyTheNewBytes) {
    test::TempDir dir;
    std::string file = dir.Write("f", std::string(1000, 'o'));
    std::string data("a\r\nb\0c\n", 7);
    ASSERT_FALSE(ReplaceFileContents(file, data));
    EXPECT_EQ(test::TempDir::Read(file), data);
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"f"});
}

TEST(FileReplaceTest, FailedReplaceLeavesTheTargetAndNoTemporary) {
    test::TempDir dir;
    fs::create_directory(dir.Path() / "f");
    EXPECT_TRUE(ReplaceFileContents(dir.File("f"), "data"));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "f"));
    EXPECT_TRUE(ReplaceFileContents((dir.Path() / "missing" / "f").string(), "data"));
    EXPECT_TRUE(ReplaceFileContents("", "data"));
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"f"});
}

TEST(FileReplaceTest, ReplaceRemovesTemporariesOfEndedProcessesOnly) {
    test::TempDir dir;
    std::string file = dir.Write("Kest.ini", "old");
    // No process has this id: the file is what a save killed half-way leaves behind.
    dir.Write("Kest.ini.tmp.2147483644.3", "half");
    dir.Write("Kest.ini.tmp.notapid.0", "keep");
    dir.Write("Other.ini.tmp.2147483644.0", "keep");
    ASSERT_FALSE(ReplaceFileContents(file, "new"));
    std::vector<std::string> names = Entries(dir.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"Kest.ini", "Kest.ini.tmp.notapid.0", "Other.ini.tmp.2147483644.0"}));
}

} // namespace
} // namespace kestcam::os
