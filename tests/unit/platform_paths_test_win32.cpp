// The logger's path helpers on Windows, answered by the shell's own path functions (shlwapi), and
// the portable rules the POSIX build uses held against those same functions.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "driver/logger.h"
#include "driver/path_rules.h"
#include "driver/platform_paths.h"
#include "support/temp_dir.h"

namespace kestcam {
namespace {

class WindowsPaths : public ::testing::Test {
protected:
    void SetUp() override { saved_ = Logger::Instance().SystemPath(); }
    void TearDown() override { Logger::Instance().SetSystemPath(saved_); }
    Logger &Log() { return Logger::Instance(); }
    std::string saved_;
};

TEST_F(WindowsPaths, SettingsAndLogFilesSitInTheSystemPathBehindOneBackslash) {
    Log().SetSystemPath("C:\\Data");
    EXPECT_EQ(Log().GetSettingsFilePath(), "C:\\Data\\Kest.ini");
    EXPECT_EQ(Log().GetLogFilePath(), "C:\\Data\\Kest.log");
}

TEST_F(WindowsPaths, SeparatorIsAddedEvenAfterATrailingBackslash) {
    Log().SetSystemPath("C:\\Data\\");
    EXPECT_EQ(Log().GetSettingsFilePath(), "C:\\Data\\\\Kest.ini");
    // ...but a relative path is still relative to that directory, never rooted at the drive.
    EXPECT_EQ(Log().MakeRelativePath("C:\\Data\\cam.dcf"), ".\\cam.dcf");
}

TEST_F(WindowsPaths, MakeAbsolutePathJoinsARelativeNameWithOneBackslash) {
    Log().SetSystemPath("C:\\Data");
    EXPECT_EQ(Log().MakeAbsolutePath("dcf\\cam.dcf"), "C:\\Data\\dcf\\cam.dcf");
    Log().SetSystemPath("C:\\Data\\");
    EXPECT_EQ(Log().MakeAbsolutePath("cam.dcf"), "C:\\Data\\cam.dcf");
}

TEST_F(WindowsPaths, MakeAbsolutePathKeepsDrivesRootedAndUncPaths) {
    Log().SetSystemPath("C:\\Data");
    EXPECT_EQ(Log().MakeAbsolutePath("D:\\cams\\cam.dcf"), "D:\\cams\\cam.dcf");
    EXPECT_EQ(Log().MakeAbsolutePath("\\cams\\cam.dcf"), "\\cams\\cam.dcf");
    EXPECT_EQ(Log().MakeAbsolutePath("\\\\server\\share\\cam.dcf"), "\\\\server\\share\\cam.dcf");
}

TEST_F(WindowsPaths, MakeAbsolutePathLeavesANameUnchangedWhenTheJoinExceedsThePathLimit) {
    Log().SetSystemPath("C:\\" + std::string(200, 'd'));
    const std::string name = std::string(100, 'n') + ".dcf";
    EXPECT_EQ(Log().MakeAbsolutePath(name), name);
}

TEST_F(WindowsPaths, MakeRelativePathGivesDotForAFileInOrBelowTheSystemPath) {
    Log().SetSystemPath("C:\\Data");
    EXPECT_EQ(Log().MakeRelativePath("C:\\Data\\cam.dcf"), ".\\cam.dcf");
    EXPECT_EQ(Log().MakeRelativePath("C:\\Data\\dcf\\cam.dcf"), ".\\dcf\\cam.dcf");
}

TEST_F(WindowsPaths, MakeRelativePathStepsUpOnceForASiblingDirectory) {
    Log().SetSystemPath("C:\\Data\\sys");
    EXPECT_EQ(Log().MakeRelativePath("C:\\Data\\other\\cam.dcf"), "..\\other\\cam.dcf");
    EXPECT_EQ(Log().MakeRelativePath("C:\\Data\\cam.dcf"), "..\\cam.dcf");
}

TEST_F(WindowsPaths, MakeRelativePathKeepsTwoLevelsUpAndOtherDrivesAbsolute) {
    Log().SetSystemPath("C:\\a\\b\\c");
    EXPECT_EQ(Log().MakeRelativePath("C:\\a\\cam.dcf"), "C:\\a\\cam.dcf");
    EXPECT_EQ(Log().MakeRelativePath("C:\\cam.dcf"), "C:\\cam.dcf");
    EXPECT_EQ(Log().MakeRelativePath("D:\\a\\b\\c\\cam.dcf"), "D:\\a\\b\\c\\cam.dcf");
}

// The POSIX build answers with the portable rules; on the same inputs they must agree with shlwapi,
// or a settings file would store different DCF paths on the two platforms.
struct PathCase {
    const char *name;
    const char *dir;
    const char *file;
};

void PrintTo(const PathCase &c, std::ostream *os) {
    *os << c.dir << " | " << c.file;
}

class PortableRulesMatchShlwapi : public ::testing::TestWithParam<PathCase> {};

TEST_P(PortableRulesMatchShlwapi, RelativePathTo) {
    const PathCase c = GetParam();
    EXPECT_EQ(paths::RelativePathTo(c.dir, c.file, '\\'), platform_paths::RelativePathTo(c.dir, c.file))
        << c.dir << " -> " << c.file;
}

TEST_P(PortableRulesMatchShlwapi, IsRelativeAndAppend) {
    const PathCase c = GetParam();
    EXPECT_EQ(paths::IsRelative(c.file, '\\'), platform_paths::IsRelative(c.file)) << c.file;
    if (platform_paths::IsRelative(c.file)) {
        EXPECT_EQ(paths::Append(c.dir, c.file, '\\'), platform_paths::Append(c.dir, c.file))
            << c.dir << " + " << c.file;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortableRulesMatchShlwapi,
    ::testing::Values(PathCase{"FileInTheDirectory", "C:\\Data", "C:\\Data\\cam.dcf"},
                      PathCase{"FileBelow", "C:\\Data", "C:\\Data\\dcf\\cam.dcf"},
                      PathCase{"SiblingDirectory", "C:\\Data\\sys", "C:\\Data\\other\\cam.dcf"},
                      PathCase{"TwoLevelsUp", "C:\\a\\b\\c", "C:\\a\\cam.dcf"},
                      PathCase{"OtherDrive", "C:\\Data", "D:\\cam.dcf"},
                      PathCase{"OtherCase", "C:\\Data", "c:\\data\\cam.dcf"},
                      PathCase{"TrailingBackslash", "C:\\Data\\", "C:\\Data\\cam.dcf"},
                      PathCase{"DriveRoot", "C:\\", "C:\\Data\\cam.dcf"},
                      PathCase{"RelativeName", "C:\\Data", "dcf\\cam.dcf"},
                      PathCase{"DotRelativeName", "C:\\Data", ".\\cam.dcf"},
                      PathCase{"RootedName", "C:\\Data", "\\cams\\cam.dcf"}),
    [](const ::testing::TestParamInfo<PathCase> &info) { return std::string(info.param.name); });

TEST(WindowsLogFile, LogFileIsKestLogInTheSystemPath) {
    test::TempDir dir;
    Logger &log = Logger::Instance();
    const std::string savedPath = log.SystemPath();
    log.SetSystemPath(dir.Str());
    log.SetLogIntoFile(true);
    log.Print(1, "to the file\n");
    log.SetLogIntoFile(false);
    log.SetSystemPath(savedPath);
    // Text mode: the line ends as text files end on Windows.
    EXPECT_EQ(test::TempDir::Read(dir.Str() + "\\Kest.log"), "to the file\r\n");
}

} // namespace
} // namespace kestcam
