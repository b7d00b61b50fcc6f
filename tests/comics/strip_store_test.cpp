// The strip store on disk, fetching a comic's strips into it, and CBZ export.
#include "comics/strip_store.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>

#include "comics/base.hpp"
#include "comics/cbz.hpp"
#include "comics/storage.hpp"
#include "comics/strip_source.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "tools/ini.hpp"

namespace {

namespace fs = std::filesystem;
using comics::Page;
using comics::StripStore;
using testsupport::readFile;
using testsupport::writeFile;

class PagesComic : public comics::Comic {
public:
    PagesComic(comics::FileStorage& s, std::string id) : Comic(s), id_(std::move(id)) {}
    std::string id() const override { return id_; }
    std::string name() const override { return "Pages <" + id_ + "> & co"; }
    void setPages(std::vector<Page> pages) {
        std::lock_guard<std::recursive_mutex> hold(lock());
        state_.pages = std::move(pages);
    }

private:
    std::string id_;
};

// Image-like bytes: a PNG signature and a tag, n bytes long.
std::string fakePng(const std::string& tag, std::size_t n = 100) {
    std::string bytes = "\x89PNG\r\n\x1a\n" + tag;
    bytes.resize(std::max(n, bytes.size()), '\x42');
    return bytes;
}

// Moves a file's modification time (its last showing) back by seconds.
void age(const std::string& path, int seconds) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    utimbuf times{st.st_atime, st.st_mtime - seconds};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

TEST(StripStore, KeepsBytesUnderAHashOfTheReferenceOnly) {
    testsupport::TempDir dir;
    StripStore store(dir.file("strips"));
    const std::string ref = "REFER=site/p/1.html site/../../etc/passwd";
    EXPECT_FALSE(store.load(ref));
    EXPECT_FALSE(fs::exists(dir.file("strips")));  // made on the first strip only
    const std::string bytes = fakePng("one", 5000) + std::string(3, '\0');
    ASSERT_TRUE(store.put(ref, bytes));
    EXPECT_EQ(store.load(ref).value_or(""), bytes);
    EXPECT_FALSE(store.load(ref + " "));  // the full reference is the key

    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.file("strips")))
        names.push_back(e.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], StripStore::fileName(ref));
    EXPECT_EQ(names[0].size(), 64u);
    EXPECT_EQ(names[0].find_first_not_of("0123456789abcdef"), std::string::npos);
    const auto where = store.locate(ref);
    ASSERT_TRUE(where);
    EXPECT_EQ(readFile(where->path).substr(where->offset), bytes);

    // Replacing keeps one file and the right total.
    ASSERT_TRUE(store.put(ref, fakePng("two")));
    EXPECT_EQ(store.load(ref).value_or(""), fakePng("two"));
    EXPECT_EQ(store.count(), 1u);
    EXPECT_EQ(store.totalSize(), fs::file_size(where->path));
}

TEST(StripStore, DamagedFilesAreDroppedAndReportedAbsent) {
    testsupport::TempDir dir;
    StripStore store(dir.file("strips"));
    const std::string a = "REFER=s/1 s/1.png", b = "REFER=s/2 s/2.png", c = "REFER=s/3 s/3.png";
    for (const auto& ref : {a, b, c}) ASSERT_TRUE(store.put(ref, fakePng(ref, 2000)));
    const std::string pathA = dir.file("strips/" + StripStore::fileName(a));
    const std::string pathB = dir.file("strips/" + StripStore::fileName(b));
    const std::string pathC = dir.file("strips/" + StripStore::fileName(c));

    fs::resize_file(pathA, fs::file_size(pathA) - 1);                   // truncated
    fs::copy_file(pathC, pathB, fs::copy_options::overwrite_existing);  // another strip's file
    writeFile(pathC, "GIF89a not a stored strip");                      // no header

    testsupport::LogCapture log;
    EXPECT_FALSE(store.contains(a));
    EXPECT_FALSE(store.load(b));
    EXPECT_FALSE(store.load(c));
    EXPECT_TRUE(log.contains("Dropping the stored strip " + StripStore::fileName(a) + ": size "));
    EXPECT_TRUE(log.contains("it holds another reference"));
    EXPECT_TRUE(log.contains("no strip header"));
    for (const auto& p : {pathA, pathB, pathC}) EXPECT_FALSE(fs::exists(p)) << p;
    EXPECT_EQ(store.count(), 0u);
    EXPECT_EQ(store.totalSize(), 0u);

    // A decode failure reported back drops the file as well.
    ASSERT_TRUE(store.put(a, fakePng("again")));
    store.drop(a);
    EXPECT_FALSE(store.contains(a));
}

