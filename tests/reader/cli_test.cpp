// The built reader run from the command line in temporary working directories.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "comics/base.hpp"
#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "support/http_server.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using comics::ComicState;
using comics::FileStorage;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string tovik = TOVIK_BINARY_DIR "/tovik";

struct RunResult {
    int status = -1;
    std::string out;   // everything written to standard output
    std::string list;  // the lines that are not log lines
};

bool logLine(const std::string& line) {
    for (const char* lead : {"| ", "/--[ ", "+--[ ", "\\-"})
        if (line.rfind(lead, 0) == 0) return true;
    return false;
}

// Runs the reader in dir without a display.
RunResult runTovik(const fs::path& dir, const std::string& args) {
    std::string command = "cd '" + dir.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY '" +
                          tovik + "' " + args + " 2>/dev/null";
    RunResult r;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, pipe)) > 0;) r.out.append(block, n);
    int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::size_t at = 0;
    while (at < r.out.size()) {
        std::size_t end = r.out.find('\n', at);
        if (end == std::string::npos) end = r.out.size();
        std::string line = r.out.substr(at, end - at);
        if (!logLine(line)) r.list += line + "\n";
        at = end + 1;
    }
    return r;
}

std::string pluginText(const std::string& name) {
    return "name=" + name +
           "\nstart=127.0.0.1:9/start\n"
           "next=@<a href=\"([^\"]*)\" rel=\"next\">@$1\n"
           "images=@<img src=\"([^\"]*)\">@$1\n"
           "title=@<h1>([^<]*)</h1>@$1\n";
}

ComicState pagesOf(const std::string& tag, int count, int position = 0) {
    ComicState state;
    for (int i = 0; i < count; ++i)
        state.pages.push_back({"REFER=http://site/" + tag + "/" + std::to_string(i) +
                                   " http://site/" + tag + "/" + std::to_string(i) + ".png",
                               "Strip " + std::to_string(i), "", ""});
    state.position = position;
    state.custom = "resume at " + tag;
    return state;
}

void writeStorage(const fs::path& dir, const std::map<std::string, ComicState>& states) {
    FileStorage storage;
    for (const auto& [id, state] : states) storage.put(id, comics::serialize::encode(state));
    writeFile((dir / "storage.dat.zip").string(), storage.build());
}

std::unique_ptr<FileStorage> readStorage(const fs::path& file) {
    auto storage = std::make_unique<FileStorage>();
    storage->read(readFile(file.string()));
    return storage;
}

ComicState stateIn(const FileStorage& storage, const std::string& id) {
    return comics::serialize::decode(storage.get(id));
}

const std::vector<std::string> portal = {
    "grim.snafu", "ea.snafu",  "www.snafu", "sf.snafu",   "tin.snafu", "titan.snafu", "tw.snafu",
    "ppg.snafu",  "zim.snafu", "kof.snafu", "soul.snafu", "ft.snafu",  "sugar.snafu"};

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(tovik)) GTEST_SKIP() << "build the tovik target first";
        fs::create_directory(dir.path() / "plugins");
    }
    void plugin(const std::string& base, const std::string& name) {
        writeFile(dir.file("plugins/" + base + ".re"), pluginText(name));
    }
    // An archived plugin as an earlier export would have left it.
    void archived(const std::string& base, const std::string& name, const ComicState& state) {
        FileStorage zip;
        zip.put("plugins/" + base + ".re", pluginText(name));
        zip.put(base, comics::serialize::encode(state));
        writeFile(dir.file("plugins/" + base + ".re.zip"), zip.build());
    }
    testsupport::TempDir dir;
};

TEST_F(Cli, ListsIdentifiersAndNamesInTheComicListOrder) {
    plugin("beta", "Beta Comic");
    plugin("alpha", "Alpha Comic");
    archived("zeta", "Zeta Comic", pagesOf("z", 1));
    std::string ids = "applegeeks\nnpwil\nquestionablecontent\nzeta\nalpha\nbeta\n";
    for (const auto& id : portal) ids += id + "\n";
    ids += "chisuji\nearthsong\n";
    RunResult h = runTovik(dir.path(), "-h");
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.list, ids);

    RunResult hh = runTovik(dir.path(), "-hh ignored further arguments");
    EXPECT_EQ(hh.status, 0);
    EXPECT_EQ(hh.list,
              "Applegeeks\nNine Planets Without Intelligent Life\nQuestionable Content\n"
              "Zeta Comic\nAlpha Comic\nBeta Comic\nGrim Tales\nEver After\nsnafu\nSticky "
              "Floors\nTin\nTitan Sphere\nTraining Wheels\nPPG Doujinshi\nInvader Zim\nKing of "
              "Fighters\nSoul Frontier\nForgotten Tower\nSugar Bits\nChisuji\nEarthsong\n");
}

