// "-update" and the library's lock, run as the built reader in temporary
// libraries against loopback comics.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "comics/base.hpp"
#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "support/http_server.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "tools/library_lock.hpp"

namespace fs = std::filesystem;
using testsupport::Child;
using testsupport::HttpServer;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string tovik = TOVIK_BINARY_DIR "/tovik";
const char* const veraPath = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

bool waitFor(const std::function<bool()>& ready, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ready();
}

class Update : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(tovik)) GTEST_SKIP() << "build the tovik target first";
        fs::create_directory(dir.path() / "plugins");
        // The built-in comics need the internet: none of them is followed here.
        setIni(1);
    }

    void setIni(int lockWait) {
        writeFile(dir.file("tovik.ini"), "lock_wait = " + std::to_string(lockWait) + "\n" +
                                             readFile(TOVIK_SOURCE_DIR "/demo/tovik.ini"));
    }

    // A comic of count pages under /<tag>/; each page waits delay before it answers.
    void site(const std::string& tag, int count,
              std::chrono::milliseconds delay = std::chrono::milliseconds(0),
              bool withStrips = true) {
        for (int n = 1; n <= count; ++n) {
            std::string text = "<html><h1>" + tag + " " + std::to_string(n) + "</h1>";
            if (withStrips) text += "<img src=\"/" + tag + "/" + std::to_string(n) + ".png\">";
            if (n < count)
                text += "<a href=\"/" + tag + "/" + std::to_string(n + 1) + ".html\" rel=\"next\">";
            text += "</html>";
            const std::string reply = HttpServer::response(text);
            server.handle("/" + tag + "/" + std::to_string(n) + ".html",
                          [reply, delay](const std::string&) {
                              std::this_thread::sleep_for(delay);
                              return HttpServer::Reply(reply);
                          });
        }
        writeFile(dir.file("plugins/" + tag + ".re"),
                  "name=" + tag + "\nfilename=" + tag +
                      "\nstart=" + server.url("/" + tag + "/1.html") +
                      "\nnext=@<a href=\"([^\"]*)\" rel=\"next\">@$1\n"
                      "images=@<img src=\"([^\"]*)\">@$1\n"
                      "title=@<h1>([^<]*)</h1>@$1\n");
    }

    std::string command(const std::string& args) const {
        return "cd '" + dir.path().string() + "' && exec env -u DISPLAY -u WAYLAND_DISPLAY '" +
               tovik + "' " + args;
    }

    // A shell command line run in the library.
    RunResult shell(const std::string& line) {
        RunResult r;
        std::FILE* pipe =
            popen(("cd '" + dir.path().string() + "' && { " + line + "; } 2>err.txt").c_str(), "r");
        if (!pipe) return r;
        char block[65536];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, pipe)) > 0;)
            r.out.append(block, n);
        const int raw = pclose(pipe);
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.err = readFile(dir.file("err.txt"));
        return r;
    }
    RunResult run(const std::string& args) {
        return shell("env -u DISPLAY -u WAYLAND_DISPLAY '" + tovik + "' " + args);
    }

    std::unique_ptr<Child> start(const std::string& args, const std::string& out) {
        return std::make_unique<Child>(command(args) + " > " + out + " 2>&1");
    }

    comics::ComicState stored(const std::string& id) {
        comics::FileStorage storage;
        storage.read(readFile(dir.file("storage.dat.zip")));
        return comics::serialize::decode(storage.get(id));
    }

    std::size_t requestsFor(const std::string& tag) {
        std::size_t n = 0;
        for (const std::string& p : server.paths()) n += p.rfind("/" + tag + "/", 0) == 0;
        return n;
    }

    HttpServer server;
    testsupport::TempDir dir;
};

