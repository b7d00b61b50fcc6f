// The soak: 64 plugin comics of up to 200 pages each on a loopback server whose
// sites grow while the reader runs, updated again and again while the window
// (dummy video driver) pages through them and switches between them. It runs
// for TOVIK_SOAK_SECONDS (default 4 s); scripts/soak.sh runs it for ten minutes
// under ThreadSanitizer. At the end the stored state of every comic must be
// whole: its strips in order from the first, none twice, the position inside.
#include <gd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "comics/base.hpp"
#include "comics/comic_site.hpp"
#include "comics/plugin_loading.hpp"
#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "gui/base.hpp"
#include "reader/interactive.hpp"
#include "sdloo/font.hpp"
#include "sdloo/window.hpp"
#include "support/http_server.hpp"
#include "support/temp_dir.hpp"
#include "tools/ini.hpp"
#include "tools/log.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::ComicSite;
using testsupport::HttpServer;

constexpr int comicCount = 64;
constexpr int finalPages = 200;

int soakSeconds() {
    const char* value = std::getenv("TOVIK_SOAK_SECONDS");
    int seconds = value ? std::atoi(value) : 0;
    return seconds > 0 ? seconds : 4;
}

std::string stripPng(int n) {
    gdImagePtr image = gdImageCreateTrueColor(40, 30);
    gdImageFilledRectangle(image, 0, 0, 39, 29, gdTrueColor(n % 256, 100, 200));
    int size = 0;
    void* bytes = gdImagePngPtr(image, &size);
    std::string png(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
    gdFree(bytes);
    gdImageDestroy(image);
    return png;
}

// The target of a request's first line.
std::string requestPath(const std::string& request) {
    std::size_t start = request.find(' ');
    if (start == std::string::npos) return {};
    std::size_t end = request.find(' ', start + 1);
    return request.substr(start + 1, end == std::string::npos ? end : end - start - 1);
}

// 64 sites under /c<k>/comic/<n>.html sharing the strips /strips/<n>.png; each
// starts with half its pages and grows to all of them over the soak.
class GrowingSites {
public:
    explicit GrowingSites(std::chrono::seconds span) : start_(Clock::now()), span_(span) {
        for (int n = 1; n <= finalPages; ++n)
            server.route(ComicSite::stripPath(n), stripPng(n), "image/png");
        server.fallback([this](const std::string& request) { return answer(request); });
    }

    int newest() const {
        const auto elapsed = Clock::now() - start_;
        const double share = std::chrono::duration<double>(elapsed) / span_;
        int n = finalPages / 2 + static_cast<int>(share * finalPages / 2);
        return n < finalPages ? n : finalPages;
    }

    std::string plugin(int k) const {
        const std::string id = std::to_string(k);
        return "name=Soak " + id + "\nfilename=soak" + id +
               "\nstart=" + server.url("/c" + id + "/comic/1.html") +
               "\nnext=@<a href=\"([^\"]*)\" rel=\"next\">@$1"
               "\nimages=@<img src=\"([^\"]*)\" class=\"strip\">@$1"
               "\ntitle=@<h1 class=\"title\">([^<]*)</h1>@$1\n";
    }

    HttpServer server;

private:
    HttpServer::Reply answer(const std::string& request) const {
        int comic = -1, page = 0;
        const std::string path = requestPath(request);
        if (std::sscanf(path.c_str(), "/c%d/comic/%d.html", &comic, &page) != 2 || comic < 0 ||
            page < 1 || page > newest())
            return HttpServer::response("<html>not here</html>", 404);
        const std::string next = page < newest() ? std::to_string(page + 1) + ".html" : "";
        return HttpServer::response(ComicSite::pageText(page, next));
    }

    Clock::time_point start_;
    std::chrono::duration<double> span_;
};

// Presses keys from another thread the way a reader would: paging, jumping,
// switching comics, and an update of all comics every few seconds; Escape at
// the end.
void pressKeys(Clock::time_point until, std::atomic<Clock::time_point::rep>& escapedAt) {
    auto press = [](SDLKey sym) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.keysym.sym = sym;
        SDL_PushEvent(&e);
    };
    const SDLKey keys[] = {SDLK_PAGEDOWN, SDLK_PAGEDOWN, SDLK_PAGEDOWN, SDLK_PAGEUP,
                           SDLK_RIGHT,    SDLK_LEFT,     SDLK_HOME,     SDLK_END,
                           SDLK_KP_PLUS,  SDLK_KP_PLUS,  SDLK_KP_MINUS, SDLK_DOWN};
    std::mt19937 random(17);
    auto nextUpdate = Clock::now();
    while (Clock::now() < until) {
        if (Clock::now() >= nextUpdate) {
            press(SDLK_F5);
            nextUpdate = Clock::now() + std::chrono::seconds(3);
        }
        press(keys[random() % std::size(keys)]);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    escapedAt = Clock::now().time_since_epoch().count();
    press(SDLK_ESCAPE);
}

TEST(Soak, SixtyFourComicsUpdateWhileTheWindowPages) {
    const int seconds = soakSeconds();
    testsupport::TempDir work(true);
    tools::useConfigFile("tovik.ini");
    GrowingSites sites{std::chrono::seconds(seconds)};
    std::filesystem::create_directory("plugins");
    for (int k = 0; k < comicCount; ++k)
        testsupport::writeFile("plugins/soak" + std::to_string(k) + ".re", sites.plugin(k));

    // The log goes to a file: the run writes tens of thousands of lines.
    std::FILE* logStream = std::fopen("soak.log", "w");
    ASSERT_NE(logStream, nullptr);
    tools::redirectLogOutput(logStream);
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    sdloo::startVideo();
    sdloo::startTTF();
    gui::setDefaultStyle(
        std::make_shared<gui::Style>("/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf"));
    comics::registry().clearForTests();
    comics::loadPlugins("plugins");
    ASSERT_EQ(comics::registry().snapshot().size(), static_cast<std::size_t>(comicCount));

    std::atomic<Clock::time_point::rep> escapedAt{0};
    std::jthread driver(pressKeys, Clock::now() + std::chrono::seconds(seconds),
                        std::ref(escapedAt));
    reader::InteractiveSettings settings;
    settings.exitHard = false;
    int status = -1;
    try {
        status = reader::interactiveRun(reader::InteractiveOptions{}, settings);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "the run failed: " << e.what();
    }
    const auto returned = Clock::now();
    driver.join();
    tools::redirectLogOutput(nullptr);
    std::fclose(logStream);
    EXPECT_EQ(status, 0);
    // The window answered Escape while 64 updates were crawling.
    const auto escaped = Clock::time_point(Clock::duration(escapedAt.load()));
    EXPECT_LT(returned - escaped, std::chrono::seconds(60));

    comics::FileStorage written;
    written.read(testsupport::readFile("storage.dat.zip"));
    int crawled = 0;
    std::size_t strips = 0;
    for (int k = 0; k < comicCount; ++k) {
        const std::string id = "soak" + std::to_string(k);
        if (!written.has(id)) continue;  // not saved before its first update ended
        const comics::ComicState state = comics::serialize::decode(written.get(id));
        ASSERT_LE(state.pages.size(), static_cast<std::size_t>(finalPages)) << id;
        for (std::size_t i = 0; i < state.pages.size(); ++i) {
            const std::string strip = ComicSite::stripPath(static_cast<int>(i) + 1);
            ASSERT_TRUE(state.pages[i].image().ends_with(strip))
                << id << " page " << i << ": " << state.pages[i].image();
        }
        EXPECT_GE(state.position, 0) << id;
        EXPECT_LE(state.position, static_cast<std::int32_t>(state.pages.size())) << id;
        crawled += state.pages.empty() ? 0 : 1;
        strips += state.pages.size();
    }
    std::printf("soak of %d s: %d of %d comics stored with %zu strips in all\n", seconds, crawled,
                comicCount, strips);
    EXPECT_GT(crawled, 0);
    comics::registry().clearForTests();
    gui::becomeLoopThread();
    gui::setDefaultStyle(nullptr);
    gui::drainRetired();
    sdloo::stopTTF();
    sdloo::stopVideo();
}

}  // namespace
