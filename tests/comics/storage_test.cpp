#include "comics/storage.hpp"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <map>
#include <random>

#include "comics/base.hpp"
#include "comics/crc32.hpp"
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

// Decoded pages read their fields from the stored entry's bytes, which they keep
// alive: the member replaced, the storage gone and the caller's bytes dropped,
// every page still reads what was stored (AddressSanitizer sees any dangling read).
TEST(Serialize, DecodedPagesOutliveTheirStoredBytes) {
    ComicState state;
    for (int i = 0; i < 40; ++i)
        state.pages.push_back(Page{
            "REFER=http://site/" + std::to_string(i) + " http://site/" + std::to_string(i) + ".png",
            "Strip " + std::to_string(i), i == 3 ? "three" : "",
            i == 4 ? std::string("\0four", 5) : ""});
    state.custom = "crawl";
    ComicState shared;
    {
        auto storage = std::make_unique<FileStorage>();
        storage->put("c", comics::serialize::encode(state));
        shared = comics::serialize::decode(storage->share("c"));
        storage->put("c", std::string(600, 'x'));
    }
    ComicState copied = comics::serialize::decode(comics::serialize::encode(state));
    EXPECT_EQ(shared, state);
    EXPECT_EQ(copied, state);
    // Copies share the bytes and survive the state they were copied from.
    std::vector<Page> kept(shared.pages.begin() + 2, shared.pages.begin() + 5);
    shared = ComicState{};
    EXPECT_EQ(kept[1].reserved1(), "three");
    EXPECT_EQ(kept[2].reserved2(), std::string_view("\0four", 5));
    EXPECT_EQ(kept[0].toString(), "REFER=http://site/2 http://site/2.png");
    // A page built from views owns copies of them.
    std::string image = "REFER=a b", title = "T";
    Page own{image, title};
    image.assign(20, 'z');
    title.clear();
    EXPECT_EQ(own, (Page{"REFER=a b", "T", "", ""}));
    EXPECT_EQ(Page{}, (Page{"", "", "", ""}));
    EXPECT_NE(own, (Page{"REFER=a b", "", "T", ""}));  // the same bytes split otherwise
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
    // Shared bytes stay as they were while held, whatever happens to the member.
    auto held = s.share("a");
    s.put("a", "3");
    EXPECT_EQ(*held, "2");
    EXPECT_EQ(*s.share("a"), "3");
    s.remove("missing");
    s.remove("a");
    EXPECT_EQ(*held, "2");
    EXPECT_EQ(errorOf([&] { s.get("a"); }), "a not a file");
    EXPECT_EQ(errorOf([&] { s.share("a"); }), "a not a file");
}

TEST(FileStorage, MemberChecksumIsZlibsCrc32) {
    std::mt19937 random(7);
    std::string bytes(1 << 20, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    auto zlibCrc = [](std::string_view data) {
        return static_cast<std::uint32_t>(
            crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    };
    // Every length around the 16- and 64-byte steps, at every alignment.
    for (std::size_t offset = 0; offset < 16; ++offset)
        for (std::size_t length = 0; length < 300; ++length) {
            std::string_view piece(bytes.data() + offset, length);
            ASSERT_EQ(comics::crc32(piece), zlibCrc(piece)) << offset << " " << length;
        }
    EXPECT_EQ(comics::crc32(bytes), zlibCrc(bytes));
    EXPECT_EQ(comics::crc32(std::string(100000, '\0')), zlibCrc(std::string(100000, '\0')));
    EXPECT_EQ(comics::crc32("123456789"), 0xcbf43926u);
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

// Every member of an archive as libzip alone reads it (flags ZIP_CHECKCONS:
// with its checks between local and central headers), within the storage's
// bounds; a member it cannot read maps to "!damaged", an archive it cannot
// open to {"error": why}.
std::map<std::string, std::string> readWithLibzip(const std::string& zipBytes,
                                                  int flags = ZIP_CHECKCONS) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(zipBytes.data(), zipBytes.size(), 0, &error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY | flags, &error) : nullptr;
    if (!archive) {
        std::string why = zip_error_strerror(&error);
        if (source) zip_source_free(source);
        zip_error_fini(&error);
        return {{"error", why}};
    }
    zip_error_fini(&error);
    auto absurd = [](zip_uint64_t size, zip_uint64_t stored) {
        return size > comics::maxMemberSize ||
               (size > comics::ratioCheckFrom &&
                size / std::max<zip_uint64_t>(stored, 1) > comics::maxMemberRatio);
    };
    std::map<std::string, std::string> members;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &stat) != 0) {
            zip_discard(archive);
            return {{"error", "stat"}};
        }
        std::string name = stat.name ? stat.name : "";
        if (!name.empty() && name.back() == '/') continue;
        std::string data;
        bool read = (stat.valid & ZIP_STAT_SIZE) && !absurd(stat.size, stat.comp_size);
        zip_file_t* file =
            read ? zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0) : nullptr;
        zip_int64_t n = file ? 1 : -1;
        char block[16384];
        while (file && !absurd(data.size(), stat.comp_size) &&
               (n = zip_fread(file, block, sizeof block)) > 0)
            data.append(block, static_cast<std::size_t>(n));
        if (file) zip_fclose(file);
        members[name] = n == 0 && !absurd(data.size(), stat.comp_size) ? data : "!damaged";
    }
    zip_discard(archive);
    return members;
}