TEST_F(Update, StoresNewStripsAndSummarises) {
    site("alpha", 3);
    site("beta", 2);
    RunResult r = run("-update");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("alpha: 3 new strips\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("beta: 2 new strips\n"), std::string::npos);
    EXPECT_NE(r.out.find("Updated 2 of 2 comics, 5 new strips, 0 failed\n"), std::string::npos);
    EXPECT_EQ(r.out.find("| "), std::string::npos) << "log lines belong in tovik.log";
    EXPECT_EQ(r.out.find("\r"), std::string::npos) << "no progress bar without a terminal";
    EXPECT_NE(readFile(dir.file("tovik.log")).find("| Updating alpha"), std::string::npos);
    EXPECT_EQ(stored("alpha").pages.size(), 3u);
    EXPECT_EQ(stored("alpha").pages[2].title(), "alpha 3");

    // One more strip: only it is new; the other comic reports none.
    site("alpha", 4);
    r = run("-update");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("alpha: 1 new strip\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("beta: no new strips\n"), std::string::npos);
    EXPECT_NE(r.out.find("Updated 2 of 2 comics, 1 new strip, 0 failed\n"), std::string::npos);
    EXPECT_EQ(stored("alpha").pages.size(), 4u);

    // Usage errors: nothing after -update.
    r = run("-update now");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
}

TEST_F(Update, KeptComicsGetEveryStripOthersNone) {
    site("alpha", 3);
    site("beta", 2);
    site("gamma", 2);
    for (int n = 1; n <= 4; ++n)
        server.route("/alpha/" + std::to_string(n) + ".png",
                     "\x89PNG\r\n\x1a\nstrip " + std::to_string(n), "image/png");
    server.route("/beta/1.png", "\x89PNG\r\n\x1a\nbeta", "image/png");  // beta 2 is gone
    writeFile(dir.file("tovik.ini"), readFile(dir.file("tovik.ini")) +
                                         "\n[alpha]\nkeep_strips = true\n"
                                         "[beta]\nkeep_strips = true\n");
    RunResult r = run("-update");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("alpha: 3 new strips, all strips kept\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("beta: 2 new strips, 1 strip not downloaded yet\n"), std::string::npos)
        << r.out << readFile(dir.file("tovik.log"));
    EXPECT_NE(r.out.find("gamma: 2 new strips\n"), std::string::npos);
    auto asked = [&](const std::string& path) {
        const auto paths = server.paths();
        return static_cast<std::size_t>(std::count(paths.begin(), paths.end(), path));
    };
    auto stripFiles = [&] {
        std::size_t n = 0;
        for (const auto& e : fs::directory_iterator(dir.file("strips"))) n += e.is_regular_file();
        return n;
    };
    EXPECT_EQ(stripFiles(), 4u);
    EXPECT_EQ(asked("/gamma/1.png"), 0u);  // a comic that does not keep them

    // The next update fetches only the strip of the new page.
    site("alpha", 4);
    r = run("-update");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("alpha: 1 new strip, all strips kept\n"), std::string::npos) << r.out;
    EXPECT_EQ(stripFiles(), 5u);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(asked("/alpha/" + std::to_string(n) + ".png"), 1u);
}

TEST_F(Update, FailingComicIsNamedWithItsReason) {
    site("alpha", 3);
    site("broken", 3, std::chrono::milliseconds(0), false);  // pages without strips
    writeFile(dir.file("plugins/gone.re"),
              "name=gone\nfilename=gone\nstart=" + server.url("/nowhere.html") +
                  "\nnext=@x@$1\nimages=@x@$1\ntitle=@x@$1\n");
    RunResult r = run("-update");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("broken: failed: No comics found\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("gone: failed: "), std::string::npos);
    EXPECT_NE(r.out.find("Updated 1 of 3 comics, 3 new strips, 2 failed\n"), std::string::npos);
    EXPECT_NE(r.out.find("\n  broken: No comics found\n"), std::string::npos);
    EXPECT_EQ(stored("alpha").pages.size(), 3u);  // the good comic is saved all the same

    // A start-up error: status 2, the reason on standard error.
    writeFile(dir.file("tovik.ini"), "[QC]\nactive = maybe\n");
    r = run("-update");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Cannot parse maybe as bool"), std::string::npos) << r.err;
}

TEST_F(Update, SigtermStopsAfterTheRunningPagesAndSaves) {
    site("slow", 3);
    ASSERT_EQ(run("-update").status, 0);
    ASSERT_EQ(run("-read").status, 0);  // position 2, the last strip
    comics::FileStorage withStranger;
    withStranger.read(readFile(dir.file("storage.dat.zip")));
    withStranger.put("stranger", "kept as it is");
    writeFile(dir.file("storage.dat.zip"), withStranger.build());

    site("slow", 30, std::chrono::milliseconds(150));
    server.clearRecords();
    auto update = start("-update", "out.txt");
    ASSERT_TRUE(waitFor([&] { return requestsFor("slow") >= 4; }, 15000));
    update->signal(SIGTERM);
    const int status = update->wait(10000);
    const std::string out = readFile(dir.file("out.txt"));
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("Stopping after the pages being crawled\n"), std::string::npos) << out;
    EXPECT_NE(out.find("slow: failed: Update interrupted\n"), std::string::npos) << out;
    EXPECT_LT(requestsFor("slow"), 30u);

    comics::ComicState state = stored("slow");
    EXPECT_EQ(state.position, 2);
    EXPECT_GT(state.pages.size(), 3u);
    EXPECT_LT(state.pages.size(), 30u);
    comics::FileStorage after;
    after.read(readFile(dir.file("storage.dat.zip")));
    EXPECT_EQ(after.get("stranger"), "kept as it is");

    // The next run goes on where this one stopped.
    site("slow", 30);
    RunResult r = run("-update");
    EXPECT_EQ(r.status, 0) << r.out;
    state = stored("slow");
    ASSERT_EQ(state.pages.size(), 30u);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(state.pages[i].title(), "slow " + std::to_string(i + 1));
    EXPECT_EQ(state.position, 2);
}

TEST_F(Update, SecondUpdateWaitsThenGivesUpWritingNothing) {
    site("slow", 12, std::chrono::milliseconds(200));
    auto first = start("-update", "first.txt");
    ASSERT_TRUE(waitFor([&] { return requestsFor("slow") >= 1; }, 15000));
    const auto startedAt = std::chrono::steady_clock::now();
    RunResult second = run("-update");
    const auto waited = std::chrono::steady_clock::now() - startedAt;
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("another tovik is still using the comic library in"),
              std::string::npos)
        << second.err;
    EXPECT_EQ(second.out, "");
    EXPECT_GE(waited, std::chrono::milliseconds(900));  // lock_wait = 1
    EXPECT_FALSE(fs::exists(dir.file("storage.dat.zip")));

    EXPECT_EQ(first->wait(20000), 0);
    // The log is the first one's alone, from its first line.
    const std::string log = readFile(dir.file("tovik.log"));
    EXPECT_EQ(log.rfind("| Logfile open\n", 0), 0u) << log.substr(0, 200);
    EXPECT_NE(log.find("Updating slow"), std::string::npos);
    EXPECT_EQ(stored("slow").pages.size(), 12u);
}

TEST_F(Update, WindowHoldsTheLibraryUntilItEndsEvenByKill) {
    if (!fs::exists(veraPath)) GTEST_SKIP() << "the window needs ttf-bitstream-vera";
    fs::create_symlink(veraPath, dir.path() / "vera.ttf");
    site("alpha", 3);
    auto window =
        std::make_unique<Child>("cd '" + dir.path().string() + "' && SDL_VIDEODRIVER=dummy exec '" +
                                tovik + "' > window.txt 2>&1");
    // The window holds the lock from before its start-up to its end.
    ASSERT_TRUE(waitFor([&] { return tools::LibraryLock::busy(dir.file("tovik.lock")); }, 20000));

    RunResult update = run("-update");
    EXPECT_EQ(update.status, 1);
    EXPECT_NE(update.err.find("another tovik is still using"), std::string::npos) << update.err;
    EXPECT_EQ(requestsFor("alpha"), 0u);

    RunResult secondWindow = run("");  // no display: it would fail later, but the lock comes first
    EXPECT_EQ(secondWindow.status, 1);
    EXPECT_NE(secondWindow.err.find("another tovik is already using the comic library in " +
                                    fs::canonical(dir.path()).string() + "; close it first"),
              std::string::npos)
        << secondWindow.err;
    for (const char* mode : {"-export", "-import", "-read", "-cbz=alpha"})
        EXPECT_EQ(run(mode).status, 1) << mode;
    EXPECT_FALSE(fs::exists(dir.file("storage.dat.zip")));
    EXPECT_FALSE(fs::exists(dir.file("alpha.cbz")));
    EXPECT_FALSE(fs::exists(dir.file("strips")));
    // Listing works beside the window.
    RunResult list = run("-h");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("\nalpha\n"), std::string::npos);

    // Killed, the window leaves its lock file behind; it blocks nothing.
    window->signal(SIGKILL);
    EXPECT_EQ(window->wait(5000), 128 + SIGKILL);
    EXPECT_TRUE(fs::exists(dir.file("tovik.lock")));
    update = run("-update");
    EXPECT_EQ(update.status, 0) << update.out << update.err;
    EXPECT_EQ(stored("alpha").pages.size(), 3u);
}

