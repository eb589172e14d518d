// Atomic file replacement on POSIX: what a rename would otherwise lose (mode, symbolic links).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "os/file_replace.h"
#include "support/temp_dir.h"

namespace kestcam::os {
namespace {

namespace fs = std::filesystem;

TEST(FileReplaceTest, ReplacedFileKeepsItsPermissions) {
    test::TempDir dir;
    std::string file = dir.Write("f", "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_FALSE(ReplaceFileContents(file, "new"));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(FileReplaceTest, SymbolicLinkStaysAndItsTargetIsReplaced) {
    test::TempDir dir;
    fs::create_directory(dir.Path() / "real");
    std::string target = (dir.Path() / "real" / "Kest.ini").string();
    std::ofstream(target) << "old";
    fs::create_symlink(target, dir.Path() / "Kest.ini");
    ASSERT_FALSE(ReplaceFileContents(dir.File("Kest.ini"), "new"));
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "Kest.ini"));
    EXPECT_EQ(test::TempDir::Read(target), "new");
}

} // namespace
} // namespace kestcam::os
