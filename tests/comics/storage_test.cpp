#include "comics/storage.hpp"

#include <gtest/gtest.h>

#include "comics/serialize.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"

namespace {

using comics::ComicState;
using comics::FileStorage;
using comics::Page;
using testsupport::capture;
using testsupport::haveProgram;
using testsupport::readFile;
using testsupport::run;
using testsupport::writeFile;

using testsupport::errorOf;

TEST(Serialize, EmptyStateIsTwelveZeroBytes) {
    EXPECT_EQ(comics::serialize::encode(ComicState{}), std::string(12, '\0'));
    ComicState twelve = comics::serialize::decode(std::string(12, '\0'));
    EXPECT_EQ(twelve, ComicState{});
    ComicState thirteen = comics::serialize::decode(std::string(12, '\0') + "x");
    EXPECT_EQ(thirteen, ComicState{});
    try {
        comics::serialize::decode(std::string(11, '\0'));
        FAIL() << "eleven bytes must not decode";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Problem: can't splinter 4 from ");  // then three NUL bytes
    }
}

TEST(Serialize, RoundTripIsByteExact) {
    ComicState state;
    state.pages = {Page{"REFER=h/1 h/1.png", "One", "", ""},
                   Page{"REFER=h/2 h/2.png", std::string("T\xc2\xbb\0w", 5), "", ""}};
    state.position = 1;
    state.custom = std::string("\x03\0\0\0abc", 7);
    std::string bytes = comics::serialize::encode(state);
    EXPECT_EQ(bytes.size(), 4 + 2 * 16 + 17 + 3 + 17 + 5 + 4 + 4 + 7u);
    EXPECT_EQ(comics::serialize::decode(bytes), state);
    EXPECT_EQ(comics::serialize::encode(comics::serialize::decode(bytes)), bytes);
    // Little-endian integers: the page count comes first.
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x02\0\0\0", 4));
}

TEST(Serialize, HugePageCountIsRefusedBeforeAllocating) {
    std::string bytes("\xff\xff\xff\x7f", 4);
    bytes += std::string(40, '\0');
    std::string message = errorOf([&] { comics::serialize::decode(bytes); });
    EXPECT_EQ(message.rfind("Problem: can't splinter ", 0), 0u) << message;
}

TEST(Serialize, TruncatedStringFails) {
    ComicState state;
    state.pages = {Page{"image", "title", "", ""}};
    std::string bytes = comics::serialize::encode(state);
    bytes.resize(bytes.size() - 10);
    EXPECT_EQ(
        errorOf([&] { comics::serialize::decode(bytes); }).rfind("Problem: can't splinter ", 0),
        0u);
}

TEST(FileStorage, PutGetRemove) {
    FileStorage s;
    s.put("a", "1");
    s.put("a", "2");
    EXPECT_EQ(s.get("a"), "2");
    s.remove("missing");
    s.remove("a");
    EXPECT_EQ(errorOf([&] { s.get("a"); }), "a not a file");
}

TEST(FileStorage, EmptyArchiveRoundTrip) {
    FileStorage s;
    std::string zip = s.build();
    FileStorage back;
    back.read(zip);
    EXPECT_TRUE(back.names().empty());
    testsupport::TempDir dir;
    writeFile(dir.file("e.zip"), zip);
    if (haveProgram("python3")) {
        EXPECT_EQ(capture("python3 -c \"import zipfile,sys;z=zipfile.ZipFile(sys.argv[1]);"
                          "print(len(z.namelist()), z.testzip())\" " +
                          dir.file("e.zip")),
                  "0 None\n");
    }
}

TEST(FileStorage, BuildLogsAndReadsBackBinaryMembers) {
    FileStorage s;
    std::string binary;
    for (int i = 0; i < 5000; ++i) binary.push_back(static_cast<char>(i * 7));
    s.put("comic", binary);
    s.put("other.snafu", "text");
    testsupport::LogCapture log;
    std::string zip = s.build();
    EXPECT_TRUE(log.hasLine("ser: compressing"));
    EXPECT_TRUE(log.hasLine("ser: done"));
    FileStorage back;
    back.put("kept", "x");
    back.read(zip);
    EXPECT_EQ(back.get("comic"), binary);
    EXPECT_EQ(back.get("other.snafu"), "text");
    EXPECT_EQ(back.get("kept"), "x");
}

TEST(FileStorage, AcceptedByRealZipTools) {
    testsupport::TempDir dir;
    FileStorage s;
    for (int i = 0; i < 20; ++i)
        s.put("comic" + std::to_string(i), std::string(1000 + i, static_cast<char>('a' + i)));
    std::string path = dir.file("storage.dat.zip");
    writeFile(path, s.build());
    if (haveProgram("unzip")) {
        EXPECT_EQ(run("unzip -tq " + path + " >/dev/null"), 0);
        std::string listing = capture("unzip -v " + path);
        EXPECT_NE(listing.find("Defl"), std::string::npos) << listing;
    }
    if (haveProgram("python3")) {
        std::string out = capture(
            "python3 -c \"import zipfile,sys;z=zipfile.ZipFile(sys.argv[1]);"
            "print(z.testzip(), len(z.read('comic3')), set(i.compress_type for i in "
            "z.infolist()))\" " +
            path);
        EXPECT_EQ(out, "None 1003 {8}\n");
    }
}

TEST(FileStorage, ReadsArchivesMadeByOtherTools) {
    testsupport::TempDir dir;
    if (!haveProgram("zip") || !haveProgram("python3")) GTEST_SKIP() << "zip or python3 missing";
    writeFile(dir.file("stored.txt"), "stored member");
    writeFile(dir.file("deflated.txt"), std::string(5000, 'z'));
    ASSERT_EQ(run("cd " + dir.path().string() +
                  " && zip -q -0 a.zip stored.txt && zip -q -9 a.zip deflated.txt"),
              0);
    FileStorage fromZip;
    fromZip.read(readFile(dir.file("a.zip")));
    EXPECT_EQ(fromZip.get("stored.txt"), "stored member");
    EXPECT_EQ(fromZip.get("deflated.txt"), std::string(5000, 'z'));

    ASSERT_EQ(run("python3 -c \"import "
                  "zipfile,sys;z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED);"
                  "z.writestr('plugins/x.re','name=X\\n');z.writestr('x',b'\\0'*12);z.close()\" " +
                  dir.file("p.zip")),
              0);
    FileStorage fromPython;
    fromPython.read(readFile(dir.file("p.zip")));
    EXPECT_EQ(fromPython.get("plugins/x.re"), "name=X\n");
    EXPECT_EQ(fromPython.get("x"), std::string(12, '\0'));
}

TEST(FileStorage, DamagedArchivesFailCleanly) {
    FileStorage s;
    EXPECT_THROW(s.read("this is no zip archive at all"), std::runtime_error);
    FileStorage good;
    good.put("a", std::string(3000, 'a'));
    std::string zip = good.build();
    EXPECT_THROW(s.read(zip.substr(0, zip.size() / 2)), std::runtime_error);  // truncated
    EXPECT_TRUE(s.names().empty());
}

TEST(FileStorage, DamagedMemberLosesOnlyThatMember) {
    FileStorage good;
    std::string aData, bData;
    for (int i = 0; i < 4000; ++i) {
        aData.push_back(static_cast<char>(i * 13 % 251));
        bData.push_back(static_cast<char>(i * 17 % 253));
    }
    good.put("a", aData);
    good.put("b", bData);
    std::string zip = good.build();
    // Corrupt the middle of member "a"'s compressed data (members are in name order).
    std::size_t at = zip.find("a") + 200;
    for (std::size_t i = at; i < at + 50; ++i) zip[i] = static_cast<char>(zip[i] ^ 0x5a);
    FileStorage s;
    testsupport::LogCapture log;
    s.read(zip);
    EXPECT_TRUE(log.contains("Caught exception ["));
    EXPECT_FALSE(s.has("a"));
    EXPECT_EQ(s.get("b"), bData);
}

TEST(MainStorage, MissingFileIsLoggedAndEmpty) {
    testsupport::TempDir dir(true);
    testsupport::LogCapture log;
    comics::loadMainStorage("storage.dat.zip");
    EXPECT_TRUE(log.hasLine("Reading storage"));
    EXPECT_TRUE(log.contains("Caught exception [Cannot read storage.dat.zip] .. ignoring"));
}

TEST(MainStorage, UnreadableFileIsKeptAsACopy) {
    testsupport::TempDir dir(true);
    writeFile("storage.dat.zip", "garbage");
    testsupport::LogCapture log;
    comics::loadMainStorage("storage.dat.zip");
    EXPECT_EQ(readFile("storage.dat.zip.damaged"), "garbage");
}

}  // namespace
