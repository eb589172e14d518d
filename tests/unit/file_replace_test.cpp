// Atomic file replacement: whole new content or the old file untouched, no temporary left over.
#include <gtest/gtest.h>

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

} // namespace
} // namespace kestcam::os