TEST(StripStore, BudgetEvictsLeastRecentlyShownUnkeptStrips) {
    testsupport::TempDir dir;
    std::unordered_set<std::string> kept;
    StripStore store(dir.file("strips"), StripStore::defaultBudget, [&] { return kept; });
    std::vector<std::string> refs;
    for (int i = 0; i < 4; ++i) {
        refs.push_back("REFER=s/" + std::to_string(i) + " s/" + std::to_string(i) + ".png");
        ASSERT_TRUE(store.put(refs.back(), fakePng(refs.back(), 10000)));
    }
    const std::uint64_t each = store.totalSize() / 4;
    auto path = [&](int i) { return dir.file("strips/" + StripStore::fileName(refs[i])); };
    // Shown long ago: 0 oldest, then 1, 2, 3; then 1 is shown again.
    for (int i = 0; i < 4; ++i) age(path(i), 1000 - 100 * i);
    kept = {StripStore::fileName(refs[0])};

    // The order survives a restart: a new store reads it from the files.
    // Room for three and a half strips (eviction goes a sixteenth below).
    StripStore again(dir.file("strips"), 3 * each + each / 2, [&] { return kept; });
    ASSERT_TRUE(again.load(refs[1]));
    const std::string fresh = "REFER=s/9 s/9.png";  // as long as the others
    testsupport::LogCapture log;
    ASSERT_TRUE(again.put(fresh, fakePng(fresh, 10000)));
    // Over by two strips: 0 is kept, so 2 and 3 go; 1 was shown just now.
    EXPECT_TRUE(fs::exists(path(0)));
    EXPECT_TRUE(fs::exists(path(1)));
    EXPECT_FALSE(fs::exists(path(2)));
    EXPECT_FALSE(fs::exists(path(3)));
    EXPECT_TRUE(again.contains(fresh));
    EXPECT_EQ(again.totalSize(), 3 * each);
    EXPECT_TRUE(log.contains("evicted 2 strips"));

    // Kept strips alone over the budget stay; the new one is spared too.
    kept.insert(StripStore::fileName(refs[1]));
    kept.insert(StripStore::fileName(fresh));
    again.setBudget(each);
    again.keepBudget();
    EXPECT_EQ(again.count(), 3u);
}

TEST(StripStore, StaleTempFilesGoAndADisabledStoreKeepsNothing) {
    testsupport::TempDir dir;
    fs::create_directories(dir.file("strips"));
    writeFile(dir.file("strips/.abc.tmp-123456"), "half a strip");
    writeFile(dir.file("strips/notes.txt"), "not ours");
    // A write still going on (another thread's or program's) holds its file locked.
    writeFile(dir.file("strips/.def.tmp-654321"), "being written");
    const int writing = ::open(dir.file("strips/.def.tmp-654321").c_str(), O_RDONLY);
    ASSERT_GE(writing, 0);
    ASSERT_EQ(::flock(writing, LOCK_EX), 0);
    StripStore store(dir.file("strips"));
    EXPECT_EQ(store.count(), 0u);
    EXPECT_FALSE(fs::exists(dir.file("strips/.abc.tmp-123456")));
    EXPECT_TRUE(fs::exists(dir.file("strips/.def.tmp-654321")));
    ::close(writing);
    EXPECT_TRUE(fs::exists(dir.file("strips/notes.txt")));  // left alone

    StripStore off("");
    EXPECT_FALSE(off.enabled());
    EXPECT_FALSE(off.put("r", fakePng("x")));
    EXPECT_FALSE(off.load("r"));
    EXPECT_FALSE(comics::stripStore()->enabled());  // until the reader starts one
}

TEST(StripStore, ImageExtensionsByFirstBytes) {
    EXPECT_EQ(comics::imageExtension(fakePng("")), "png");
    EXPECT_EQ(comics::imageExtension("\xFF\xD8\xFF\xE0rest"), "jpg");
    EXPECT_EQ(comics::imageExtension("GIF89a..."), "gif");
    EXPECT_EQ(comics::imageExtension(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16)), "webp");
    EXPECT_EQ(comics::imageExtension(std::string("\0\0\0\x1c"
                                                 "ftypavif",
                                                 12)),
              "avif");
    EXPECT_EQ(comics::imageExtension(std::string("\0\0\0\x18"
                                                 "ftypmif1",
                                                 12)),
              "heic");
    EXPECT_EQ(comics::imageExtension(std::string("\0\0\0\x18"
                                                 "ftypisom",
                                                 12)),
              "");  // a video
    EXPECT_EQ(comics::imageExtension("<html><body>404</body></html>"), "");
    EXPECT_EQ(comics::imageExtension(""), "");
    EXPECT_EQ(comics::imageExtension("\x89PN"), "");

    EXPECT_EQ(comics::hostOf("REFER=http://a.b/p.html http://cdn.b:8080/s/1.png"), "cdn.b:8080");
    EXPECT_EQ(comics::hostOf("REFER=a/p https://c/1.png"), "c");
    EXPECT_EQ(comics::hostOf("h/x.png"), "h");
}