TEST(FileStorage, AcceptedByRealZipTools) {
    testsupport::TempDir dir;
    FileStorage s;
    for (int i = 0; i < 20; ++i)
        s.put("comic" + std::to_string(i), std::string(1000 + i, static_cast<char>('a' + i)));
    std::map<std::string, std::string> expected;
    for (const std::string& name : s.names()) expected[name] = s.get(name);
    // An empty member, a name past ASCII (flagged UTF-8), varied bytes.
    std::string varied;
    for (int i = 0; i < 70000; ++i) varied.push_back(static_cast<char>(i * 31 % 257));
    for (auto [name, data] : {std::pair<std::string, std::string>{"empty", ""},
                              {"p\xC3\xA4ge", "umlaut"},
                              {"varied", varied}}) {
        s.put(name, data);
        expected[name] = data;
    }
    const std::string zip = s.build();
    EXPECT_EQ(readWithLibzip(zip), expected);
    FileStorage back;
    back.read(zip);
    for (const auto& [name, data] : expected) EXPECT_EQ(back.get(name), data) << name;
    std::string path = dir.file("storage.dat.zip");
    writeFile(path, zip);
    if (haveProgram("python3")) {
        EXPECT_EQ(capture("python3 -c \"import zipfile,sys;z=zipfile.ZipFile(sys.argv[1]);"
                          "print(z.testzip(), 'p\\xe4ge' in z.namelist(), len(z.read('empty')), "
                          "z.read('varied')==bytes(i*31%257%256 for i in range(70000)))\" " +
                          path),
                  "None True 0 True\n");
    }
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

TEST(FileStorage, ReadsArchivesWithACommentOrDirectories) {
    if (!haveProgram("python3")) GTEST_SKIP() << "python3 missing";
    testsupport::TempDir dir;
    ASSERT_EQ(run("python3 -c \"import zipfile,sys;z=zipfile.ZipFile(sys.argv[1],'w',"
                  "zipfile.ZIP_DEFLATED);z.writestr('dir/','');z.writestr('dir/a','A'*3000);"
                  "z.writestr('b','bee');z.comment=b'made elsewhere';z.close()\" " +
                  dir.file("c.zip")),
              0);
    FileStorage s;
    s.read(readFile(dir.file("c.zip")));
    EXPECT_EQ(s.names(), (std::vector<std::string>{"b", "dir/a"}));
    EXPECT_EQ(s.get("dir/a"), std::string(3000, 'A'));
    EXPECT_EQ(s.get("b"), "bee");
}

// The offset of a member's header of the given signature ("PK\1\2" central,
// "PK\3\4" local) within an archive build() wrote.
std::size_t headerOf(const std::string& zip, const char* signature, const std::string& member) {
    const std::size_t nameAt = std::string(signature) == "PK\x01\x02" ? 46 : 30;
    for (std::size_t at = zip.find(signature); at != std::string::npos;
         at = zip.find(signature, at + 4))
        if (zip.compare(at + nameAt, member.size(), member) == 0) return at;
    return std::string::npos;
}

TEST(FileStorage, MemberWithAWrongChecksumIsDamaged) {
    FileStorage good;
    good.put("a", std::string(3000, 'a'));
    good.put("b", std::string(2000, 'b'));
    std::string zip = good.build();
    // The data inflates fine, only its checksum (in both headers) is off.
    const std::size_t central = headerOf(zip, "PK\x01\x02", "b");
    const std::size_t local = headerOf(zip, "PK\x03\x04", "b");
    ASSERT_NE(central, std::string::npos);
    ASSERT_NE(local, std::string::npos);
    zip[central + 16] = static_cast<char>(zip[central + 16] ^ 1);
    zip[local + 14] = static_cast<char>(zip[local + 14] ^ 1);
    FileStorage s;
    testsupport::LogCapture log;
    s.read(zip);
    EXPECT_EQ(s.get("a"), std::string(3000, 'a'));
    EXPECT_NE(s.damage("b"), "");
    EXPECT_TRUE(log.contains("Member b cannot be read, kept as stored: "));
}

TEST(FileStorage, DamagedArchivesReadAsLibzipReadsThem) {
    // Plain archives are read without libzip: bytes flipped anywhere must
    // give what libzip gives, member by member.
    FileStorage good;
    std::string varied;
    for (int i = 0; i < 3000; ++i) varied.push_back(static_cast<char>(i * 13 % 251));
    good.put("a", std::string(400, 'a') + "tail");
    good.put("b", varied);
    good.put("e", "");
    good.put("s", "short");
    const std::string zip = good.build();
    std::mt19937 random(11);
    int readable = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string bent = zip;
        for (int flips = 1 + static_cast<int>(random() % 3); flips > 0; --flips) {
            char& at = bent[random() % bent.size()];
            at = random() % 2 ? static_cast<char>(at ^ (1 << random() % 8))
                              : static_cast<char>(random());
        }
        const auto expected = readWithLibzip(bent, 0);
        FileStorage s;
        testsupport::LogCapture quiet;
        std::map<std::string, std::string> got;
        try {
            s.read(bent);
            for (const std::string& name : s.names())
                got[name] = s.damage(name).empty() ? s.get(name) : "!damaged";
        } catch (const std::runtime_error&) {
            got = {{"error", expected.count("error") ? expected.at("error") : "thrown"}};
        }
        ASSERT_EQ(got, expected) << "round " << round;
        if (got.size() == 4 && got["b"] == varied) ++readable;
    }
    EXPECT_GT(readable, 500);  // many flips leave the members themselves whole
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

// The stored (compressed) bytes of a member, as python's zipfile sees them.
std::string storedBytes(const std::string& zipPath, const std::string& member) {
    return capture(
        "python3 -c \"import zipfile,sys,binascii;z=zipfile.ZipFile(sys.argv[1]);"
        "i=z.getinfo(sys.argv[2]);f=open(sys.argv[1],'rb');f.seek(i.header_offset+26);"
        "n,m=__import__('struct').unpack('<HH',f.read(4));f.seek(i.header_offset+30+n+m);"
        "print(binascii.hexlify(f.read(i.compress_size)).decode(),i.CRC,i.compress_type)\" " +
        zipPath + " " + member);
}

TEST(FileStorage, DamagedMemberIsKeptAsStoredAndCopiedUnchanged) {
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
    EXPECT_TRUE(log.contains("Member a cannot be read, kept as stored: "));
    EXPECT_TRUE(s.has("a"));
    EXPECT_FALSE(s.damage("a").empty());
    EXPECT_TRUE(s.damage("b").empty());
    EXPECT_EQ(errorOf([&] { s.get("a"); }).rfind("a cannot be read: ", 0), 0u);
    EXPECT_EQ(errorOf([&] { s.share("a"); }), errorOf([&] { s.get("a"); }));
    EXPECT_EQ(s.get("b"), bData);

    // Written out again (with a member changed), "a" goes over byte for byte.
    s.put("b", "changed");
    s.put("c", "new");
    std::string again = s.build();
    testsupport::TempDir dir;
    writeFile(dir.file("old.zip"), zip);
    writeFile(dir.file("new.zip"), again);
    FileStorage back;
    back.read(again);
    EXPECT_FALSE(back.damage("a").empty());
    EXPECT_EQ(back.get("b"), "changed");
    EXPECT_EQ(back.get("c"), "new");
    if (haveProgram("python3")) {
        std::string before = storedBytes(dir.file("old.zip"), "a");
        EXPECT_GT(before.size(), 100u);
        EXPECT_EQ(storedBytes(dir.file("new.zip"), "a"), before);
    }
    // Replacing the damaged member ends its special treatment.
    back.put("a", "fresh");
    FileStorage third;
    third.read(back.build());
    EXPECT_EQ(third.get("a"), "fresh");
}

TEST(FileStorage, DamagedMemberThatCannotBeCopiedDoesNotBlockSaving) {
    FileStorage good;
    good.put("a", std::string(3000, 'a'));
    good.put("b", "bee");
    std::string zip = good.build();
    // Member "a"'s local header is broken: its name length points far past the file.
    const std::size_t header = zip.find("PK\x03\x04");
    zip[header + 26] = '\xff';
    zip[header + 27] = '\x7f';
    FileStorage s;
    testsupport::LogCapture log;
    s.read(zip);
    ASSERT_FALSE(s.damage("a").empty());
    FileStorage back;
    back.read(s.build());
    EXPECT_EQ(back.get("b"), "bee");
    // Left out, and said so (the ".damaged" copy of the file keeps it).
    EXPECT_FALSE(back.has("a"));
    EXPECT_TRUE(log.contains("writing the archive without them"));
}

TEST(FileStorage, OversizedMembersAreRefusedBeforeAllocating) {
    if (!haveProgram("python3")) GTEST_SKIP() << "python3 missing";
    testsupport::TempDir dir;
    // A deflate bomb (80 MiB of zeros), one member that lies about its size in
    // both headers (claims 10 bytes, holds 69 MiB of varied data), one absurd
    // ratio inside the size cap (8 MiB of zeros), one that claims 3 GiB, and a
    // normal one.
    ASSERT_EQ(run("python3 - " + dir.file("bomb.zip") +
                  " <<'EOF'\n"
                  "import zipfile,sys,struct,random\n"
                  "z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n"
                  "z.writestr('bomb',b'\\0'*(80<<20))\n"
                  "z.writestr('ratio',b'\\0'*(8<<20))\n"
                  "r=random.Random(1);z.writestr('liar',bytes(r.getrandbits(8) for _ in "
                  "range(20000))*3600)\n"
                  "z.writestr('huge',b'x'*100)\n"
                  "z.writestr('fine',b'ok'*1000)\n"
                  "z.close()\n"
                  "d=bytearray(open(sys.argv[1],'rb').read())\n"
                  "def patch(name,size):\n"
                  "  i=d.find(b'PK\\x01\\x02'+bytes(0));\n"
                  "  while i>=0:\n"
                  "    n=struct.unpack('<H',d[i+28:i+30])[0]\n"
                  "    if d[i+46:i+46+n]==name:\n"
                  "      "
                  "struct.pack_into('<I',d,i+24,size);o=struct.unpack('<I',d[i+42:i+46])[0];struct."
                  "pack_into('<I',d,o+22,size)\n"
                  "    i=d.find(b'PK\\x01\\x02',i+4)\n"
                  "patch(b'liar',10);patch(b'huge',3<<30)\n"
                  "open(sys.argv[1],'wb').write(d)\n"
                  "EOF"),
              0);
    FileStorage s;
    testsupport::LogCapture log;
    s.read(readFile(dir.file("bomb.zip")));
    std::string fine;
    for (int i = 0; i < 1000; ++i) fine += "ok";
    EXPECT_EQ(s.get("fine"), fine);
    for (const char* name : {"bomb", "ratio", "liar", "huge"}) {
        EXPECT_TRUE(s.has(name)) << name;
        EXPECT_FALSE(s.damage(name).empty()) << name;
    }
    EXPECT_NE(s.damage("bomb").find("expands to more than 67108864 bytes"), std::string::npos)
        << s.damage("bomb");
    EXPECT_NE(s.damage("ratio").find("an absurd ratio"), std::string::npos) << s.damage("ratio");
    EXPECT_NE(s.damage("huge").find("expands to more than"), std::string::npos) << s.damage("huge");
}

TEST(MainStorage, MissingFileIsLoggedAndEmpty) {
    testsupport::TempDir dir(true);
    testsupport::LogCapture log;
    comics::loadMainStorage("storage.dat.zip");
    EXPECT_TRUE(log.hasLine("Reading storage"));
    EXPECT_TRUE(log.contains("Caught exception [Cannot read storage.dat.zip] .. ignoring"));
}

TEST(MainStorage, DamagedMemberMakesARecoveryCopy) {
    testsupport::TempDir dir(true);
    FileStorage good;
    good.put("a", std::string(4000, 'q') + "tail");
    std::string zip = good.build();
    // Past the local header (30 bytes) and the name "a": the compressed data.
    std::size_t data = zip.find("PK\x03\x04") + 31;
    for (std::size_t i = data + 2; i < data + 8; ++i) zip[i] = static_cast<char>(zip[i] ^ 0x33);
    writeFile("storage.dat.zip", zip);
    testsupport::LogCapture log;
    comics::loadMainStorage("storage.dat.zip");
    EXPECT_EQ(readFile("storage.dat.zip.damaged"), zip);
    EXPECT_FALSE(comics::mainStorage().damage("a").empty());

    // Its comic fails with the reason; saving everything keeps the member as stored.
    class Plain : public comics::Comic {
    public:
        using Comic::Comic;
        std::string id() const override { return "a"; }
        std::string name() const override { return "A"; }
    };
    auto c = comics::create<Plain>(comics::mainStorage());
    EXPECT_TRUE(c->failed);
    EXPECT_EQ(c->failure(),
              "Stored state of a cannot be read: " + comics::mainStorage().damage("a"));
    c->failed = false;
    comics::saveAll({c}, "storage.dat.zip");
    if (haveProgram("python3")) {  // the member's stored bytes, copied as they were
        writeFile("old.zip", zip);
        EXPECT_EQ(storedBytes("storage.dat.zip", "a"), storedBytes("old.zip", "a"));
    }
    comics::mainStorage().remove("a");
}

TEST(MainStorage, UnreadableFileIsKeptAsACopy) {
    testsupport::TempDir dir(true);
    writeFile("storage.dat.zip", "garbage");
    testsupport::LogCapture log;
    comics::loadMainStorage("storage.dat.zip");
    EXPECT_EQ(readFile("storage.dat.zip.damaged"), "garbage");
}

}  // namespace
