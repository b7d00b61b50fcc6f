#include "tools/ini.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

using testsupport::errorOf;

TEST(Ini, LookupBySectionAndKey) {
    testsupport::TempDir dir;
    writeFile(dir.file("t.ini"), "[a]\nx = 1 # one\ny=2\n");
    tools::IniFile ini(dir.file("t.ini"));
    EXPECT_EQ(ini.get("a", "x"), "1");
    EXPECT_EQ(ini.get("a", "y"), "2");
    EXPECT_EQ(errorOf([&] { ini.get("", "x"); }), "Label x not found!");
    EXPECT_EQ(errorOf([&] { ini.get("b", "x"); }), "Label x not found in section b!");
    EXPECT_TRUE(ini.has("a", "x"));
    EXPECT_FALSE(ini.has("", "x"));
}

TEST(Ini, CarriageReturnsAndEmptyLines) {
    testsupport::TempDir dir;
    writeFile(dir.file("t.ini"), "k = v\r\n\r\n\n[ s ]\r\nn=3\r\n");
    tools::IniFile ini(dir.file("t.ini"));
    EXPECT_EQ(ini.get("", "k"), "v");
    EXPECT_EQ(ini.getInt("s", "n"), 3);
    EXPECT_EQ(ini.lines().size(), 4u);  // "\r" alone is a line; empty ones are dropped
}

TEST(Ini, SetWritesTheWholeFile) {
    testsupport::TempDir dir;
    std::string path = dir.file("t.ini");
    tools::IniFile ini(path);
    ini.set("", "sortmode", 2);
    EXPECT_EQ(readFile(path), "sortmode = 2\n");

    ini.set("snafu: Tin", "active", true);
    EXPECT_EQ(readFile(path), "sortmode = 2\n[snafu: Tin]\nactive = true\n");
    ini.set("snafu: Tin", "active", false);
    EXPECT_EQ(readFile(path), "sortmode = 2\n[snafu: Tin]\nactive = false\n");
    ini.set("snafu: Tin", "other", 5);
    EXPECT_EQ(readFile(path), "sortmode = 2\n[snafu: Tin]\nother = 5\nactive = false\n");
    ini.set("", "centered", true);
    EXPECT_EQ(readFile(path),
              "centered = true\nsortmode = 2\n[snafu: Tin]\nother = 5\nactive = false\n");
}

TEST(Ini, CommentSurvivesRewrite) {
    testsupport::TempDir dir;
    std::string path = dir.file("t.ini");
    writeFile(path, "fullscreen_w = 800 # my monitor\n");
    tools::IniFile ini(path);
    ini.set("", "fullscreen_w", 1280);
    EXPECT_EQ(readFile(path), "fullscreen_w = 1280 # my monitor\n");
    EXPECT_EQ(ini.getInt("", "fullscreen_w"), 1280);
}

TEST(Ini, TypedValues) {
    EXPECT_TRUE(tools::parseBool("TRUE"));
    EXPECT_FALSE(tools::parseBool(" False "));
    EXPECT_EQ(errorOf([] { tools::parseBool("yes"); }), "Cannot parse yes as bool");
    EXPECT_EQ(tools::parseInt("12abc"), 12);
    EXPECT_EQ(tools::parseInt("-7"), -7);
    EXPECT_EQ(tools::parseInt("abc"), 0);
    EXPECT_EQ(tools::parseInt("99999999999999999999"), INT_MAX);
}

TEST(Ini, SectionHeaderWithoutBracketDoesNotDuplicateOnSave) {
    testsupport::TempDir dir;
    std::string path = dir.file("t.ini");
    writeFile(path, "[Chisuji\nactive = false\n");
    tools::IniFile ini(path);
    EXPECT_FALSE(ini.getBool("Chisuji", "active"));
    ini.set("Chisuji", "active", true);
    ini.set("Chisuji", "active", true);
    EXPECT_EQ(readFile(path), "[Chisuji\nactive = true\n");
}

TEST(Ini, FileThatIsADirectoryIsKeptAndSettingsLiveInMemory) {
    testsupport::TempDir dir;
    std::string path = dir.file("t.ini");
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);  // exists, cannot be read as a file
    testsupport::LogCapture capture;
    tools::IniFile ini(path);
    EXPECT_FALSE(ini.writable());
    ini.set("", "sortmode", 1);  // no error, nothing written
    EXPECT_EQ(ini.getInt("", "sortmode"), 1);
    EXPECT_TRUE(capture.contains("Cannot read "));
}

TEST(Ini, IniValuesReadTheUnnamedSection) {
    testsupport::TempDir dir(true);
    writeFile("tovik.ini", "sortmode = 7\ncentered = TRUE\nfullscreen_w = 1280\n");
    tools::useConfigFile("tovik.ini");
    tools::IniValue<tools::SortMode> sort("sortmode", tools::SortMode::unsorted);
    EXPECT_EQ(sort.get(), tools::SortMode::unsorted);  // out of range: the default
    tools::IniValue<bool> centered("centered", false);
    EXPECT_TRUE(centered.get());
    tools::IniValue<int> width("fullscreen_w", 0), height("fullscreen_h", 0);
    EXPECT_EQ(width.get(), 1280);
    EXPECT_EQ(height.get(), 0);
    sort.set(tools::SortMode::byUnread);
    EXPECT_TRUE(sort.equals(tools::SortMode::byUnread));
    EXPECT_EQ(readFile("tovik.ini"), "sortmode = 2\ncentered = TRUE\nfullscreen_w = 1280\n");
    tools::useConfigFile("tovik.ini");
}

TEST(Ini, DeferredWritesWriteOnceAndOnlyChanges) {
    testsupport::TempDir dir;
    std::string path = dir.file("t.ini");
    tools::IniFile ini(path);
    {
        tools::IniFile::DeferredWrites outer(ini);
        {
            tools::IniFile::DeferredWrites inner(ini);
            for (int i = 0; i < 10; ++i) ini.set("s" + std::to_string(i), "active", true);
        }
        EXPECT_EQ(ini.writes(), 0u);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    EXPECT_EQ(ini.writes(), 1u);
    EXPECT_NE(readFile(path).find("[s9]\nactive = true\n"), std::string::npos);
    ini.set("s3", "active", true);  // the same value: the file stays
    EXPECT_EQ(ini.writes(), 1u);
    { tools::IniFile::DeferredWrites nothing(ini); }
    EXPECT_EQ(ini.writes(), 1u);
    ini.set("s3", "active", false);
    EXPECT_EQ(ini.writes(), 2u);
}

}  // namespace
