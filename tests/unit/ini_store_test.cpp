// INI store: private-profile look-up rules, writes that keep everything else, atomic file
// replacement, and input that is not an INI file at all.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "os/file_replace.h"
#include "settings/ini_store.h"
#include "support/temp_dir.h"

namespace kestcam::ini {
namespace {

namespace fs = std::filesystem;

std::string Nl() {
    return os::NativeLineEnd();
}

// ---- look-up rules -------------------------------------------------------------------------

TEST(IniDocumentTest, NamesMatchWithoutRegardToCaseAndBlanksAreTrimmed) {
    IniDocument doc = IniDocument::Parse("  [  Camera 1 ]  \n\t GrabTimeout \t=  some value \t\x1a\n");
    EXPECT_EQ(doc.Get("CAMERA 1", "grabtimeout"), "some value");
    EXPECT_EQ(doc.Get("  camera 1\t", " GRABTIMEOUT "), "some value");
}

TEST(IniDocumentTest, MissingAnswersNothingAndPresentButEmptyAnswersEmpty) {
    IniDocument doc = IniDocument::Parse("[A]\nx=\ny=   \n");
    EXPECT_FALSE(doc.Get("B", "x").has_value());
    EXPECT_FALSE(doc.Get("A", "z").has_value());
    EXPECT_FALSE(doc.Get("", "x").has_value());
    EXPECT_EQ(doc.Get("A", "x"), "");
    EXPECT_EQ(doc.Get("A", "y"), "");
}

TEST(IniDocumentTest, FirstOccurrenceOfARepeatedKeyAnswersAndIsTheOneReplaced) {
    IniDocument doc = IniDocument::Parse("[A]\nx=first\nX=second\n");
    EXPECT_EQ(doc.Get("A", "x"), "first");
    ASSERT_TRUE(doc.Set("A", "x", "new"));
    EXPECT_EQ(doc.Serialize(), "[A]\nx=new\nX=second\n");
}

TEST(IniDocumentTest, FirstSectionOfARepeatedNameIsTheOnlyOneConsulted) {
    IniDocument doc = IniDocument::Parse("[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n");
    EXPECT_FALSE(doc.Get("A", "z").has_value());
    ASSERT_TRUE(doc.Set("A", "z", "4"));
    EXPECT_EQ(doc.Serialize(), "[A]\nx=1\nz=4\n[B]\ny=2\n[a]\nz=3\n");
}

TEST(IniDocumentTest, CommentsOrphansAndLinesWithoutEqualsAnswerNothing) {
    IniDocument doc = IniDocument::Parse("x=orphan\n[A]\n; x=commented\n\nloose words\n=no key\nx = a=b ; kept\n");
    EXPECT_EQ(doc.Get("A", "x"), "a=b ; kept");
    EXPECT_FALSE(doc.Get("A", "loose words").has_value());
    EXPECT_EQ(doc.KeyNames("A"), std::vector<std::string>{"x"});
}

TEST(IniDocumentTest, OnePairOfMatchingQuotesIsRemovedFromAValue) {
    IniDocument doc = IniDocument::Parse("[A]\npath=\"C:\\My Files\\cam.dcf\"\nsingle='x'\nmixed=\"x'\n"
                                         "lone=\"\nempty=\"\"\nnested=\"\"x\"\"\n");
    EXPECT_EQ(doc.Get("A", "path"), "C:\\My Files\\cam.dcf");
    EXPECT_EQ(doc.Get("A", "single"), "x");
    EXPECT_EQ(doc.Get("A", "mixed"), "\"x'");
    EXPECT_EQ(doc.Get("A", "lone"), "\"");
    EXPECT_EQ(doc.Get("A", "empty"), "");
    EXPECT_EQ(doc.Get("A", "nested"), "\"x\"");
}

// A value in matching quotes of its own reads back whole, from the document and from its text.
TEST(IniDocumentTest, AValueInQuotesOfItsOwnReadsBackAsSet) {
    for (const std::string value : {"\"x\"", "'x'", "\"\"", "\"\"\"\"\"\"\"", "\"x'", "\"a", "plain"}) {
        IniDocument doc;
        ASSERT_TRUE(doc.Set("A", "k", value)) << value;
        EXPECT_EQ(doc.Get("A", "k"), value);
        EXPECT_EQ(IniDocument::Parse(doc.Serialize()).Get("A", "k"), value) << doc.Serialize();
        ASSERT_TRUE(doc.Set("A", "k", value)); // the existing key, rewritten
        EXPECT_EQ(IniDocument::Parse(doc.Serialize()).Get("A", "k"), value) << doc.Serialize();
    }
}

TEST(IniDocumentTest, HeaderRulesBracketsAndByteOrderMark) {
    IniDocument doc = IniDocument::Parse("\xEF\xBB\xBF[A]\n[broken\nx=1\n");
    EXPECT_EQ(doc.Get("A", "x"), "1"); // a header without ']' does not end the section
    EXPECT_FALSE(doc.HasSection("broken"));
    ASSERT_TRUE(doc.Set("a]b", "y", "2")); // the name runs to the last ']'
    IniDocument reread = IniDocument::Parse(doc.Serialize());
    EXPECT_EQ(reread.Get("a]b", "y"), "2");
    EXPECT_EQ(doc.Serialize().substr(0, 3), "\xEF\xBB\xBF");
}

TEST(IniDocumentTest, SectionAndKeyNamesAreListedOnceInFileOrder) {
    IniDocument doc = IniDocument::Parse("[B]\nk=1\nK=2\nj=3\n[A]\n[b]\nz=9\n");
    EXPECT_EQ(doc.SectionNames(), (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(doc.KeyNames("b"), (std::vector<std::string>{"k", "j"}));
}

// ---- writing -------------------------------------------------------------------------------

TEST(IniDocumentTest, WriteChangesOnlyTheLineOfTheKeyAndKeepsItsSpelling) {
    std::string text = "; Kest settings\r\n[Camera 1]\r\n  grabtimeout = 6000  \r\n; a note\r\nWidth=8160\r\n"
                       "junk without equals\r\n\r\n[Camera 2]\r\nGrabTimeout=7000\r\n";
    IniDocument doc = IniDocument::Parse(text);
    ASSERT_TRUE(doc.Set("CAMERA 1", "GrabTimeout", "100"));
    std::string expected = text;
    expected.replace(expected.find("  grabtimeout = 6000  "), 22, "grabtimeout=100");
    EXPECT_EQ(doc.Serialize(), expected);
}

TEST(IniDocumentTest, NewKeyGoesAfterTheLastKeyOfItsSection) {
    IniDocument doc = IniDocument::Parse("[A]\nx=1\n; trailing note\n\n; about B\n[B]\n[C]\n");
    ASSERT_TRUE(doc.Set("a", "z", "3"));
    ASSERT_TRUE(doc.Set("B", "y", "2"));
    EXPECT_EQ(doc.Serialize(), "[A]\nx=1\nz=3\n; trailing note\n\n; about B\n[B]\ny=2\n[C]\n");
}

TEST(IniDocumentTest, NewSectionIsAppendedWithTheLineEndOfTheText) {
    IniDocument lf = IniDocument::Parse("[A]\nx=1");
    ASSERT_TRUE(lf.Set("B", "y", "2"));
    EXPECT_EQ(lf.Serialize(), "[A]\nx=1\n\n[B]\ny=2\n");
    IniDocument crlf = IniDocument::Parse("[A]\r\n");
    ASSERT_TRUE(crlf.Set("A", "y", "2"));
    EXPECT_EQ(crlf.Serialize(), "[A]\r\ny=2\r\n");
    IniDocument empty = IniDocument::Parse("");
    ASSERT_TRUE(empty.Set("Camera 1", "Width", "2048"));
    EXPECT_EQ(empty.Serialize(), "[Camera 1]" + Nl() + "Width=2048" + Nl());
}

TEST(IniDocumentTest, ValueIsStoredOnlyUpToItsFirstLineBreak) {
    IniDocument doc;
    ASSERT_TRUE(doc.Set("A", "name", "cam\r\n[Camera 2]\nGrabTimeout=1"));
    IniDocument reread = IniDocument::Parse(doc.Serialize());
    EXPECT_EQ(reread.Get("A", "name"), "cam");
    EXPECT_FALSE(reread.HasSection("Camera 2"));

    // Blanks before the break go too: the file holds what a read answers, so saving what was read
    // writes the same text again.
    ASSERT_TRUE(doc.Set("A", "mode", "ExSync level \r\0garbage"));
    const std::string text = doc.Serialize();
    EXPECT_NE(text.find("mode=ExSync level"), std::string::npos) << text;
    EXPECT_EQ(text.find("ExSync level "), std::string::npos) << text;
}

TEST(IniDocumentTest, NamesTheFormatCannotHoldAreRefusedWithoutChange) {
    std::string text = "[A]\nx=1\n";
    IniDocument doc = IniDocument::Parse(text);
    for (const char *key : {"", "   ", "a=b", ";k", "[k", "k\nx"})
        EXPECT_FALSE(doc.Set("A", key, "v")) << key;
    EXPECT_FALSE(doc.Set("", "k", "v"));
    EXPECT_FALSE(doc.Set("A\n[B]", "k", "v"));
    EXPECT_FALSE(doc.Set("A", "k", std::string(kMaxLineLength, 'v')));
    EXPECT_EQ(doc.Serialize(), text);
}

// ---- input that is not an INI file ---------------------------------------------------------

TEST(IniDocumentTest, OverlongLineAnswersNothingButIsWrittenBack) {
    std::string text = "[A]\nx=" + std::string(1 << 20, 'v') + "\ny=1\n";
    IniDocument doc = IniDocument::Parse(text);
    EXPECT_FALSE(doc.Get("A", "x").has_value());
    EXPECT_EQ(doc.Get("A", "y"), "1");
    ASSERT_TRUE(doc.Set("A", "z", "2"));
    EXPECT_EQ(doc.Serialize(), text + "z=2\n");
}

TEST(IniDocumentTest, OverlongHeaderEndsTheSectionBeforeIt) {
    IniDocument doc = IniDocument::Parse("[A]\nx=1\n[" + std::string(kMaxLineLength, 'h') + "]\ny=2\n");
    EXPECT_EQ(doc.Get("A", "x"), "1");
    EXPECT_FALSE(doc.Get("A", "y").has_value());
}

// Random bytes: parsing, writing and reading back must hold their rules on any input.
TEST(IniDocumentTest, RandomBytesKeepTheWriteAndReadRules) {
    std::mt19937 rng(20240611);
    const std::string alphabet = std::string("[]=;\r\n \t\"'\0\x1a\xEF\xBB\xBF", 15) + "abcAB";
    for (int round = 0; round < 300; ++round) {
        std::string text;
        size_t length = rng() % 400;
        for (size_t i = 0; i < length; ++i)
            text += (rng() % 2) ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() & 0xff);
        IniDocument doc = IniDocument::Parse(text);
        std::string once = doc.Serialize();
        ASSERT_EQ(IniDocument::Parse(once).Serialize(), once) << "round " << round;

        std::vector<std::string> sections = doc.SectionNames();
        std::string section = sections.empty() ? "S" : sections[rng() % sections.size()];
        if (!doc.Set(section, "key", "value")) continue; // a garbage name the format cannot hold
        IniDocument reread = IniDocument::Parse(doc.Serialize());
        EXPECT_EQ(reread.Get(section, "key"), "value") << "round " << round;
        for (const std::string &other : sections) {
            if (other == section) continue;
            for (const std::string &key : doc.KeyNames(other))
                EXPECT_EQ(reread.Get(other, key), doc.Get(other, key)) << "round " << round;
        }
    }
}

// ---- integer read --------------------------------------------------------------------------

struct IntCase {
    const char *text;
    int expected;
};
void PrintTo(const IntCase &c, std::ostream *os) {
    *os << '"' << c.text << "\" -> " << c.expected;
}

class IniProfileIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(IniProfileIntTest, ConvertsThePresentValue) {
    EXPECT_EQ(ProfileIntFromText(GetParam().text, 77), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Ini, IniProfileIntTest,
                         ::testing::Values(IntCase{"123", 123}, IntCase{"-42", -42}, IntCase{"+7", 7},
                                           IntCase{" 5 ", 5}, IntCase{"0x1F", 31}, IntCase{"0X1f", 0},
                                           IntCase{"0o17", 15}, IntCase{"0b101", 5}, IntCase{"0b2", 0},
                                           IntCase{"-0x10", -16}, IntCase{"12abc", 12}, IntCase{"abc", 0},
                                           IntCase{"-", 0}, IntCase{"0x", 0}, IntCase{"0xg", 0}, IntCase{"1.9", 1},
                                           IntCase{"", 77}, IntCase{"   ", 77}, IntCase{"2147483647", INT_MAX},
                                           IntCase{"-2147483648", INT_MIN}, IntCase{"2147483648", INT_MAX},
                                           IntCase{"99999999999999999999", INT_MAX},
                                           IntCase{"-99999999999", INT_MIN}, IntCase{"0xFFFFFFFFFF", INT_MAX}),
                         [](const ::testing::TestParamInfo<IntCase> &info) {
                             // "Text3_0x1F": the index keeps texts that differ only in blanks apart.
                             std::string name = "Text" + std::to_string(info.index) + "_";
                             for (const char *c = info.param.text; *c != '\0'; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

// ---- files ---------------------------------------------------------------------------------

class IniFileTest : public ::testing::Test {
protected:
    std::vector<std::string> DirectoryEntries() const {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_.Path()))
            names.push_back(entry.path().filename().string());
        return names;
    }
    test::TempDir dir_;
};

TEST_F(IniFileTest, AbsentFileOrEmptyValueGivesTheDefault) {
    std::string file = dir_.File("Kest.ini");
    EXPECT_EQ(GetString(file, "Camera 1", "DCF_FILE", "M_DEFAULT"), "M_DEFAULT");
    EXPECT_EQ(GetInt(file, "Camera 1", "GrabTimeout", 6000), 6000);
    EXPECT_FALSE(fs::exists(file));
    dir_.Write("Kest.ini", "[A]\nx=\ny=\"\"\nz=abc\n");
    EXPECT_EQ(GetInt(file, "A", "x", 5), 5);
    EXPECT_EQ(GetInt(file, "A", "y", 5), 5);
    EXPECT_EQ(GetInt(file, "A", "z", 5), 0);
}

TEST_F(IniFileTest, WriteCreatesTheFileLastWriteWinsAndNoTemporaryStays) {
    std::string file = dir_.File("Kest.ini");
    ASSERT_TRUE(WriteString(file, "Camera 1", "GrabTimeout", "100"));
    ASSERT_TRUE(WriteString(file, "camera 1", "grabtimeout", "200"));
    EXPECT_EQ(GetInt(file, "Camera 1", "GrabTimeout", 0), 200);
    EXPECT_EQ(test::TempDir::Read(file), "[Camera 1]" + Nl() + "GrabTimeout=200" + Nl());
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"Kest.ini"});
}

TEST_F(IniFileTest, WriteKeepsOtherSectionsKeysAndComments) {
    std::string file =
        dir_.Write("Kest.ini", "; by hand\n[Camera 2]\nWidth=1024\nMyOwnKey=keep me\n\n[Camera 1]\nWidth=1\n");
    ASSERT_TRUE(WriteSection(file, "Camera 1", {{"Width", "2048"}, {"Height", "1000"}}));
    EXPECT_EQ(test::TempDir::Read(file),
              "; by hand\n[Camera 2]\nWidth=1024\nMyOwnKey=keep me\n\n[Camera 1]\nWidth=2048\nHeight=1000\n");
}

TEST_F(IniFileTest, WriteThatChangesNothingLeavesTheFileAlone) {
    std::string file = dir_.Write("Kest.ini", "[A]\nx=1\n");
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(24));
    const fs::file_time_type old = fs::last_write_time(file);
    ASSERT_TRUE(WriteString(file, "a", "X", "1"));
    EXPECT_EQ(fs::last_write_time(file), old);
}

TEST_F(IniFileTest, SectionWithAnUnrepresentableKeyWritesNothing) {
    std::string file = dir_.Write("Kest.ini", "[A]\nx=1\n");
    EXPECT_FALSE(WriteSection(file, "A", {{"x", "2"}, {"bad=key", "3"}}));
    EXPECT_EQ(test::TempDir::Read(file), "[A]\nx=1\n");
}

TEST_F(IniFileTest, FileThatIsADirectoryIsNotReplaced) {
    std::string file = dir_.File("Kest.ini");
    fs::create_directory(file);
    std::ofstream(fs::path(file) / "inside") << "data";
    EXPECT_FALSE(WriteString(file, "A", "x", "1"));
    EXPECT_TRUE(fs::exists(fs::path(file) / "inside"));
    EXPECT_EQ(GetString(file, "A", "x", "default"), "default");
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"Kest.ini"});
}

