// Settings files saved as UTF-16 with a byte-order mark (as Windows editors save them): read like
// the same text in 8 bits, written back as UTF-16 in their own byte order and never as a mix, and a
// file cut off in the middle of a character left alone with one clear log line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/logger.h"
#include "settings/camera_settings.h"
#include "settings/ini_store.h"
#include "support/temp_dir.h"

namespace kestcam::ini {
namespace {

// Text already in the document's own form: UTF-8, with a character outside the basic plane and a
// lone surrogate (as a damaged editor save may leave one) in lines the driver never touches.
const std::string kOwnLines = "; Grüße ☃ \xF0\x9D\x84\x9E lone \xED\xA0\x80 end\r\n"
                              "[Other]\r\n"
                              "Key = spaced value \r\n";

std::string Utf16(FileEncoding order, const std::string &text) {
    return EncodeUtf16("\xEF\xBB\xBF" + text, order);
}

class Utf16File : public ::testing::TestWithParam<FileEncoding> {
protected:
    test::TempDir dir_;
};

TEST_P(Utf16File, ReadsAsTheSameTextAndSavesKeepItUtf16InItsByteOrder) {
    const FileEncoding order = GetParam();
    const std::string file =
        dir_.Write("Kest.ini", Utf16(order, kOwnLines + "[Camera 1]\r\nGrabTimeout=700\r\nDCF_FILE=C:\\dcf\\Müller.dcf\r\n"));
    EXPECT_EQ(GetInt(file, "camera 1", "GrabTimeout", 0), 700);
    EXPECT_EQ(GetString(file, "Camera 1", "DCF_FILE", ""), NarrowFromUtf8("C:\\dcf\\Müller.dcf"));
    EXPECT_EQ(GetString(file, "Other", "key", ""), "spaced value");

    CameraSettings s;
    ASSERT_TRUE(s.LoadFrom(file, "Camera 1"));
    EXPECT_EQ(s.GrabTimeout.value, 700);
    s.ShareName.value = NarrowFromUtf8("Linie Ä");
    ASSERT_TRUE(s.SaveTo(file, "Camera 1"));
    ASSERT_TRUE(WriteString(file, "Camera 2", "Width", "2048"));

    const std::string bytes = test::TempDir::Read(file);
    ASSERT_EQ(DetectEncoding(bytes), order);
    std::string text;
    ASSERT_TRUE(DecodeUtf16(bytes, order, text)); // whole units only: no 8-bit line slipped in
    EXPECT_EQ(EncodeUtf16(text, order), bytes);
    // What the driver did not write is there unit for unit; what it wrote follows in the file's line ends.
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF" + kOwnLines + "[Camera 1]\r\nGrabTimeout=700\r\nDCF_FILE=C:\\dcf\\Müller.dcf\r\n", 0),
              0u);
    EXPECT_NE(text.find("\r\nShareName=Linie Ä\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n\r\n[Camera 2]\r\nWidth=2048\r\n"), std::string::npos);

    CameraSettings reread;
    ASSERT_TRUE(reread.LoadFrom(file, "Camera 1"));
    EXPECT_EQ(reread.ShareName.value, s.ShareName.value);
    EXPECT_EQ(reread.DCF_FILE.value, s.DCF_FILE.value);
}

std::vector<std::string> g_lines;
void KESTCAM_CDECL Capture(const char *text) {
    g_lines.emplace_back(text);
}

TEST_P(Utf16File, CutOffInTheMiddleOfACharacterReadsWhatIsWholeAndIsNotWritten) {
    const std::string damaged = Utf16(GetParam(), "[Camera 1]\r\nGrabTimeout=700\r\n") + "\x41";
    const std::string file = dir_.Write("Kest.ini", damaged);
    EXPECT_EQ(GetInt(file, "Camera 1", "GrabTimeout", 0), 700);

    g_lines.clear();
    Logger &log = Logger::Instance();
    const int level = log.LogLevel();
    log.SetLogLevel(1);
    log.SetDebugMsgProc(&Capture);
    CameraSettings s;
    const bool saved = s.SaveTo(file, "Camera 1");
    log.SetDebugMsgProc(nullptr);
    log.SetLogLevel(level);

    EXPECT_FALSE(saved);
    EXPECT_EQ(test::TempDir::Read(file), damaged);
    // One line (the logger hands over its time stamp and its text apart).
    std::string logged;
    for (const std::string &part : g_lines)
        logged += part;
    EXPECT_EQ(logged.find("ERROR"), logged.rfind("ERROR"));
    EXPECT_NE(logged.find("CameraSettings::Save: ERROR cannot write section 'Camera 1' of settings file '" + file +
                          "' (the file is UTF-16 but ends in half a character; it is left as it is)"),
              std::string::npos)
        << logged;
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, Utf16File, ::testing::Values(FileEncoding::Utf16Le, FileEncoding::Utf16Be),
                         [](const auto &info) { return info.param == FileEncoding::Utf16Le ? "LittleEndian" : "BigEndian"; });

} // namespace
} // namespace kestcam::ini
