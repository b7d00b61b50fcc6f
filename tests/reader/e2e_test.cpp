// End to end: the built reader in a temporary working directory on a virtual
// X display, driven with xdotool against a loopback comic site, checked with
// screenshots and the storage it leaves. Skipped where Xvfb, xdotool or
// ImageMagick's import is missing.
#include <gd.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "support/http_server.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using testsupport::capture;
using testsupport::readFile;
using testsupport::writeFile;
using Clock = std::chrono::steady_clock;

namespace {

const std::string tovik = TOVIK_BINARY_DIR "/tovik";
const char* const veraPath = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

struct Colour {
    int r, g, b;
};
// Strip n (1-based) is one colour, far from the window's greys.
Colour stripColour(int n) {
    static const Colour colours[] = {
        {220, 20, 20}, {20, 200, 40}, {30, 40, 220}, {230, 200, 10}, {200, 20, 200}};
    return colours[(n - 1) % 5];
}

std::string pngOf(int width, int height, Colour c) {
    gdImagePtr image = gdImageCreateTrueColor(width, height);
    gdImageFilledRectangle(image, 0, 0, width - 1, height - 1, gdTrueColor(c.r, c.g, c.b));
    int size = 0;
    void* bytes = gdImagePngPtr(image, &size);
    std::string png(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
    gdFree(bytes);
    gdImageDestroy(image);
    return png;
}

// Pixels of a colour in a PNG file.
int countColour(const std::string& file, Colour c) {
    std::string bytes = readFile(file);
    gdImagePtr image = gdImageCreateFromPngPtr(static_cast<int>(bytes.size()), bytes.data());
    if (!image) return -1;
    int n = 0;
    for (int y = 0; y < gdImageSY(image); ++y)
        for (int x = 0; x < gdImageSX(image); ++x) {
            int p = gdImageGetTrueColorPixel(image, x, y);
            if (gdTrueColorGetRed(p) == c.r && gdTrueColorGetGreen(p) == c.g &&
                gdTrueColorGetBlue(p) == c.b)
                ++n;
        }
    gdImageDestroy(image);
    return n;
}

// A process started by the test, ended by its id when the test is done.
class Child {
public:
    Child() = default;
    explicit Child(const std::string& command) {
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit status once it ended within the time, else -1.
    int wait(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (pid_ > 0 && Clock::now() < end) {
            int status = 0;
            pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        if (wait(3000) < 0 && pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

template <class Done>
bool waitFor(Done done, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "import"})
            if (!testsupport::haveProgram(tool))
                GTEST_SKIP() << "end-to-end test skipped: " << tool << " is not installed";
        if (!fs::exists(tovik)) GTEST_SKIP() << "end-to-end test skipped: build the tovik target";
        if (!fs::exists(veraPath)) GTEST_SKIP() << "end-to-end test skipped: no Vera font";
        for (int n = 91; n < 140; ++n) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
                fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
                continue;
            display = ":" + std::to_string(n);
            break;
        }
        ASSERT_FALSE(display.empty());
        xvfb = std::make_unique<Child>(
            "Xvfb " + display + " -screen 0 800x600x24 -nolisten tcp -noreset >/dev/null 2>&1");
        // Ready when it answers a client, not merely when its socket exists.
        ASSERT_TRUE(waitFor([&] { return !x("getdisplaygeometry").empty(); }, 15000))
            << "Xvfb did not start";

        // The fixture site: five pages, strips of known colours.
        for (int n = 1; n <= 5; ++n) {
            std::string text = "<html><body>\n<h1 class=\"title\">Strip " + std::to_string(n) +
                               "</h1>\n<img src=\"/strips/" + std::to_string(n) +
                               ".png\" class=\"strip\">\n";
            if (n < 5)
                text += "<a href=\"" + std::to_string(n + 1) + ".html\" rel=\"next\">Next</a>\n";
            text += "</body></html>\n";
            site.route("/comic/" + std::to_string(n) + ".html", text);
            site.route("/strips/" + std::to_string(n) + ".png", pngOf(300, 200, stripColour(n)),
                       "image/png");
        }
        fs::create_directory(work.path() / "plugins");
        writeFile(work.file("plugins/fixture.re"),
                  "name=Fixture\nfilename=fixture\nstart=" + site.url("/comic/1.html") +
                      "\nnext=@<a href=\"([^\"]*)\" rel=\"next\">@$1\n"
                      "images=@<img src=\"([^\"]*)\" class=\"strip\">@$1\n"
                      "title=@<h1 class=\"title\">([^<]*)</h1>@$1\n");
        fs::copy_file(veraPath, work.file("vera.ttf"));
        // The built-in comics stay in the "available" tab (they need the internet).
        fs::copy_file(TOVIK_SOURCE_DIR "/demo/tovik.ini", work.file("tovik.ini"));
    }
    void TearDown() override {
        reader.reset();
        xvfb.reset();
    }

    std::string x(const std::string& args) {
        return trim(capture("DISPLAY=" + display + " xdotool " + args + " 2>/dev/null"));
    }
    void startReader() {
        reader = std::make_unique<Child>(
            "env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "
            "ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" DISPLAY=" +
            display + " sh -c 'cd \"" + work.path().string() + "\" && exec stdbuf -oL \"" + tovik +
            "\" > out.txt 2>&1'");
        ASSERT_TRUE(waitFor([&] { return !x("search --name 'TOVIK.2 ready'").empty(); }, 15000))
            << "no window; the reader wrote:\n"
            << readFile(work.file("out.txt")).substr(0, 4000);
        window = x("search --name 'TOVIK.2 ready'");
        window = window.substr(0, window.find('\n'));
        x("windowfocus " + window);
    }
    std::string title() { return x("getwindowname " + window); }
    void key(const std::string& k) {
        x("windowfocus " + window);
        x("key " + k);
    }
    int pixelsOf(int strip) {
        const std::string shot = work.file("shot.png");
        EXPECT_EQ(testsupport::run("DISPLAY=" + display + " import -window root '" + shot + "'"),
                  0);
        return countColour(shot, stripColour(strip));
    }
    std::size_t requestsFor(const std::string& path) {
        auto paths = site.paths();
        return static_cast<std::size_t>(std::count(paths.begin(), paths.end(), path));
    }

    std::string display;
    std::unique_ptr<Child> xvfb, reader;
    testsupport::HttpServer site;
    testsupport::TempDir work;
    std::string window;
};

TEST_F(EndToEnd, UpdateReadPageDownQuitAndComeBack) {
    ASSERT_NO_FATAL_FAILURE(startReader());
    EXPECT_EQ(title(), "TOVIK.2 ready");

    // F5 crawls the site.
    key("F5");
    ASSERT_TRUE(waitFor([&] { return requestsFor("/comic/5.html") > 0; }, 15000));
    ASSERT_TRUE(waitFor(
        [&] { return readFile(work.file("out.txt")).find(" succeeded") != std::string::npos; },
        15000))
        << readFile(work.file("out.txt"));

    // Selecting the comic (its row is the first of the active tab) shows strip 1.
    x("mousemove --window " + window + " 100 30 click 1");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 1"; }, 10000)) << title();
    EXPECT_GT(pixelsOf(1), 300 * 150);
    // Its next strip was prefetched before anyone asked to see it.
    ASSERT_TRUE(waitFor([&] { return requestsFor("/strips/2.png") == 1; }, 5000));

    key("Next");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 2"; }, 10000)) << title();
    EXPECT_GT(pixelsOf(2), 300 * 150);
    EXPECT_EQ(pixelsOf(1), 0);
    // Shown from the cache: fetched once; the two after it were prefetched.
    EXPECT_EQ(requestsFor("/strips/2.png"), 1u);
    ASSERT_TRUE(waitFor(
        [&] { return requestsFor("/strips/3.png") == 1 && requestsFor("/strips/4.png") == 1; },
        5000));

    key("Escape");
    EXPECT_EQ(reader->wait(30000), 0);
    comics::FileStorage stored;
    stored.read(readFile(work.file("storage.dat.zip")));
    comics::ComicState state = comics::serialize::decode(stored.get("fixture"));
    EXPECT_EQ(state.pages.size(), 5u);
    EXPECT_EQ(state.position, 1);
    const std::string log = readFile(work.file("tovik.log"));
    EXPECT_NE(log.find("| UI terminating"), std::string::npos);
    EXPECT_NE(log.find("| Exit main thread, hard."), std::string::npos);

    // A second start shows the same position.
    ASSERT_NO_FATAL_FAILURE(startReader());
    x("mousemove --window " + window + " 100 30 click 1");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 2"; }, 10000)) << title();
    EXPECT_GT(pixelsOf(2), 300 * 150);
    key("Escape");
    EXPECT_EQ(reader->wait(30000), 0);
}

TEST_F(EndToEnd, StoredStripsShowOfflineOthersSayNotDownloaded) {
    ASSERT_NO_FATAL_FAILURE(startReader());
    key("F5");
    ASSERT_TRUE(waitFor(
        [&] { return readFile(work.file("out.txt")).find(" succeeded") != std::string::npos; },
        15000));
    x("mousemove --window " + window + " 100 30 click 1");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 1"; }, 10000)) << title();
    // Strip 1 shown, strip 2 prefetched: both kept on disk.
    auto stored = [&] {
        if (!fs::exists(work.file("strips"))) return 0;
        return static_cast<int>(
            std::distance(fs::directory_iterator(work.file("strips")), fs::directory_iterator()));
    };
    ASSERT_TRUE(waitFor([&] { return stored() == 2; }, 10000)) << stored();
    key("Escape");
    EXPECT_EQ(reader->wait(30000), 0);

    // The site goes away; the reader starts again.
    site.stop();
    ASSERT_NO_FATAL_FAILURE(startReader());
    x("mousemove --window " + window + " 100 30 click 1");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 1"; }, 10000)) << title();
    EXPECT_GT(pixelsOf(1), 300 * 150);
    key("Next");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 2"; }, 10000)) << title();
    EXPECT_GT(pixelsOf(2), 300 * 150);
    key("Next");
    ASSERT_TRUE(waitFor(
        [&] {
            return readFile(work.file("out.txt")).find("| Not downloaded yet") != std::string::npos;
        },
        20000))
        << readFile(work.file("out.txt"));
    ASSERT_TRUE(waitFor([&] { return pixelsOf(2) == 0; }, 5000));
    EXPECT_EQ(pixelsOf(3), 0);
    const std::string out = readFile(work.file("out.txt"));
    // The stored strips were never asked of the network.
    EXPECT_EQ(out.find("strips/1.png failed"), std::string::npos);
    EXPECT_EQ(out.find("strips/2.png failed"), std::string::npos);
    EXPECT_NE(out.find("strips/3.png failed"), std::string::npos);
    key("Escape");
    EXPECT_EQ(reader->wait(30000), 0);
}

}  // namespace