TEST(KeepStrips, ReadFromTheComicsSectionAndWrittenBack) {
    testsupport::TempDir dir(true);
    writeFile("tovik.ini", "[fixture]\nkeep_strips = TRUE\n[other]\nkeep_strips = often\n");
    tools::useConfigFile("tovik.ini");
    comics::FileStorage storage;
    auto fixture = comics::create<PagesComic>(storage, "fixture");
    EXPECT_TRUE(fixture->keepsStrips());
    testsupport::LogCapture log;
    auto other = comics::create<PagesComic>(storage, "other");
    EXPECT_FALSE(other->keepsStrips());  // not a bool: logged, off
    EXPECT_TRUE(log.contains("Cannot parse often as bool"));
    auto fresh = comics::create<PagesComic>(storage, "fresh");
    EXPECT_FALSE(fresh->keepsStrips());
    fresh->setKeepStrips(true);
    EXPECT_TRUE(fresh->keepsStrips());
    EXPECT_NE(readFile("tovik.ini").find("[fresh]\nkeep_strips = true\n"), std::string::npos);
    tools::useConfigFile("tovik.ini");
}

// A loopback site with strips 1..n; pages can also point at missing strips.
class StripSite : public ::testing::Test {
protected:
    void SetUp() override {
        tools::useConfigFile(dir.file("tovik.ini"));
        c = comics::create<PagesComic>(storage, "site");
    }
    void TearDown() override { tools::useConfigFile("tovik.ini"); }
    std::string ref(int n) {
        return "REFER=" + server.url("/" + std::to_string(n) + ".html") + " " +
               server.url("/strips/" + std::to_string(n) + ".png");
    }
    void serve(int from, int to) {
        for (int n = from; n <= to; ++n)
            server.route("/strips/" + std::to_string(n) + ".png", strip(n), "image/png");
    }
    static std::string strip(int n) { return fakePng("strip " + std::to_string(n), 3000 + n); }
    void pages(int count) {
        std::vector<Page> ps;
        for (int n = 1; n <= count; ++n)
            ps.push_back(Page{ref(n), "Strip " + std::to_string(n), "", ""});
        c->setPages(ps);
    }
    std::size_t requestsFor(int n) {
        auto paths = server.paths();
        return static_cast<std::size_t>(
            std::count(paths.begin(), paths.end(), "/strips/" + std::to_string(n) + ".png"));
    }

    testsupport::TempDir dir;
    testsupport::HttpServer server;
    comics::FileStorage storage;
    std::shared_ptr<PagesComic> c;
    StripStore store{dir.file("strips")};
};