TEST_F(Cli, LogFileAndClosingLine) {
    RunResult r = runTovik(dir.path(), "-h");
    ASSERT_EQ(r.status, 0);
    // Start-up logged before the file opened: the file starts with the message.
    std::string log = readFile(dir.file("tovik.log"));
    EXPECT_EQ(log.rfind("| Logfile open\n| Calling actual main function\n| Starting up\n", 0), 0u)
        << log;
    EXPECT_EQ(r.out.rfind("/--[ Main Thread ]------\n| Reading storage\n", 0), 0u);
    std::string closing = "\\" + std::string(23, '-') + "\n";
    ASSERT_GE(r.out.size(), closing.size());
    EXPECT_EQ(r.out.substr(r.out.size() - closing.size()), closing);
    EXPECT_EQ(log.find(closing), std::string::npos);  // standard output only
}

TEST_F(Cli, DumpWritesOneAddressPerPage) {
    plugin("alpha", "Alpha Comic");
    ComicState state;
    state.pages = {{"REFER=http://site/1 http://site/1.png", "One", "", ""},
                   {"http://site/2.png", "Two", "", ""},
                   {"site/3.png", "Three", "", ""},
                   {"https://site/4.png", "Four", "", ""}};
    writeStorage(dir.path(), {{"alpha", state}});
    RunResult r = runTovik(dir.path(), "-dump=alpha");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir.file("alpha.dump.txt")),
              "http://REFER=http://site/1 http://site/1.png\nhttp://site/2.png\n"
              "http://site/3.png\nhttps://site/4.png\n");

    // A built-in comic without pages gives an empty file.
    EXPECT_EQ(runTovik(dir.path(), "-dump=chisuji").status, 0);
    EXPECT_EQ(readFile(dir.file("chisuji.dump.txt")), "");
}

TEST_F(Cli, DumpWithoutMatchOrOutsideTheDirectoryWritesNothing) {
    EXPECT_EQ(runTovik(dir.path(), "-dump=nosuchcomic").status, 1);
    EXPECT_FALSE(fs::exists(dir.file("nosuchcomic.dump.txt")));

    // A plugin's filename is user data: it never names a file outside.
    writeFile(dir.file("plugins/evil.re"),
              "filename=../" + dir.path().filename().string() + "-escaped\n" + pluginText("Evil"));
    fs::path outside =
        dir.path().parent_path() / (dir.path().filename().string() + "-escaped.dump.txt");
    RunResult r = runTovik(dir.path(), "-dump=../" + dir.path().filename().string() + "-escaped");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_NE(r.out.find("may not contain"), std::string::npos);
}