TEST_F(IniFileTest, WriteBelowARegularFileFails) {
    std::string parent = dir_.Write("not-a-directory", "x");
    EXPECT_FALSE(WriteString((fs::path(parent) / "Kest.ini").string(), "A", "x", "1"));
    EXPECT_EQ(test::TempDir::Read(parent), "x");
}

TEST_F(IniFileTest, ReadOnlyFileIsNotReplaced) {
    std::string file = dir_.Write("Kest.ini", "[A]\nx=1\n");
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (std::ofstream(file, std::ios::app).is_open()) {
        fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
        GTEST_SKIP() << "running with privileges that write read-only files";
    }
    EXPECT_FALSE(WriteString(file, "A", "x", "2"));
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(test::TempDir::Read(file), "[A]\nx=1\n");
}

TEST_F(IniFileTest, FileTooLargeToBeSettingsIsNeitherReadNorReplaced) {
    std::string big = "[A]\nx=1\n" + std::string(17u << 20, '#');
    std::string file = dir_.Write("Kest.ini", big);
    EXPECT_EQ(GetInt(file, "A", "x", 9), 9);
    EXPECT_FALSE(WriteString(file, "A", "x", "2"));
    EXPECT_EQ(fs::file_size(file), big.size());
}

TEST_F(IniFileTest, GarbageFileGivesDefaultsAndSurvivesAWrite) {
    std::mt19937 rng(7);
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>(rng() & 0xff);
    garbage += '\n' + std::string(1 << 20, 'Z') + '\n' + std::string("\0\0\0=\0\n", 6);
    std::string file = dir_.Write("Kest.ini", garbage);

    EXPECT_EQ(GetString(file, "Camera 1", "DCF_FILE", "M_DEFAULT"), "M_DEFAULT");
    EXPECT_EQ(GetInt(file, "Camera 1", "Width", 8160), 8160);
    ASSERT_TRUE(WriteString(file, "Camera 1", "Width", "2048"));
    EXPECT_EQ(GetInt(file, "Camera 1", "Width", 0), 2048);
    EXPECT_NE(test::TempDir::Read(file).find(std::string(1 << 20, 'Z')), std::string::npos);
}

} // namespace
} // namespace kestcam::ini