TEST_F(StripSite, FetchMissingStoresEveryStripOnceAndRefetchesTruncatedOnes) {
    serve(1, 4);
    server.route("/strips/5.png", "<html>gone</html>", "text/html");
    pages(5);
    std::vector<std::size_t> seen;
    auto count = comics::fetchMissingStrips(*c, store, [&](std::size_t done, std::size_t total) {
        EXPECT_EQ(total, 5u);
        seen.push_back(done);
    });
    EXPECT_EQ(seen, (std::vector<std::size_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(count.stored, 4u);
    EXPECT_EQ(count.present, 0u);
    EXPECT_EQ(count.missing, (std::vector<std::size_t>{4}));  // a web page is never kept
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(store.load(ref(n)).value_or(""), strip(n));

    // Again: nothing is asked for twice except what is missing or damaged.
    const std::string path3 = dir.file("strips/" + StripStore::fileName(ref(3)));
    fs::resize_file(path3, fs::file_size(path3) / 2);
    count = comics::fetchMissingStrips(*c, store);
    EXPECT_EQ(count.present, 3u);
    EXPECT_EQ(count.stored, 1u);
    EXPECT_EQ(requestsFor(1), 1u);
    EXPECT_EQ(requestsFor(3), 2u);
    EXPECT_EQ(store.load(ref(3)).value_or(""), strip(3));
}

TEST_F(StripSite, ASiteThatStoppedServingIsGivenUpAfterAFewFailures) {
    serve(1, 2);
    pages(12);
    comics::fetchMissingStrips(*c, store);
    server.clearRoutes();  // every strip now a 404
    server.clearRecords();
    testsupport::LogCapture log;
    auto count = comics::fetchMissingStrips(*c, store);
    EXPECT_TRUE(count.gaveUp);
    EXPECT_EQ(count.present, 2u);
    EXPECT_EQ(count.missing.size(), 10u);
    EXPECT_TRUE(log.contains("after 5 failed downloads in a row"));
    EXPECT_EQ(server.requestCount(), 5u);
}

// Runs python3 on a script with the archive's path as its argument.
std::string python(const std::string& script, const std::string& archive) {
    testsupport::writeFile(archive + ".py", script);
    return testsupport::capture("python3 '" + archive + ".py' '" + archive + "' 2>&1");
}

TEST_F(StripSite, CbzHoldsTheStripsInOrderWithComicInfo) {
    if (!testsupport::haveProgram("python3") || !testsupport::haveProgram("unzip"))
        GTEST_SKIP() << "python3 and unzip check the archive";
    serve(1, 3);
    serve(5, 11);
    pages(11);  // strip 4 is missing on the site
    comics::fetchMissingStrips(*c, store);
    const std::string archive = dir.file("site.cbz");
    auto result = comics::writeCbz(*c, archive, store);
    EXPECT_EQ(result.pages, 10u);
    EXPECT_EQ(result.missing, (std::vector<std::size_t>{3}));

    EXPECT_EQ(testsupport::run("unzip -tq '" + archive + "' >/dev/null"), 0);
    // Names, compression and bytes as Python's zipfile sees them.
    const std::string listing = python(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "for i in z.infolist():\n"
        "    print(i.filename, i.compress_type, i.file_size, z.read(i).hex() if i.filename != "
        "'ComicInfo.xml' else '')\n",
        archive);
    std::string expected;
    for (int n : {1, 2, 3, 5, 6, 7, 8, 9, 10, 11}) {
        char name[16];
        std::snprintf(name, sizeof name, "%04d.png", n);
        std::string hex;
        for (unsigned char b : strip(n)) {
            static const char digits[] = "0123456789abcdef";
            hex += digits[b >> 4];
            hex += digits[b & 15];
        }
        expected += std::string(name) + " 0 " + std::to_string(strip(n).size()) + " " + hex + "\n";
    }
    const std::size_t infoAt = listing.find("ComicInfo.xml 0 ");
    EXPECT_EQ(listing.substr(0, infoAt), expected);
    EXPECT_NE(infoAt, std::string::npos) << listing;

    const std::string info = python(
        "import sys, zipfile, xml.etree.ElementTree as ET\n"
        "root = ET.fromstring(zipfile.ZipFile(sys.argv[1]).read('ComicInfo.xml'))\n"
        "print(root.find('Series').text)\n"
        "print(root.find('PageCount').text)\n"
        "print(root.find('Web').text)\n"
        "print(root.find('Notes').text)\n"
        "print([p.get('Bookmark') for p in root.find('Pages')])\n",
        archive);
    EXPECT_EQ(info, "Pages <site> & co\n10\nhttp://" + server.url("/1.html") +
                        "\nPages missing from this archive: 4\n"
                        "['Strip 1', 'Strip 2', 'Strip 3', 'Strip 5', 'Strip 6', 'Strip 7', "
                        "'Strip 8', 'Strip 9', 'Strip 10', 'Strip 11']\n");
}

TEST(ComicInfo, TitlesOfAnyBytesMakeValidXml) {
    if (!testsupport::haveProgram("python3")) GTEST_SKIP() << "python3 parses the XML";
    testsupport::TempDir dir;
    const std::string xml =
        comics::comicInfo("A \"quoted\" <series>", "http://h/1?a=1&b=2",
                          {"caf\xc3\xa9", "bad \xff\xfe byte", "ctrl \x01\x1f end", "'&'",
                           "surrogate \xed\xa0\x80 overlong \xc0\xaf", "\xef\xbf\xbe nonchar"});
    writeFile(dir.file("info.xml"), xml);
    writeFile(dir.file("parse.py"),
              "import sys, xml.etree.ElementTree as ET\n"
              "root = ET.parse(sys.argv[1]).getroot()\n"
              "print(root.find('Series').text, root.find('Web').text, sep='|')\n"
              "for p in root.find('Pages'): print(p.get('Image'), ascii(p.get('Bookmark')))\n");
    EXPECT_EQ(testsupport::capture("python3 '" + dir.file("parse.py") + "' '" +
                                   dir.file("info.xml") + "' 2>&1"),
              "A \"quoted\" <series>|http://h/1?a=1&b=2\n"
              "0 'caf\\xe9'\n"
              "1 'bad \\ufffd\\ufffd byte'\n"
              "2 'ctrl  end'\n"
              "3 \"'&'\"\n"
              "4 'surrogate \\ufffd\\ufffd\\ufffd overlong \\ufffd\\ufffd'\n"
              "5 ' nonchar'\n");
    EXPECT_EQ(comics::pageAddressOf("REFER=host/p/1.html host/s/1.png"), "http://host/p/1.html");
    EXPECT_EQ(comics::pageAddressOf("REFER=https://h/p h/1.png"), "https://h/p");
    EXPECT_EQ(comics::pageAddressOf("h/1.png"), "");
}

}  // namespace