TEST_F(Cli, CbzFetchesMissingStripsListsUnfetchableOnesAndKeepsNamesInside) {
    testsupport::HttpServer site;
    ComicState state;
    for (int n = 1; n <= 3; ++n) {
        const std::string strip = "\x89PNG\r\n\x1a\nstrip " + std::to_string(n);
        if (n != 2) site.route("/s/" + std::to_string(n) + ".png", strip, "image/png");
        state.pages.push_back({"REFER=" + site.url("/" + std::to_string(n) + ".html") + " " +
                                   site.url("/s/" + std::to_string(n) + ".png"),
                               "Page " + std::to_string(n), "", ""});
    }
    plugin("alpha", "Alpha Comic");
    writeStorage(dir.path(), {{"alpha", state}});
    // A store budget of nothing: the export still keeps what it fetched until written.
    writeFile(dir.file("tovik.ini"), "strip_store_mib = 0\n");

    RunResult r = runTovik(dir.path(), "-cbz=alpha");
    EXPECT_EQ(r.status, 1) << r.out;  // page 2 cannot be had
    EXPECT_EQ(r.list, "Wrote alpha.cbz: 2 of 3 pages\nMissing page 2 (Page 2): " +
                          std::string(state.pages[1].image()) + "\n");
    EXPECT_TRUE(fs::exists(dir.file("alpha.cbz")));
    EXPECT_EQ(testsupport::run("unzip -tq '" + dir.file("alpha.cbz") + "' >/dev/null"), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("strips")), fs::directory_iterator()),
              2);

    // Once the site serves it, the archive is complete; stored strips are not
    // asked for again.
    site.route("/s/2.png", "\x89PNG\r\n\x1a\nstrip 2", "image/png");
    site.clearRecords();
    r = runTovik(dir.path(), "-cbz=alpha");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.list, "Wrote alpha.cbz: 3 of 3 pages\n");
    EXPECT_EQ(site.paths(), std::vector<std::string>{"/s/2.png"});

    EXPECT_EQ(runTovik(dir.path(), "-cbz=nosuchcomic").status, 1);
    EXPECT_FALSE(fs::exists(dir.file("nosuchcomic.cbz")));
    r = runTovik(dir.path(), "-cbz=../alpha");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("may not contain"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.path().parent_path() / "alpha.cbz"));
}

TEST_F(Cli, ReadSetsEveryPositionToTheLastPage) {
    plugin("alpha", "Alpha Comic");
    writeStorage(dir.path(), {{"alpha", pagesOf("a", 3)}, {"npwil", pagesOf("n", 5, 1)}});
    RunResult r = runTovik(dir.path(), "-read");
    EXPECT_EQ(r.status, 0) << r.out;
    auto after = readStorage(dir.path() / "storage.dat.zip");
    EXPECT_EQ(stateIn(*after, "alpha").position, 2);
    EXPECT_EQ(stateIn(*after, "npwil").position, 4);
    EXPECT_EQ(stateIn(*after, "chisuji").position, 0);  // no pages
    ComicState expected = pagesOf("a", 3, 2);
    EXPECT_EQ(stateIn(*after, "alpha"), expected);
}

