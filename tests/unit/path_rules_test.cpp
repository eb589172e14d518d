// Path rules with both separators, and the logger's relative/absolute helpers on this platform.
#include <gtest/gtest.h>

#include <string>

#include "driver/logger.h"
#include "driver/path_rules.h"
#include "driver/platform_paths.h"

namespace kestcam {
namespace {

using paths::Append;
using paths::IsRelative;
using paths::RelativePathTo;

// Writes a path given with '/' in the separator under test.
std::string P(std::string path, char sep) {
    for (char &c : path)
        if (c == '/') c = sep;
    return path;
}

class PathRules : public ::testing::TestWithParam<char> {};

TEST_P(PathRules, RootedPathsAreAbsoluteAndBareNamesRelative) {
    const char s = GetParam();
    EXPECT_FALSE(IsRelative(P("/data/x.dcf", s), s));
    EXPECT_TRUE(IsRelative(P("dcf/cam.dcf", s), s));
    EXPECT_TRUE(IsRelative("cam.dcf", s));
    EXPECT_TRUE(IsRelative(P("../cam.dcf", s), s));
}

TEST_P(PathRules, AppendJoinsWithExactlyOneSeparator) {
    const char s = GetParam();
    EXPECT_EQ(*Append(P("/data", s), P("dcf/cam.dcf", s), s), P("/data/dcf/cam.dcf", s));
    EXPECT_EQ(*Append(P("/data/", s), "cam.dcf", s), P("/data/cam.dcf", s));
    EXPECT_EQ(*Append(P("/data", s), P("./cam.dcf", s), s), P("/data/cam.dcf", s));
}

TEST_P(PathRules, AppendRefusesResultsLongerThanThePathLimit) {
    const char s = GetParam();
    EXPECT_FALSE(Append(P("/data", s), std::string(300, 'a'), s).has_value());
}

TEST_P(PathRules, FileBelowTheDirectoryIsDotRelative) {
    const char s = GetParam();
    EXPECT_EQ(*RelativePathTo(P("/data", s), P("/data/dcf/cam.dcf", s), s), P("./dcf/cam.dcf", s));
    EXPECT_EQ(*RelativePathTo(P("/data", s), P("/data/cam.dcf", s), s), P("./cam.dcf", s));
}

TEST_P(PathRules, SiblingDirectoryStartsWithOneStepUp) {
    const char s = GetParam();
    EXPECT_EQ(*RelativePathTo(P("/data/sys", s), P("/data/other/cam.dcf", s), s), P("../other/cam.dcf", s));
}

TEST_P(PathRules, TwoLevelsUpNeedsTwoSteps) {
    const char s = GetParam();
    EXPECT_EQ(*RelativePathTo(P("/a/b/c", s), P("/a/cam.dcf", s), s), P("../../cam.dcf", s));
}

TEST_P(PathRules, RelativeOperandsHaveNoCommonRoot) {
    const char s = GetParam();
    EXPECT_FALSE(RelativePathTo("data", P("/data/cam.dcf", s), s).has_value());
}

INSTANTIATE_TEST_SUITE_P(BothSeparators, PathRules, ::testing::Values('\\', '/'),
                         [](const ::testing::TestParamInfo<char> &info) {
                             return info.param == '/' ? std::string("Slash") : std::string("Backslash");
                         });

TEST(PathRulesBackslash, DrivesAndUncAreAbsoluteAndDifferentDrivesHaveNoRelativePath) {
    EXPECT_FALSE(IsRelative("C:\\Data", '\\'));
    EXPECT_FALSE(IsRelative("c:cam.dcf", '\\'));
    EXPECT_FALSE(IsRelative("\\\\server\\share\\x", '\\'));
    EXPECT_FALSE(RelativePathTo("C:\\Data", "D:\\cam.dcf", '\\').has_value());
    // drive letters and names compare without regard to case, as the file system does
    EXPECT_EQ(*RelativePathTo("C:\\Data", "c:\\data\\cam.dcf", '\\'), ".\\cam.dcf");
}

TEST(PathRulesSlash, NamesCompareWithRegardToCase) {
    EXPECT_EQ(*RelativePathTo("/Data", "/data/cam.dcf", '/'), "../data/cam.dcf");
}

class LoggerPaths : public ::testing::Test {
protected:
    void SetUp() override { saved_ = Logger::Instance().SystemPath(); }
    void TearDown() override { Logger::Instance().SetSystemPath(saved_); }
    std::string saved_;
    const char s = platform_paths::Separator();
};

TEST_F(LoggerPaths, MakeAbsolutePathJoinsRelativeNamesAndKeepsAbsoluteOnes) {
    const std::string root = s == '\\' ? "C:" : "";
    Logger::Instance().SetSystemPath(root + P("/Data", s));
    EXPECT_EQ(Logger::Instance().MakeAbsolutePath(P("dcf/cam.dcf", s)), root + P("/Data/dcf/cam.dcf", s));
    EXPECT_EQ(Logger::Instance().MakeAbsolutePath(root + P("/elsewhere/x.dcf", s)), root + P("/elsewhere/x.dcf", s));
}

TEST_F(LoggerPaths, MakeRelativePathKeepsFilesTwoLevelsUpAbsolute) {
    const std::string root = s == '\\' ? "C:" : "";
    Logger::Instance().SetSystemPath(root + P("/a/b", s));
    EXPECT_EQ(Logger::Instance().MakeRelativePath(root + P("/a/b/x.dcf", s)), P("./x.dcf", s));
    EXPECT_EQ(Logger::Instance().MakeRelativePath(root + P("/a/c/x.dcf", s)), P("../c/x.dcf", s));
    EXPECT_EQ(Logger::Instance().MakeRelativePath(root + P("/x.dcf", s)), root + P("/x.dcf", s));
}

} // namespace
} // namespace kestcam