TEST_F(Update, DesktopLibraryIsSetUpOnFirstStart) {
    const std::string data = dir.file("data");
    const std::string library = data + "/tovik";
    RunResult r = run("-version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("tovik ", 0), 0u);
    EXPECT_FALSE(fs::exists(dir.file("tovik.log")));  // -version touches nothing

    r = shell("XDG_DATA_HOME='" + data + "' '" + tovik + "' -desktop -h");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\napplegeeks\n"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(library + "/plugins"));
    EXPECT_NE(readFile(library + "/tovik.ini").find("lock_wait = 60"), std::string::npos);
    EXPECT_TRUE(fs::exists(library + "/tovik.log"));
    if (fs::exists(veraPath)) {
        ASSERT_TRUE(fs::is_symlink(library + "/vera.ttf"));
        EXPECT_EQ(fs::read_symlink(library + "/vera.ttf"), fs::path(veraPath));
    }
    // The arguments after -desktop are the command line.
    writeFile(library + "/plugins/mine.re",
              "name=Mine\nstart=127.0.0.1:9/\nnext=@x@$1\nimages=@x@$1\ntitle=@x@$1\n");
    r = shell("XDG_DATA_HOME='" + data + "' '" + tovik + "' -desktop -hh");
    EXPECT_NE(r.out.find("\nMine\n"), std::string::npos) << r.out;

    // Without any home, the desktop modes cannot start.
    r = shell("env -u HOME -u XDG_DATA_HOME '" + tovik + "' -desktop -update");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("HOME is not set"), std::string::npos) << r.err;
    r = shell("env -u HOME -u XDG_DATA_HOME '" TOVIK_BINARY_DIR "/wendle' -desktop < /dev/null");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("wendle: "), std::string::npos) << r.err;
}

}  // namespace