TEST_F(Cli, ExportAndImportMovePluginsIntoArchivesAndBack) {
    plugin("alpha", "Alpha Comic");
    plugin("beta", "Beta Comic");
    writeStorage(dir.path(), {{"alpha", pagesOf("a", 4, 2)},
                              {"beta", pagesOf("b", 2)},
                              {"questionablecontent", pagesOf("q", 3)},
                              {"gone", pagesOf("g", 1)}});

    RunResult out = runTovik(dir.path(), "-export");
    EXPECT_EQ(out.status, 0) << out.out;
    EXPECT_FALSE(fs::exists(dir.file("plugins/alpha.re")));
    ASSERT_TRUE(fs::exists(dir.file("plugins/alpha.re.zip")));
    auto zip = readStorage(dir.path() / "plugins/alpha.re.zip");
    EXPECT_EQ(zip->names(), (std::vector<std::string>{"alpha", "plugins/alpha.re"}));
    EXPECT_EQ(stateIn(*zip, "alpha"), pagesOf("a", 4, 2));
    auto shared = readStorage(dir.path() / "storage.dat.zip");
    EXPECT_FALSE(shared->has("alpha"));
    EXPECT_EQ(stateIn(*shared, "questionablecontent"), pagesOf("q", 3));
    EXPECT_TRUE(shared->has("gone"));  // members of vanished comics are kept
    std::string ini = readFile(dir.file("tovik.ini"));
    EXPECT_NE(ini.find("[QC]\nactive = false"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[snafu: Sugar Bits]\nactive = false"), std::string::npos);

    RunResult in = runTovik(dir.path(), "-import");
    EXPECT_EQ(in.status, 0) << in.out;
    EXPECT_TRUE(fs::exists(dir.file("plugins/alpha.re")));
    EXPECT_FALSE(fs::exists(dir.file("plugins/alpha.re.zip")));
    EXPECT_EQ(readFile(dir.file("plugins/beta.re")), pluginText("Beta Comic"));
    shared = readStorage(dir.path() / "storage.dat.zip");
    EXPECT_EQ(stateIn(*shared, "alpha"), pagesOf("a", 4, 2));
    EXPECT_EQ(stateIn(*shared, "beta"), pagesOf("b", 2));
    ini = readFile(dir.file("tovik.ini"));
    EXPECT_EQ(ini.find("active = false"), std::string::npos) << ini;
    EXPECT_EQ(
        runTovik(dir.path(), "-h")
            .list.rfind("applegeeks\nnpwil\nquestionablecontent\nalpha\nbeta\ngrim.snafu\n", 0),
        0u);
}

TEST_F(Cli, UnwritableConfigurationDoesNotStopTheStorage) {
    fs::create_directory(dir.path() / "tovik.ini");  // no file can replace a directory
    writeStorage(dir.path(), {{"chisuji", pagesOf("c", 3)}});
    RunResult r = runTovik(dir.path(), "-read");
    EXPECT_EQ(r.status, 0) << r.out;
    auto shared = readStorage(dir.path() / "storage.dat.zip");
    EXPECT_EQ(stateIn(*shared, "chisuji").position, 2);
    EXPECT_TRUE(shared->has("earthsong"));
}

TEST_F(Cli, BadActiveValueEndsTheRun) {
    writeFile(dir.file("tovik.ini"), "[QC]\nactive = yes\n");
    RunResult r = runTovik(dir.path(), "-h");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("| dead[Main]\n| main failed: Cannot parse yes as bool\n\\---"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.list, "");
}

// The window needs its font: in an empty working directory the interactive run
// fails cleanly, before the loop, and writes nothing.
TEST_F(Cli, InteractiveRunWithoutItsFontFailsCleanly) {
    for (const char* args : {"", "-c", "-unknown"}) {
        RunResult r = runTovik(dir.path(), args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_NE(r.out.find("main failed: "), std::string::npos) << args;
        EXPECT_FALSE(fs::exists(dir.file("storage.dat.zip")));
    }
}

// A user's real data: 1,000 plugin comics of 200 pages each. Every file is
// flushed to disk when written, so the directory lives on a memory file system
// where there is one: this test is about the data, not the disk's flush time.
class BigCli : public Cli {
protected:
    void SetUp() override {
        if (!fs::exists(tovik)) GTEST_SKIP() << "build the tovik target first";
        std::string pattern =
            (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
            "tovik-big-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        big = pattern;
        fs::create_directory(big / "plugins");
    }
    void TearDown() override {
        std::error_code ignored;
        if (!big.empty()) fs::remove_all(big, ignored);
    }
    std::string file(const std::string& name) const { return (big / name).string(); }
    fs::path big;
};

TEST_F(BigCli, LargeDataSetSurvivesReadExportAndImport) {
    std::map<std::string, ComicState> states;
    for (int i = 0; i < 1000; ++i) {
        std::string id = "comic" + std::to_string(1000 + i);
        writeFile(file("plugins/" + id + ".re"), pluginText("Comic " + std::to_string(i)));
        states[id] = pagesOf(id, 200, i % 200);
    }
    writeStorage(big, states);

    ASSERT_EQ(runTovik(big, "-read").status, 0);
    auto shared = readStorage(big / "storage.dat.zip");
    for (auto& [id, state] : states) {
        state.position = 199;
        ASSERT_EQ(stateIn(*shared, id), state) << id;
    }

    ASSERT_EQ(runTovik(big, "-export").status, 0);
    shared = readStorage(big / "storage.dat.zip");
    for (const auto& [id, state] : states) {
        ASSERT_FALSE(shared->has(id));
        ASSERT_FALSE(fs::exists(file("plugins/" + id + ".re")));
        ASSERT_EQ(stateIn(*readStorage(big / ("plugins/" + id + ".re.zip")), id), state);
    }

    ASSERT_EQ(runTovik(big, "-import").status, 0);
    shared = readStorage(big / "storage.dat.zip");
    for (const auto& [id, state] : states) {
        ASSERT_EQ(stateIn(*shared, id), state) << id;
        ASSERT_TRUE(fs::exists(file("plugins/" + id + ".re")));
        ASSERT_FALSE(fs::exists(file("plugins/" + id + ".re.zip")));
    }
}

}  // namespace
