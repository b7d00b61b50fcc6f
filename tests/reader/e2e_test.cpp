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

// Pixels of a colour in a PNG file (each channel within tolerance: lossy
// formats move colours a little).
int countColour(const std::string& file, Colour c, int tolerance = 0) {
    std::string bytes = readFile(file);
    gdImagePtr image = gdImageCreateFromPngPtr(static_cast<int>(bytes.size()), bytes.data());
    if (!image) return -1;
    int n = 0;
    for (int y = 0; y < gdImageSY(image); ++y)
        for (int x = 0; x < gdImageSX(image); ++x) {
            int p = gdImageGetTrueColorPixel(image, x, y);
            if (std::abs(gdTrueColorGetRed(p) - c.r) <= tolerance &&
                std::abs(gdTrueColorGetGreen(p) - c.g) <= tolerance &&
                std::abs(gdTrueColorGetBlue(p) - c.b) <= tolerance)
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
    int pixelsOf(int strip, int tolerance = 0) {
        const std::string shot = work.file("shot.png");
        EXPECT_EQ(testsupport::run("DISPLAY=" + display + " import -window root '" + shot + "'"),
                  0);
        return countColour(shot, stripColour(strip), tolerance);
    }
    // Page n of the site, linking on to page n + 1 when more follow.
    void routePage(int n, bool more, bool strip = true) {
        std::string text =
            "<html><body>\n<h1 class=\"title\">Strip " + std::to_string(n) + "</h1>\n";
        if (strip) text += "<img src=\"/strips/" + std::to_string(n) + ".png\" class=\"strip\">\n";
        if (more) text += "<a href=\"" + std::to_string(n + 1) + ".html\" rel=\"next\">Next</a>\n";
        site.route("/comic/" + std::to_string(n) + ".html", text + "</body></html>\n");
    }
    // Strip n's colour in a file written by a tool: "TOOL ... IN ... OUT".
    std::string made(int n, const std::string& command, const std::string& name) {
        const Colour c = stripColour(n);
        const std::string in = work.file("in" + std::to_string(n) + ".png");
        writeFile(in, pngOf(300, 200, c));
        const std::string out = work.file(name);
        std::string line = command;
        line.replace(line.find("IN"), 2, "'" + in + "'");
        line.replace(line.find("OUT"), 3, "'" + out + "'");
        if (testsupport::run(line + " >/dev/null 2>&1") != 0) return {};
        return readFile(out);
    }
    void crawl(const std::string& until) {
        key("F5");
        ASSERT_TRUE(waitFor(
            [&] { return readFile(work.file("out.txt")).find(until) != std::string::npos; }, 15000))
            << readFile(work.file("out.txt"));
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

TEST_F(EndToEnd, TodaysFormatsShowAndBrokenStripsShowTheirPage) {
    for (const char* tool : {"cwebp", "img2webp", "avifenc", "convert"})
        if (!testsupport::haveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    // 2: lossy WebP; 3: animated WebP whose first frame is strip 3's colour;
    // 4: AVIF; 5: BMP; 6: damaged WebP; 7: a BMP too large to show.
    const std::string webp = made(2, "cwebp -quiet -q 95 IN -o OUT", "2.webp");
    writeFile(work.file("other.png"), pngOf(300, 200, stripColour(1)));
    const std::string animated =
        made(3, "img2webp -lossless IN '" + work.file("other.png") + "' -o OUT", "3.webp");
    const std::string avif = made(4, "avifenc -s 10 IN OUT", "4.avif");
    const std::string bmp = made(5, "convert IN OUT", "5.bmp");
    ASSERT_FALSE(webp.empty() || animated.empty() || avif.empty() || bmp.empty());
    site.route("/strips/2.png", webp, "image/webp");
    site.route("/strips/3.png", animated, "image/webp");
    site.route("/strips/4.png", avif, "image/avif");
    site.route("/strips/5.png", bmp, "image/bmp");
    site.route("/strips/6.png", webp.substr(0, 30) + std::string(60, '\x33'), "image/webp");
    std::string huge = bmp;
    huge[18] = 0;
    huge[19] = 0;
    huge[20] = 2;  // 131072 pixels wide
    site.route("/strips/7.png", huge, "image/bmp");
    routePage(5, true);
    routePage(6, true);
    routePage(7, false);

    ASSERT_NO_FATAL_FAILURE(startReader());
    ASSERT_NO_FATAL_FAILURE(crawl(" succeeded"));
    x("mousemove --window " + window + " 100 30 click 1");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 1"; }, 10000)) << title();
    for (int n = 2; n <= 5; ++n) {
        SCOPED_TRACE(n);
        key("Next");
        const std::string wanted = "tovik [Fixture] - Strip " + std::to_string(n);
        ASSERT_TRUE(waitFor([&] { return title() == wanted; }, 10000)) << title();
        ASSERT_TRUE(waitFor([&] { return pixelsOf(n, 12) > 300 * 150; }, 5000));
        EXPECT_EQ(pixelsOf(n - 1), 0);
    }
    // The strips that cannot be shown: their own page in the caption, their
    // error text in place of the strip before them.
    for (int n = 6; n <= 7; ++n) {
        key("Next");
        const std::string wanted = "tovik [Fixture] - Strip " + std::to_string(n);
        ASSERT_TRUE(waitFor([&] { return title() == wanted; }, 10000)) << title();
        ASSERT_TRUE(waitFor([&] { return pixelsOf(5, 12) == 0; }, 5000));
    }
    key("Escape");
    EXPECT_EQ(reader->wait(30000), 0);
    const std::string log = readFile(work.file("tovik.log"));
    EXPECT_NE(log.find("Image too large: 131072 x 200"), std::string::npos);
    comics::FileStorage stored;
    stored.read(readFile(work.file("storage.dat.zip")));
    EXPECT_EQ(comics::serialize::decode(stored.get("fixture")).position, 6);
}

TEST_F(EndToEnd, AFailedComicKeepsItsPagesAndPositionAcrossARestart) {
    ASSERT_NO_FATAL_FAILURE(startReader());
    ASSERT_NO_FATAL_FAILURE(crawl(" succeeded"));
    key("Escape");
    ASSERT_EQ(reader->wait(30000), 0);
    comics::FileStorage first;
    first.read(readFile(work.file("storage.dat.zip")));
    const comics::ComicState good = comics::serialize::decode(first.get("fixture"));
    ASSERT_EQ(good.pages.size(), 5u);

    // The site breaks: page 5 links on to a page without a strip.
    routePage(5, true);
    routePage(6, true, false);
    routePage(7, false);
    ASSERT_NO_FATAL_FAILURE(startReader());
    ASSERT_NO_FATAL_FAILURE(crawl("FAIL: No comics found"));
    x("mousemove --window " + window + " 100 30 click 1");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 1"; }, 10000)) << title();
    key("Next");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 2"; }, 10000)) << title();
    key("Next");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 3"; }, 10000)) << title();
    key("Escape");
    ASSERT_EQ(reader->wait(30000), 0);
    comics::FileStorage second;
    second.read(readFile(work.file("storage.dat.zip")));
    const comics::ComicState kept = comics::serialize::decode(second.get("fixture"));
    EXPECT_EQ(kept.pages, good.pages);
    EXPECT_EQ(kept.custom, good.custom);
    EXPECT_EQ(kept.position, 2);

    // And the next start opens it there.
    ASSERT_NO_FATAL_FAILURE(startReader());
    x("mousemove --window " + window + " 100 30 click 1");
    ASSERT_TRUE(waitFor([&] { return title() == "tovik [Fixture] - Strip 3"; }, 10000)) << title();
    EXPECT_GT(pixelsOf(3), 300 * 150);
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
    ASSERT_TRUE(waitFor([&] { return stored() == 2; }, 10000))
        << stored() << "\n"
        << readFile(work.file("out.txt")) << "\n"
        << readFile(work.file("tovik.log"));
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
