// The reader window under the dummy video driver: comic list order, count
// texts, layout, keys, type-ahead, paging with prefetches against a loopback
// strip server, updates, saves, tabs and the interactive run's shutdown.
#include "reader/window.hpp"

#include <gd.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "comics/strip_source.hpp"
#include "comics/strip_store.hpp"
#include "downloader/downloader.hpp"
#include "gui/layouts.hpp"
#include "reader/interactive.hpp"
#include "reader/key_map.hpp"
#include "reader/page_loading.hpp"
#include "sdloo/window.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "tools/ini.hpp"
#include "tools/log.hpp"

using namespace reader;
using comics::FileStorage;
using comics::Page;
using tools::SortMode;

namespace {

const char* const veraPath = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";
using Clock = std::chrono::steady_clock;

// A comic whose pages and behaviour the test sets.
class StubComic : public comics::Comic {
public:
    StubComic(FileStorage& s, std::string name) : Comic(s), name_(std::move(name)) {}
    std::string id() const override { return "id-" + name_; }
    std::string name() const override { return name_; }
    comics::LinkList urls() const override { return links; }
    void update(const comics::Callback& onChanged, const comics::Callback& onNewPages) override {
        updating = true;
        ++updates;
        tools::logln("Updating ", name_);
        while (hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (onUpdate) onUpdate(*this);
        onNewPages();
        onChanged();
        updating = false;
    }
    // An update that finds a page, then breaks as a plugin does.
    void breakMidUpdate() {
        keepAsGood();
        {
            std::lock_guard<std::recursive_mutex> held(lock());
            state_.pages.push_back(Page{"half", "Half", "", ""});
            state_.custom = "half way";
        }
        fail("No comics found");
    }
    void setPages(std::vector<Page> pages, std::int32_t position = 0) {
        comics::ComicState s;
        s.pages = std::move(pages);
        s.position = position;
        replaceState(std::move(s));
    }

    comics::LinkList links;
    std::atomic<int> updates{0};
    std::atomic<bool> hold{false};
    std::function<void(StubComic&)> onUpdate;

private:
    std::string name_;
};

std::vector<Page> plainPages(int n) {
    std::vector<Page> pages;
    for (int i = 0; i < n; ++i)
        pages.push_back(Page{"img" + std::to_string(i), "Strip " + std::to_string(i + 1), "", ""});
    return pages;
}

// A PNG of one colour.
std::string pngOf(int width, int height, int r, int g, int b) {
    gdImagePtr image = gdImageCreateTrueColor(width, height);
    gdImageFilledRectangle(image, 0, 0, width - 1, height - 1, gdTrueColor(r, g, b));
    int size = 0;
    void* bytes = gdImagePngPtr(image, &size);
    std::string png(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
    gdFree(bytes);
    gdImageDestroy(image);
    return png;
}

class Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        sdloo::startVideo();
        sdloo::startTTF();
        gui::setDefaultStyle(std::make_shared<gui::Style>(veraPath));
    }
    static void TearDownTestSuite() {
        gui::setDefaultStyle(nullptr);
        gui::drainRetired();
        sdloo::stopTTF();
        sdloo::stopVideo();
    }

    void SetUp() override {
        const std::string png = pngOf(8, 8, 0, 0, 0);
        server.fallback([png](const std::string&) {
            return testsupport::HttpServer::Reply(
                testsupport::HttpServer::response(png, 200, "image/png"));
        });
        tools::useConfigFile(dir.file("tovik.ini"));
        ASSERT_NE(SDL_SetVideoMode(640, 480, 32, SDL_ANYFORMAT | SDL_RESIZABLE), nullptr);
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
        }
        gui::becomeLoopThread();
    }
    void TearDown() override {
        ui.reset();
        pages.reset();
        updates.reset();
        gui::drainRetired();
    }

    std::shared_ptr<StubComic> comic(const std::string& name, int pageCount = 0, int position = 0) {
        auto c = std::make_shared<StubComic>(storage, name);
        std::vector<Page> ps = plainPages(pageCount);
        for (auto& p : ps)
            p = Page{"REFER=http://x/ " + server.url("/any/" + name + std::string(p.image())),
                     p.title()};
        c->setPages(std::move(ps), position);
        list.push_back(c);
        return c;
    }
    // Pages whose images are served on loopback: strip i is /strips/i.png in
    // the colour (10 * i, 100, 200).
    std::shared_ptr<StubComic> servedComic(const std::string& name, int pageCount,
                                           int position = 0) {
        auto c = comic(name);
        std::vector<Page> ps;
        for (int i = 0; i < pageCount; ++i) {
            const std::string path = "/" + name + "/" + std::to_string(i) + ".png";
            server.route(path, pngOf(40, 30, 10 * i, 100, 200), "image/png");
            ps.push_back(Page{
                "REFER=http://" + server.url("/" + name + "/page.html") + " " + server.url(path),
                "Strip " + std::to_string(i + 1), "", ""});
        }
        c->setPages(std::move(ps), position);
        return c;
    }

    void start(int pageWorkers = 8, int updateWorkers = 4) {
        pages = std::make_unique<tools::ThreadPool>(pageWorkers);
        updates = std::make_unique<tools::ThreadPool>(updateWorkers);
        ui = std::make_unique<ReaderWindow>(
            *pages, *updates, [this] { ++stores; }, list, false);
        ui->setUp();
        ui->bridge.requestRepaint(true);
        ui->bridge.repaint();
    }

    // Runs the loop's work (events, repaints) until done() or the time is up.
    template <class Done>
    bool pump(Done done, int ms = 5000) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            ui->bridge.processEvents();
            ui->bridge.repaint();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    bool settle(int ms = 5000) {
        return pump([this] { return !pages->anyWork() && !updates->anyWork(); }, ms);
    }
    void key(SDLKey sym, SDLMod mod = KMOD_NONE) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.keysym.sym = sym;
        e.key.keysym.mod = mod;
        ASSERT_EQ(SDL_PushEvent(&e), 0);
        ui->bridge.processEvents();
    }
    void click(int x, int y) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.x = static_cast<Uint16>(x);
        e.motion.y = static_cast<Uint16>(y);
        SDL_PushEvent(&e);
        ui->bridge.processEvents();
        ui->bridge.repaint();
        for (Uint8 type : {Uint8(SDL_MOUSEBUTTONDOWN), Uint8(SDL_MOUSEBUTTONUP)}) {
            SDL_Event b{};
            b.type = type;
            b.button.button = SDL_BUTTON_LEFT;
            b.button.x = static_cast<Uint16>(x);
            b.button.y = static_cast<Uint16>(y);
            SDL_PushEvent(&b);
        }
        ui->bridge.processEvents();
        ui->bridge.repaint();
    }
    static std::string caption() {
        char* title = nullptr;
        SDL_WM_GetCaption(&title, nullptr);
        return title ? title : "";
    }
    // The caption once the strip view has drawn.
    std::string shownCaption() {
        ui->bridge.requestRepaint(true);
        ui->bridge.repaint();
        return caption();
    }

    testsupport::TempDir dir;
    testsupport::HttpServer server;
    FileStorage storage;
    ComicList list;
    std::unique_ptr<tools::ThreadPool> pages, updates;
    std::unique_ptr<ReaderWindow> ui;
    std::atomic<int> stores{0};
};

// ---- order and texts ----

TEST(CountText, FourSortModes) {
    using V = std::vector<std::string>;
    for (auto mode : {SortMode::unsorted, SortMode::byName, SortMode::byStrips})
        EXPECT_EQ(countText(10, 3, mode), (V{"4", "/", "10", " "}));
    EXPECT_EQ(countText(10, 3, SortMode::byUnread), (V{"10", " (", "6", ") "}));
    EXPECT_EQ(countText(10, 9, SortMode::byUnread), (V{"10", " "}));
    EXPECT_EQ(countText(0, 0, SortMode::byName), (V{"0", "/", "0", " "}));
    EXPECT_EQ(countText(0, 0, SortMode::byUnread), (V{"0", " "}));
}

TEST(UpdateCaption, CountsAndMarks) {
    using V = std::vector<std::string>;
    EXPECT_EQ(updateCaption(0, 0), (V{"Update"}));
    EXPECT_EQ(updateCaption(1, 0), (V{"1", " ", "Update"}));
    EXPECT_EQ(updateCaption(3, 2), (V{"3", " ", "Update", "s", "(", "2", ")"}));
    EXPECT_EQ(updateCaption(0, 5), (V{"Update", "(", "5", ")"}));
}

TEST(Names, FoldedComparisonAndSearchKeys) {
    EXPECT_TRUE(nameAfter("b", "A"));
    EXPECT_TRUE(nameAfter("B", "a"));
    EXPECT_FALSE(nameAfter("a", "B"));
    EXPECT_FALSE(nameAfter("abc", "abcd"));  // a prefix sorts first
    EXPECT_TRUE(nameAfter("abcd", "abc"));
    EXPECT_FALSE(nameAfter("same", "same"));
    EXPECT_EQ(searchKey("Questionable Content #2!"), "questionablecontent");
}

TEST(Opener, ArgumentVectorWithoutShell) {
    EXPECT_EQ(openerCommand("example.org/a b;rm -rf ~"),
              (std::vector<std::string>{"xdg-open", "http://example.org/a b;rm -rf ~"}));
    EXPECT_EQ(openerCommand("http://x/").at(1), "http://x/");
    EXPECT_EQ(openerCommand("https://x/").at(1), "https://x/");
}

class CombSortTest : public ::testing::Test {
protected:
    std::shared_ptr<StubComic> make(const std::string& name, int pages, int position, int index) {
        auto c = std::make_shared<StubComic>(storage, name);
        c->setPages(plainPages(pages), position);
        rows.of(*c).listIndex = index;
        return c;
    }
    static std::vector<std::string> names(const ComicList& l) {
        std::vector<std::string> out;
        for (const auto& c : l) out.push_back(c->name());
        return out;
    }
    FileStorage storage;
    RowStates rows;
};

TEST_F(CombSortTest, FourModesAndEdges) {
    ComicList list{make("delta", 5, 4, 3), make("Alpha", 20, 0, 1), make("charlie", 1, 0, 2),
                   make("Bravo", 8, 2, 0)};
    combSort(list, SortMode::byStrips, rows);
    EXPECT_EQ(names(list), (std::vector<std::string>{"Alpha", "Bravo", "delta", "charlie"}));
    combSort(list, SortMode::byName, rows);
    EXPECT_EQ(names(list), (std::vector<std::string>{"Alpha", "Bravo", "charlie", "delta"}));
    combSort(list, SortMode::unsorted, rows);
    EXPECT_EQ(names(list), (std::vector<std::string>{"Bravo", "Alpha", "charlie", "delta"}));
    combSort(list, SortMode::byUnread, rows);  // 20, 6, 1, 1 unread
    EXPECT_EQ(names(list)[0], "Alpha");
    EXPECT_EQ(names(list)[1], "Bravo");

    ComicList empty;
    combSort(empty, SortMode::byName, rows);
    ComicList one{make("x", 1, 0, 0)};
    combSort(one, SortMode::byName, rows);
    EXPECT_EQ(names(one), (std::vector<std::string>{"x"}));
    // Two comics out of order: the gap reaches 1 after a swapping pass and
    // must stay there (it used to truncate to 0 and never end).
    ComicList two{make("b", 1, 0, 1), make("a", 1, 0, 0)};
    combSort(two, SortMode::unsorted, rows);
    EXPECT_EQ(names(two), (std::vector<std::string>{"a", "b"}));
    // Longer lists pass through gaps 9 and 10 (made 11).
    ComicList many;
    for (int i = 0; i < 40; ++i) many.push_back(make("c" + std::to_string(i), 1, 0, 39 - i));
    combSort(many, SortMode::unsorted, rows);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(rows.of(*many[i]).listIndex.load(), i);
}

// ---- layout ----

TEST_F(Window, StartShowsReadyLayoutAndActiveTab) {
    comic("Active one", 3);
    comic("Second", 2)->active = false;
    start();
    EXPECT_EQ(caption(), "TOVIK.2 ready");
    auto text = std::dynamic_pointer_cast<gui::Text>(ui->strip().stripView());
    ASSERT_TRUE(text);
    EXPECT_EQ(text->label.get(), "TOVIK.2 ready");
    EXPECT_TRUE(ui->tree().tab());
    auto root = std::dynamic_pointer_cast<gui::SplitWidget>(ui->rootWidget());
    ASSERT_TRUE(root);
    EXPECT_EQ(root->position, 200);
    // Left column: tabs (20) above the tree above the search row (20).
    auto box = ui->tree().treeBox();
    EXPECT_NEAR(box->area.y, 20, 1);
    EXPECT_NEAR(box->area.y + box->area.h, 460, 1);
    EXPECT_LE(box->area.x + box->area.w, 200);
    EXPECT_EQ(box->count(), 1);  // only the active comic's row
    // Right column: toolbar (20) above the strip area.
    auto strip = ui->strip().stripView();
    EXPECT_GE(strip->area.x, 200);
    EXPECT_NEAR(strip->area.y, 20, 1);
    EXPECT_NEAR(strip->area.y + strip->area.h, 480, 1);
    ui->tree().setTab(false);
    ui->bridge.repaint();
    EXPECT_EQ(box->count(), 1);
    // Expanding adds one row per page.
    ui->tree().setTab(true);
    ui->tree().row(*list[0]).expanded = true;
    ui->bridge.repaint();
    EXPECT_EQ(box->count(), 4);
}

TEST_F(Window, LinkBarForComicsWithAddresses) {
    auto c = comic("Linked", 2);
    c->links = {{"Home", "example.org/"}};
    start();
    ui->loader().selectComic(c, -1);
    ASSERT_TRUE(settle());
    ui->bridge.requestRepaint(true);
    ui->bridge.repaint();
    auto strip = ui->strip().stripView();
    EXPECT_NEAR(strip->area.y, 20 + 32, 1);
}

TEST_F(Window, FullScreenTwiceReturnsToTheWindowSize) {
    start();
    ASSERT_TRUE(ui->bridge.setVideoMode(500, 400, sdloo::VideoMode::window));
    testsupport::LogCapture log;
    key(SDLK_F11);
    EXPECT_TRUE(ui->isFullScreen());
    EXPECT_TRUE(log.contains("Switching to fullscreen: "));
    EXPECT_TRUE(log.contains(" with NOFRAME and SWSURF"));
    ui->bridge.repaint();
    EXPECT_FALSE(std::dynamic_pointer_cast<gui::SplitWidget>(ui->rootWidget()));
    key(SDLK_F11);
    EXPECT_FALSE(ui->isFullScreen());
    EXPECT_TRUE(log.hasLine("Switched to 500x400"));
    EXPECT_TRUE(log.hasLine("Resetup widgets"));
    EXPECT_EQ(ui->bridge.screenSize(), gui::Coord(500, 400));
}

TEST_F(Window, FullScreenIsBoundedAndAFailedSwitchKeepsTheMode) {
    start();
    ASSERT_TRUE(ui->bridge.setVideoMode(500, 400, sdloo::VideoMode::window));
    const int desktopW = sdloo::desktopWidth, desktopH = sdloo::desktopHeight;
    sdloo::desktopWidth = 100000;  // as "fullscreen_w" may say
    sdloo::desktopHeight = 50;
    testsupport::LogCapture log;
    key(SDLK_F11);
    EXPECT_TRUE(ui->isFullScreen());
    EXPECT_EQ(ui->bridge.screenSize(), gui::Coord(gui::maxWindowSide, 50));
    key(SDLK_F11);
    ASSERT_FALSE(ui->isFullScreen());
    ASSERT_EQ(ui->bridge.screenSize(), gui::Coord(500, 400));

    // SDL refuses the mode: the window, its surface and the flag stay.
    SDL_Surface* before = ui->bridge.screen();
    sdloo::refuseVideoModesForTests(1);
    key(SDLK_F11);
    EXPECT_FALSE(ui->isFullScreen());
    EXPECT_TRUE(log.hasLine("Switching screen mode failed: Video mode 16383x50 refused"));
    EXPECT_EQ(ui->bridge.screen(), before);
    EXPECT_EQ(ui->bridge.screen(), sdloo::videoSurface());
    EXPECT_EQ(ui->bridge.screenSize(), gui::Coord(500, 400));
    ui->bridge.repaint();
    EXPECT_TRUE(std::dynamic_pointer_cast<gui::SplitWidget>(ui->rootWidget()));
    // The next attempt works, and so does the way back.
    key(SDLK_F11);
    EXPECT_TRUE(ui->isFullScreen());
    sdloo::refuseVideoModesForTests(1);
    key(SDLK_F11);
    EXPECT_TRUE(ui->isFullScreen());
    EXPECT_EQ(ui->bridge.screenSize(), gui::Coord(gui::maxWindowSide, 50));
    key(SDLK_F11);
    EXPECT_FALSE(ui->isFullScreen());
    sdloo::desktopWidth = desktopW;
    sdloo::desktopHeight = desktopH;
}

// ---- keys and type-ahead ----

TEST(KeyMap, EveryKeyOfTheReader) {
    using gui::Key;
    struct Case {
        gui::KeyPressed key;
        KeyAction action;
    };
    const Case cases[] = {
        {gui::KeyPressed(Key::letter, 'q'), KeyAction::typeLetter},
        {gui::KeyPressed(Key::letter, 'c'), KeyAction::typeLetter},
        {gui::KeyPressed(Key::letter, 'c', true), KeyAction::toggleCentring},
        {gui::KeyPressed(Key::letter, 'q', true), KeyAction::none},
        {gui::KeyPressed(Key::home), KeyAction::firstPage},
        {gui::KeyPressed(Key::end), KeyAction::lastPage},
        {gui::KeyPressed(Key::pageUp), KeyAction::previousPage},
        {gui::KeyPressed(Key::pageDown, 0, true), KeyAction::nextPage},
        {gui::KeyPressed(Key::up), KeyAction::scrollUp},
        {gui::KeyPressed(Key::down), KeyAction::scrollDown},
        {gui::KeyPressed(Key::left), KeyAction::leftOrPreviousPage},
        {gui::KeyPressed(Key::right), KeyAction::rightOrNextPage},
        {gui::KeyPressed(Key::enter), KeyAction::cycleMatches},
        {gui::KeyPressed(Key::f5), KeyAction::updateAll},
        {gui::KeyPressed(Key::f7), KeyAction::copyAddress},
        {gui::KeyPressed(Key::f11), KeyAction::toggleFullScreen},
        {gui::KeyPressed(Key::keypadPlus), KeyAction::nextComic},
        {gui::KeyPressed(Key::keypadMinus), KeyAction::previousComic},
        {gui::KeyPressed(Key::backspace), KeyAction::collapse},
        {gui::KeyPressed(Key::escape), KeyAction::quit},
        {gui::KeyPressed(Key::other), KeyAction::none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(keyAction(c.key), c.action) << int(c.key.key) << " " << c.key.letter;
}

TEST_F(Window, TypeAheadNarrowsDropsSelectsAndCycles) {
    auto qc = comic("Questionable Content", 5, 1);
    auto quick = comic("Quick Comic", 4, 2);
    auto sequel = comic("Sequel", 3);
    start();
    key(SDLK_q);
    EXPECT_EQ(ui->tree().searchText(), "q");
    EXPECT_EQ(ui->tree().matches().size(), 3u);
    EXPECT_FALSE(ui->currentComic());
    key(SDLK_u);
    EXPECT_EQ(ui->tree().matches().size(), 3u);
    // Return cycles through several matches.
    key(SDLK_RETURN);
    const ComicPtr first = ui->currentComic();
    ASSERT_TRUE(first);
    key(SDLK_RETURN);
    EXPECT_NE(ui->currentComic(), first);
    key(SDLK_i);  // "qui": one match, selected at once at its read position
    EXPECT_EQ(ui->tree().searchText(), "qui");
    EXPECT_EQ(ui->currentComic(), quick);
    // "quiz" matches nothing: letters go from the front until it matches or is empty.
    key(SDLK_z);
    EXPECT_EQ(ui->tree().searchText(), "");
    key(SDLK_s);
    key(SDLK_e);
    key(SDLK_q);
    EXPECT_EQ(ui->tree().searchText(), "seq");
    EXPECT_EQ(ui->currentComic(), sequel);
    settle();
    (void)qc;
}

TEST_F(Window, AltCTogglesCenteringAndCAloneSearches) {
    comic("Comic", 2);
    start();
    const bool before = ui->strip().centered.get();
    key(SDLK_c, KMOD_LALT);
    EXPECT_EQ(ui->strip().centered.get(), !before);
    EXPECT_EQ(ui->tree().searchText(), "");
    EXPECT_NE(testsupport::readFile(dir.file("tovik.ini")).find("centered"), std::string::npos);
    key(SDLK_c);
    EXPECT_EQ(ui->strip().centered.get(), !before);
    EXPECT_EQ(ui->tree().searchText(), "c");
}

TEST_F(Window, SortButtonCyclesTheModeAndSavesIt) {
    comic("b", 1);
    comic("a", 3);
    start();
    ui->tree().nextSortMode();
    EXPECT_EQ(ui->tree().sortmode.get(), SortMode::byName);
    ui->bridge.repaint();
    EXPECT_EQ(ui->tree().comicList().front()->name(), "a");
    ui->tree().nextSortMode();
    ui->tree().nextSortMode();
    ui->tree().nextSortMode();
    EXPECT_EQ(ui->tree().sortmode.get(), SortMode::unsorted);
    EXPECT_NE(testsupport::readFile(dir.file("tovik.ini")).find("sortmode"), std::string::npos);
}

TEST_F(Window, KeypadStepsThroughTheTabsComics) {
    auto a = comic("A", 1);
    auto b = comic("B", 1);
    auto hidden = comic("H", 1);
    hidden->active = false;
    auto c = comic("C", 1);
    start();
    key(SDLK_KP_PLUS);  // no current comic: nothing
    EXPECT_FALSE(ui->currentComic());
    ui->loader().selectComic(b, -1);
    key(SDLK_KP_PLUS);
    EXPECT_EQ(ui->currentComic(), c);
    key(SDLK_KP_PLUS);
    EXPECT_EQ(ui->currentComic(), c);  // the end keeps the same comic
    key(SDLK_KP_MINUS);
    key(SDLK_KP_MINUS);
    key(SDLK_KP_MINUS);
    EXPECT_EQ(ui->currentComic(), a);
    settle();
}

// ---- paging and page tasks ----

TEST_F(Window, PagingTaskNamesAndEnds) {
    auto a = servedComic("A", 6, 3);
    start();
    testsupport::LogCapture log;
    ui->loader().selectComic(a, -1);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(log.contains("Switch to #4 of A, live"));
    EXPECT_TRUE(log.contains("Switch to #5 of A, prefetching"));
    EXPECT_EQ(ui->currentIndex(), 3);
    EXPECT_EQ(shownCaption(), "tovik [A] - Strip 4");
    key(SDLK_PAGEDOWN);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(log.contains("Load #5 of A"));
    EXPECT_TRUE(log.contains("Prefetch #6 of A"));
    EXPECT_EQ(a->position(), 4);
    key(SDLK_PAGEDOWN);
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui->currentIndex(), 5);
    key(SDLK_PAGEDOWN);  // on the last page: nothing
    EXPECT_EQ(ui->currentIndex(), 5);
    EXPECT_FALSE(pages->anyWork());
    key(SDLK_HOME);
    ASSERT_TRUE(settle());
    EXPECT_EQ(a->position(), 0);
    EXPECT_EQ(shownCaption(), "tovik [A] - Strip 1");
    key(SDLK_PAGEUP);  // on the first page: nothing
    EXPECT_EQ(ui->currentIndex(), 0);
    EXPECT_FALSE(pages->anyWork());
    key(SDLK_END);
    ASSERT_TRUE(settle());
    EXPECT_EQ(a->position(), 5);
    key(SDLK_PAGEUP);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(log.contains("Prefetch #4 of A"));
    EXPECT_TRUE(log.contains("Prefetch #3 of A"));
    EXPECT_EQ(a->position(), 4);
}

TEST_F(Window, ThreeQuickPageDownsShowOnlyTheLastAndCacheTheRest) {
    auto a = servedComic("Quick", 8, 0);
    server.clearRecords();
    start();
    ui->loader().selectComic(a, -1);
    ASSERT_TRUE(settle());
    key(SDLK_PAGEDOWN);
    key(SDLK_PAGEDOWN);
    key(SDLK_PAGEDOWN);
    EXPECT_EQ(ui->currentIndex(), 3);
    ASSERT_TRUE(settle());
    EXPECT_EQ(a->position(), 3);
    EXPECT_EQ(shownCaption(), "tovik [Quick] - Strip 4");
    std::vector<Page> ps = a->pagesCopy();
    for (int i = 0; i <= 5; ++i)
        EXPECT_TRUE(downloader::isCached(std::string(ps[static_cast<std::size_t>(i)].image())))
            << i;
    EXPECT_FALSE(downloader::isCached(std::string(ps[6].image())));
    // Each image was fetched once, however many tasks asked for it.
    auto paths = server.paths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "/Quick/1.png"), 1);
    EXPECT_EQ(downloads().size(), 0u);
}

TEST_F(Window, PrefetchedNeighboursAreDecodedAheadAndTakenWhenShown) {
    auto a = servedComic("Ahead", 5, 0);
    start();
    ui->loader().selectComic(a, -1);
    ASSERT_TRUE(settle());
    const std::vector<Page> ps = a->pagesCopy();
    EXPECT_TRUE(ahead().has(std::string(ps[1].image())));
    key(SDLK_PAGEDOWN);
    // Shown by the key itself: no worker is waited for.
    EXPECT_TRUE(ui->strip().showsStrip(std::string(ps[1].image())));
    EXPECT_EQ(a->position(), 1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(shownCaption(), "tovik [Ahead] - Strip 2");
    EXPECT_FALSE(ahead().has(std::string(ps[1].image())));  // taken by the load that showed it
    EXPECT_TRUE(ahead().has(std::string(ps[2].image())));
    EXPECT_TRUE(ahead().has(std::string(ps[3].image())));
    EXPECT_LE(ahead().size(), DecodedAhead::capacity);
    // A far page is never decoded ahead.
    EXPECT_FALSE(ahead().has(std::string(ps[4].image())));
}

TEST_F(Window, StripsThatCannotBeShownShowTheirErrorUnderTheirOwnCaption) {
    auto c = comic("Broken");
    server.route("/good.png", pngOf(20, 20, 1, 2, 3), "image/png");
    server.route("/empty.png", "", "image/png");
    server.route("/page.png", "<html><body>Not here</body></html>", "text/html");
    server.route("/damaged.webp",
                 std::string("RIFF\x20\0\0\0WEBPVP8 \x14\0\0\0", 20) + std::string(20, '\x55'),
                 "image/webp");
    std::string huge = "BM" + std::string(52, '\0');
    huge[14] = 40;
    huge[20] = 1;  // 65536 wide
    huge[24] = 1;  // 65536 high
    server.route("/huge.bmp", huge, "image/bmp");
    server.route("/odd.tif", std::string("II*\0", 4) + std::string(40, '\1'), "image/tiff");
    auto page = [&](const std::string& path, const std::string& title) {
        return Page{"REFER=http://x/ " + server.url(path), title, "", ""};
    };
    c->setPages(
        {page("/good.png", "Good"), page("/empty.png", "Empty"), page("/page.png", "Page"),
         page("/damaged.webp", "Damaged"), page("/huge.bmp", "Huge"), page("/odd.tif", "Odd"),
         Page{"REFER=http://x/ http://127.0.0.1:1/gone.png", "Gone", "", ""}},
        0);
    start();
    ui->loader().selectComic(c, 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(shownCaption(), "tovik [Broken] - Good");
    struct Expected {
        std::string text;  // the start of the text shown
        std::string title;
    };
    const std::vector<Expected> expected = {
        {"Error: ", "Empty"},  // the downloader's own words, or emptyDownloadText
        {notAnImageText, "Page"},
        {"Error: Damaged WebP image", "Damaged"},
        {"Error: Image too large: 65536 x 65536", "Huge"},
        {"Error: Unidentified image type", "Odd"},
        {notDownloadedText, "Gone"},  // its site cannot be reached
    };
    int index = 0;
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.title);
        key(SDLK_PAGEDOWN);
        ASSERT_TRUE(settle());
        ++index;
        auto text = std::dynamic_pointer_cast<gui::Text>(ui->strip().stripView());
        ASSERT_TRUE(text);
        EXPECT_EQ(text->label.get().rfind(e.text, 0), 0u) << text->label.get();
        // Never the caption of the strip before it.
        EXPECT_EQ(shownCaption(), "tovik [Broken] - " + e.title);
        // The position moves to the page whose error is shown.
        EXPECT_EQ(c->position(), index);
        EXPECT_EQ(ui->currentIndex(), index);
    }
    // Back to a page that can be shown: its strip and caption again.
    key(SDLK_HOME);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(std::dynamic_pointer_cast<StripImage>(ui->strip().stripView()));
    EXPECT_EQ(shownCaption(), "tovik [Broken] - Good");
}

// A strip store in the test's directory for one test; none afterwards.
struct StoreInDir {
    explicit StoreInDir(const std::string& directory) { comics::useStripStore(directory); }
    ~StoreInDir() { comics::useStripStore(""); }
};

TEST_F(Window, StoredStripsShowWithoutARequestAndOthersSayNotDownloaded) {
    StoreInDir store(dir.file("strips"));
    auto c = servedComic("Stored", 4, 0);
    const std::vector<Page> ps = c->pagesCopy();
    // An earlier run kept strips 1 and 2; then the site went away.
    for (int i : {0, 1})
        ASSERT_TRUE(comics::stripStore()->put(std::string(ps[static_cast<std::size_t>(i)].image()),
                                              pngOf(40, 30, 10 * i, 100, 200)));
    server.clearRecords();
    server.stop();
    // Their rows show them at hand, as strips in the download cache.
    EXPECT_TRUE(isCached(std::string(ps[1].image())));
    EXPECT_FALSE(isCached(std::string(ps[2].image())));
    start();
    testsupport::LogCapture log;
    ui->loader().selectComic(c, -1);
    ASSERT_TRUE(settle(20000));
    EXPECT_EQ(shownCaption(), "tovik [Stored] - Strip 1");
    key(SDLK_PAGEDOWN);
    ASSERT_TRUE(settle(20000));
    EXPECT_EQ(shownCaption(), "tovik [Stored] - Strip 2");
    key(SDLK_PAGEDOWN);
    ASSERT_TRUE(settle(20000));
    auto text = std::dynamic_pointer_cast<gui::Text>(ui->strip().stripView());
    ASSERT_TRUE(text);
    EXPECT_EQ(text->label.get(), notDownloadedText);
    EXPECT_EQ(c->position(), 2);
    // Only the strips that were not stored were tried.
    for (int i : {0, 1})
        EXPECT_FALSE(log.contains(std::string(ps[static_cast<std::size_t>(i)].image()) + " failed"))
            << i;
    EXPECT_TRUE(log.contains(std::string(ps[2].image()) + " failed: Cannot connect to target"));
    // A site found unreachable is not tried again for every strip.
    key(SDLK_PAGEDOWN);
    ASSERT_TRUE(settle(20000));
    text = std::dynamic_pointer_cast<gui::Text>(ui->strip().stripView());
    ASSERT_TRUE(text);
    EXPECT_EQ(text->label.get(), notDownloadedText);
    EXPECT_TRUE(log.contains(std::string(ps[3].image()) +
                             " failed: " + comics::hostOf(std::string(ps[3].image())) +
                             " could not be reached moments ago"));
}

TEST_F(Window, DamagedOrTruncatedStoredStripsAreFetchedAgain) {
    StoreInDir store(dir.file("strips"));
    auto c = servedComic("Damaged", 5, 0);
    const std::vector<Page> ps = c->pagesCopy();
    // Looks like a PNG, does not decode.
    ASSERT_TRUE(
        comics::stripStore()->put(std::string(ps[0].image()), "\x89PNG\r\n\x1a\nbroken inside"));
    ASSERT_TRUE(comics::stripStore()->put(std::string(ps[1].image()), pngOf(40, 30, 10, 100, 200)));
    const std::string truncated =
        dir.file("strips/" + comics::StripStore::fileName(std::string(ps[1].image())));
    std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) - 10);
    server.clearRecords();
    start();
    ui->loader().selectComic(c, -1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(shownCaption(), "tovik [Damaged] - Strip 1");
    key(SDLK_PAGEDOWN);
    ASSERT_TRUE(settle());
    EXPECT_EQ(shownCaption(), "tovik [Damaged] - Strip 2");
    auto paths = server.paths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "/Damaged/0.png"), 1);
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "/Damaged/1.png"), 1);
    // The store holds what the site served now.
    EXPECT_EQ(comics::stripStore()->load(std::string(ps[0].image())).value_or(""),
              pngOf(40, 30, 0, 100, 200));
    EXPECT_EQ(comics::stripStore()->load(std::string(ps[1].image())).value_or(""),
              pngOf(40, 30, 10, 100, 200));

    // A broken stored strip whose site now sends nothing: the download error
    // (the downloader's own words). (Page 5: never fetched, so not in the
    // download cache either.)
    ASSERT_TRUE(
        comics::stripStore()->put(std::string(ps[4].image()), "\x89PNG\r\n\x1a\nbroken too"));
    server.route("/Damaged/4.png", "", "image/png");
    ui->loader().selectPage(c, 4, false);
    ASSERT_TRUE(settle(10000));
    auto text = std::dynamic_pointer_cast<gui::Text>(ui->strip().stripView());
    ASSERT_TRUE(text);
    EXPECT_EQ(text->label.get().rfind("Error: ", 0), 0u) << text->label.get();
    EXPECT_FALSE(comics::stripStore()->contains(std::string(ps[4].image())));
}

TEST_F(Window, KTurnsKeepingOnAndTheUpdateStoresEveryStrip) {
    StoreInDir store(dir.file("strips"));
    auto c = servedComic("Keeper", 6, 0);
    start();
    ui->loader().selectComic(c, -1);
    ASSERT_TRUE(settle());
    auto box = ui->tree().treeBox();
    const int itemWidth = box->area.w - 16 - 2;
    const int kButton = box->area.x + 1 + itemWidth - 16 - 8;
    click(kButton, box->area.y + 10);
    EXPECT_TRUE(c->keepsStrips());
    EXPECT_NE(testsupport::readFile(dir.file("tovik.ini")).find("[id-Keeper]\nkeep_strips = true"),
              std::string::npos);
    ASSERT_TRUE(settle(15000));
    EXPECT_EQ(c->updates.load(), 1);
    for (const Page& p : c->pagesCopy())
        EXPECT_TRUE(comics::stripStore()->contains(std::string(p.image())));
    EXPECT_EQ(ui->tree().row(*c).keeping.load(), -1);  // the count left the row
    click(kButton, box->area.y + 10);
    EXPECT_FALSE(c->keepsStrips());
    ASSERT_TRUE(settle());
    EXPECT_EQ(c->updates.load(), 1);  // turning it off starts nothing
}

TEST_F(Window, EmptyComicAndNegativeIndexDoNothing) {
    auto empty = comic("Empty");
    start();
    testsupport::LogCapture log;
    ui->loader().selectComic(empty, -1);
    ASSERT_TRUE(settle());
    key(SDLK_PAGEDOWN);
    key(SDLK_END);
    key(SDLK_F7);
    ASSERT_TRUE(settle());
    EXPECT_FALSE(log.contains("Downloading "));
    EXPECT_EQ(empty->position(), 0);
    ui->loader().prefetch(-1);
    ui->loader().prefetch(5);
    EXPECT_FALSE(log.contains("Downloading "));
    // Selecting at a page below -1 shows page 0 and prefetches nothing negative.
    auto some = comic("Some", 3);
    ui->loader().selectComic(some, -4);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(log.contains("Switch to #1 of Some, live"));
    EXPECT_FALSE(log.contains("of Some, prefetching"));
    EXPECT_EQ(ui->currentIndex(), 0);
}

TEST_F(Window, ALatePageTaskNeverMovesAnotherComic) {
    auto slow = servedComic("Slow", 4, 0);
    auto fast = servedComic("Fast", 4, 1);
    const std::string slowPath = "/Slow/2.png";
    const std::string png = pngOf(10, 10, 1, 2, 3);
    server.handle(slowPath, [png](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return testsupport::HttpServer::response(png, 200, "image/png");
    });
    start();
    ui->loader().selectPage(slow, 2, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ui->loader().selectComic(fast, -1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(slow->position(), 0);
    EXPECT_EQ(fast->position(), 1);
    EXPECT_EQ(ui->currentComic(), fast);
    EXPECT_EQ(ui->currentIndex(), 1);
    EXPECT_EQ(shownCaption(), "tovik [Fast] - Strip 2");
}

TEST_F(Window, ReplacedStripBeforeItsFirstDrawFreesItsImage) {
    auto a = servedComic("Drop", 2, 0);
    start();
    ui->loader().selectComic(a, -1);
    // Let the tasks finish without drawing.
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (pages->anyWork() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::weak_ptr<gui::Widget> held = ui->strip().stripView();
    auto strip = std::dynamic_pointer_cast<StripImage>(held.lock());
    ASSERT_TRUE(strip);
    EXPECT_TRUE(strip->holdsImage());
    strip.reset();
    ui->strip().setStripView(std::make_shared<gui::TextBox>("other"));
    gui::drainRetired();
    EXPECT_TRUE(held.expired());
}

// ---- the list under the pointer ----

namespace {

// Pixels of a colour in an area of a surface.
int pixelsIn(SDL_Surface* s, gui::Rect r, gui::Rgba c) {
    sdloo::SurfacePlane d(s);
    int n = 0;
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x) {
            const gui::Rgba p = d.get(x, y);
            if (p.red == c.red && p.green == c.green && p.blue == c.blue) ++n;
        }
    return n;
}

// A strip view that counts its draws.
class CountingView : public gui::TextBox {
public:
    CountingView() : gui::TextBox("counting") {}
    void draw(SDL_Surface* target) override {
        ++draws;
        gui::TextBox::draw(target);
    }
    int draws = 0;
};

}  // namespace

TEST_F(Window, HoveredComicKeepsItsButtonsUnderPointerSweepsAndUActsOnTheFirstClick) {
    comic("First", 2);
    auto second = comic("Second", 2);
    auto third = comic("Third", 2);
    start();
    auto counting = std::make_shared<CountingView>();
    ui->strip().setStripView(counting);
    ui->bridge.repaint();
    auto box = ui->tree().treeBox();
    const int itemWidth = box->area.w - 16;
    auto move = [&](int x, int y) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.x = static_cast<Uint16>(x);
        e.motion.y = static_cast<Uint16>(y);
        SDL_PushEvent(&e);
        ui->bridge.processEvents();
        ui->bridge.repaint();
    };
    const gui::Rgba lightRed(255, 192, 192);
    auto rowArea = [&](int row) {
        return gui::Rect(box->area.x, box->area.y + 20 * row, itemWidth, 20);
    };
    const int drawsBefore = counting->draws;
    const long treePaintsBefore = ui->bridge.treePaints.load();
    // Along the second row, over the comic's name and onto its U and X buttons.
    for (int x = box->area.x + 2; x < box->area.x + itemWidth - 2; x += 3) {
        move(x, box->area.y + 20 + 10);
        ASSERT_EQ(ui->tree().hovered(), second) << x;
        ASSERT_GT(pixelsIn(ui->bridge.screen(), rowArea(1), lightRed), 20) << "no X at " << x;
        ASSERT_EQ(pixelsIn(ui->bridge.screen(), rowArea(2), lightRed), 0) << x;
    }
    // Down to the third row: the buttons move with the hovered comic.
    move(box->area.x + 40, box->area.y + 2 * 20 + 10);
    EXPECT_EQ(ui->tree().hovered(), third);
    EXPECT_EQ(pixelsIn(ui->bridge.screen(), rowArea(1), lightRed), 0);
    EXPECT_GT(pixelsIn(ui->bridge.screen(), rowArea(2), lightRed), 20);
    // Below the rows and out of the list: nothing hovered.
    move(box->area.x + 40, box->area.y + 6 * 20 + 10);
    EXPECT_EQ(ui->tree().hovered(), nullptr);
    move(box->area.x + 40, box->area.y + 2 * 20 + 10);
    move(box->area.x + 40, box->area.y - 10);  // onto the tabs
    EXPECT_EQ(ui->tree().hovered(), nullptr);
    // All of it repainted the list alone, never the strip beside it.
    EXPECT_EQ(counting->draws, drawsBefore);
    EXPECT_EQ(ui->bridge.treePaints.load(), treePaintsBefore);
    EXPECT_GT(ui->bridge.partPaints.load(), 0);

    // One click on U of the second comic starts its update.
    const int uButton = box->area.x + 1 + (itemWidth - 2) - 48 + 8;
    click(uButton, box->area.y + 20 + 10);
    ASSERT_TRUE(settle());
    EXPECT_EQ(second->updates.load(), 1);
    EXPECT_EQ(third->updates.load(), 0);
    EXPECT_EQ(ui->currentComic(), nullptr);  // the click did not select the comic

    // K between U and X of the hovered third comic: one click turns keeping
    // on (highlighted, an update started), the next turns it off.
    const gui::Rgba lightBlue(192, 208, 255);
    const int kButton = box->area.x + 1 + (itemWidth - 2) - 32 + 8;
    third->hold = true;
    move(kButton, box->area.y + 2 * 20 + 10);
    ASSERT_EQ(ui->tree().hovered(), third);
    EXPECT_EQ(pixelsIn(ui->bridge.screen(), rowArea(2), lightBlue), 0);
    click(kButton, box->area.y + 2 * 20 + 10);
    EXPECT_TRUE(third->keepsStrips());
    EXPECT_FALSE(second->keepsStrips());
    ui->bridge.repaint();
    EXPECT_GT(pixelsIn(ui->bridge.screen(), rowArea(2), lightBlue), 20);
    click(kButton, box->area.y + 2 * 20 + 10);
    EXPECT_FALSE(third->keepsStrips());
    third->hold = false;
    ASSERT_TRUE(settle());
    EXPECT_EQ(third->updates.load(), 1);
    EXPECT_EQ(ui->currentComic(), nullptr);
}

// ---- handlers never wait ----

TEST_F(Window, F7ReturnsWhileTheClipboardHelperStillRuns) {
    auto c = comic("Copied", 2);
    start();
    ui->loader().selectComic(c, 0);
    ASSERT_TRUE(settle());
    // A clipboard helper that holds on until the test lets it go.
    const std::string bin = dir.file("bin");
    std::filesystem::create_directories(bin);
    testsupport::writeFile(bin + "/xclip", "#!/bin/sh\ntouch '" + dir.file("started") +
                                               "'\nwhile [ ! -e '" + dir.file("release") +
                                               "' ]; do sleep 0.02; done\ncat > '" +
                                               dir.file("got") + "'\n");
    std::filesystem::permissions(bin + "/xclip", std::filesystem::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    const char* oldDisplay = std::getenv("DISPLAY");
    const std::string savedDisplay = oldDisplay ? oldDisplay : "";
    const char* oldWayland = std::getenv("WAYLAND_DISPLAY");
    const std::string savedWayland = oldWayland ? oldWayland : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    setenv("DISPLAY", ":98", 1);
    unsetenv("WAYLAND_DISPLAY");

    key(SDLK_F7);  // returns at once: the helper is waited for elsewhere
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!std::filesystem::exists(dir.file("started")) && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(std::filesystem::exists(dir.file("started")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("got")));
    // Meanwhile the strip view can be swapped under the GUI lock and painted.
    ui->strip().setStripView(std::make_shared<gui::TextBox>("still painting"));
    ui->bridge.repaint();
    testsupport::writeFile(dir.file("release"), "");
    EXPECT_TRUE(settle());
    EXPECT_EQ(testsupport::readFile(dir.file("got")), c->pagesCopy()[0].image());

    setenv("PATH", oldPath.c_str(), 1);
    if (oldDisplay)
        setenv("DISPLAY", savedDisplay.c_str(), 1);
    else
        unsetenv("DISPLAY");
    if (oldWayland) setenv("WAYLAND_DISPLAY", savedWayland.c_str(), 1);
}

// ---- failed comics ----

TEST_F(Window, AFailedComicKeepsItsPagesAndTheReadPositionAcrossARestart) {
    auto c = servedComic("Failing", 5, 1);
    const std::vector<Page> before = c->pagesCopy();
    c->onUpdate = [](StubComic& s) { s.breakMidUpdate(); };
    start();
    ui->loader().selectiveUpdate(c);
    ASSERT_TRUE(settle());
    ASSERT_TRUE(c->failed);
    EXPECT_EQ(c->pagesCopy(), before);
    // Read on in the failed comic.
    ui->loader().selectComic(c, -1);
    ASSERT_TRUE(settle());
    key(SDLK_PAGEDOWN);
    key(SDLK_PAGEDOWN);
    ASSERT_TRUE(settle());
    EXPECT_EQ(c->position(), 3);
    ui->loader().save(nullptr);

    // The next start reads what was written.
    auto again = std::make_shared<StubComic>(storage, "Failing");
    again->initialise();
    EXPECT_EQ(again->position(), 3);
    EXPECT_EQ(again->pagesCopy(), before);
    EXPECT_EQ(again->stateCopy().custom, "");
}

// ---- tabs, saves, updates ----

TEST_F(Window, XAndAMoveAComicBetweenTabsAndQueueItsSave) {
    auto c = comic("Mover", 3);
    start();
    ui->loader().selectComic(c, -1);
    ASSERT_TRUE(settle());
    stores = 0;
    auto box = ui->tree().treeBox();
    const int itemWidth = box->area.w - 16 - 2;
    const int xButton = box->area.x + 1 + itemWidth - 8;
    click(xButton, box->area.y + 10);
    EXPECT_FALSE(c->active);
    ASSERT_TRUE(settle());
    EXPECT_EQ(stores.load(), 1);
    EXPECT_EQ(box->count(), 0);
    ui->tree().setTab(false);
    ui->bridge.repaint();
    EXPECT_EQ(box->count(), 1);
    click(xButton, box->area.y + 10);
    EXPECT_TRUE(c->active);
    EXPECT_EQ(&c->storage(), &comics::mainStorage());
    ASSERT_TRUE(settle());
    EXPECT_EQ(stores.load(), 2);
}

TEST_F(Window, ClickingAComicRowSelectsIt) {
    comic("First", 2);
    auto second = comic("Second", 3, 1);
    start();
    auto box = ui->tree().treeBox();
    click(box->area.x + 60, box->area.y + 20 + 10);
    EXPECT_EQ(ui->currentComic(), second);
    ASSERT_TRUE(settle());
    EXPECT_EQ(ui->currentIndex(), 1);
}

TEST_F(Window, SaveWritesEveryComicThenStores) {
    auto a = comic("Saved", 4, 2);
    start();
    testsupport::LogCapture log;
    ui->loader().queueSave(nullptr);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(log.hasLine("Saving comics ..."));
    EXPECT_TRUE(log.hasLine("Storing to Drive"));
    EXPECT_TRUE(log.contains("Save files"));
    EXPECT_EQ(stores.load(), 1);
    EXPECT_EQ(comics::serialize::decode(storage.get(a->id())).position, 2);
}

TEST_F(Window, GlobalUpdateSkipsBusyInactiveAndQueuedComics) {
    auto a = comic("Up A", 1);
    auto b = comic("Up B", 1);
    auto off = comic("Off", 1);
    off->active = false;
    a->hold = true;
    b->hold = true;
    start(2, 1);  // one update worker: B waits in the queue
    testsupport::LogCapture log;
    key(SDLK_F5);
    EXPECT_TRUE(pump([&] { return a->updates.load() == 1; }));
    EXPECT_TRUE(b->queued);
    key(SDLK_F5);  // A runs, B is queued: neither is queued again
    ui->loader().selectiveUpdate(b);
    a->hold = false;
    b->hold = false;
    ASSERT_TRUE(settle());
    EXPECT_EQ(a->updates.load(), 1);
    EXPECT_EQ(b->updates.load(), 1);
    EXPECT_EQ(off->updates.load(), 0);
    EXPECT_FALSE(b->queued);
    EXPECT_TRUE(ui->tree().row(*a).changed);
    EXPECT_TRUE(log.contains("Global update for Up A"));
    EXPECT_EQ(ui->updateCaptionNow(), (std::vector<std::string>{"2", " ", "Update", "s"}));
    // A selective update of a failed comic clears the flag first.
    off->failed = true;
    ui->loader().selectiveUpdate(off);
    EXPECT_FALSE(off->failed);
    ASSERT_TRUE(settle());
    EXPECT_EQ(off->updates.load(), 1);
    EXPECT_TRUE(log.contains("Selective update for Off"));
    EXPECT_TRUE(log.hasLine("rescan called"));
}

// ---- the interactive run ----

// A comic that crawls its pages from the loopback server, without the cache,
// as a site comic does.
class CrawlingComic : public StubComic {
public:
    CrawlingComic(FileStorage& s, std::string name, std::string base)
        : StubComic(s, std::move(name)), base_(std::move(base)) {}
    void update(const comics::Callback& onChanged, const comics::Callback& onNewPages) override {
        updating = true;
        for (int i = 0; i < 10; ++i) {
            std::string body = downloader::download(base_ + "/page/" + std::to_string(i));
            {
                std::lock_guard<std::recursive_mutex> hold(lock());
                state_.pages.push_back(Page{"REFER=http://x/ " + base_ + "/strip.png",
                                            "Crawled " + std::to_string(i), "", ""});
            }
            onNewPages();
            onChanged();
        }
        updating = false;
    }

private:
    std::string base_;
};

TEST_F(Window, InteractiveRunUpdatesWhilePagingAndSavesOnEscape) {
    testsupport::TempDir work(true);
    tools::useConfigFile("tovik.ini");
    server.fallback([](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return testsupport::HttpServer::Reply(
            testsupport::HttpServer::response("<html>page</html>"));
    });
    server.route("/strip.png", pngOf(30, 30, 200, 0, 0), "image/png");
    comics::registry().clearForTests();
    std::vector<std::shared_ptr<CrawlingComic>> made;
    for (int i = 0; i < 20; ++i) {
        auto c = std::make_shared<CrawlingComic>(comics::mainStorage(), "Loop " + std::to_string(i),
                                                 server.url(""));
        comics::registry().append(c);
        made.push_back(c);
    }
    made[0]->setPages(plainPages(0), 0);

    std::thread driver([] {
        auto push = [](SDLKey sym) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            SDL_Event e{};
            e.type = SDL_KEYDOWN;
            e.key.keysym.sym = sym;
            SDL_PushEvent(&e);
        };
        push(SDLK_F5);
        // Type-ahead selects "Loop 0" through its unique key? All share "loop":
        // step with the keypad instead once one is current.
        push(SDLK_l);
        push(SDLK_RETURN);
        for (int i = 0; i < 4; ++i) push(SDLK_PAGEDOWN);
        push(SDLK_ESCAPE);
    });
    testsupport::LogCapture log;
    InteractiveSettings settings;
    settings.pageWorkers = 4;
    settings.updateWorkers = 8;
    settings.exitHard = false;
    const int status = interactiveRun(InteractiveOptions{}, settings);
    driver.join();
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(log.hasLine("UI starting"));
    EXPECT_TRUE(log.hasLine("UI terminating"));
    EXPECT_TRUE(log.hasLine("Deleting comics"));
    EXPECT_TRUE(log.hasLine("Exit main thread, hard."));
    // The storage file is complete and readable.
    FileStorage written;
    written.read(testsupport::readFile("storage.dat.zip"));
    for (const auto& c : made) {
        ASSERT_TRUE(written.has(c->id())) << c->id();
        EXPECT_NO_THROW(comics::serialize::decode(written.get(c->id())));
    }
    comics::registry().clearForTests();
    gui::becomeLoopThread();
}

TEST_F(Window, ShutdownDrainsPageTasksBeforeTheFinalSave) {
    testsupport::TempDir work(true);
    tools::useConfigFile("tovik.ini");
    comics::registry().clearForTests();
    auto c = std::make_shared<StubComic>(comics::mainStorage(), "Inflight");
    std::vector<Page> ps;
    for (int i = 0; i < 6; ++i) {
        const std::string path = "/slow/" + std::to_string(i) + ".png";
        ps.push_back(
            Page{"REFER=http://x/ " + server.url(path), "Slow " + std::to_string(i), "", ""});
    }
    c->setPages(ps, 0);
    const std::string png = pngOf(20, 20, 9, 9, 9);
    server.fallback([png](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return testsupport::HttpServer::Reply(
            testsupport::HttpServer::response(png, 200, "image/png"));
    });
    comics::registry().append(c);

    std::thread driver([] {
        auto push = [](SDLKey sym) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            SDL_Event e{};
            e.type = SDL_KEYDOWN;
            e.key.keysym.sym = sym;
            SDL_PushEvent(&e);
        };
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        push(SDLK_i);  // the only match: selected
        for (int i = 0; i < 3; ++i) push(SDLK_PAGEDOWN);
        push(SDLK_ESCAPE);  // while every strip is still on its way
    });
    testsupport::LogCapture log;
    InteractiveSettings settings;
    settings.pageWorkers = 16;  // every task of the keys above runs at once
    settings.updateWorkers = 2;
    settings.exitHard = false;
    const int status = interactiveRun(InteractiveOptions{}, settings);
    driver.join();
    EXPECT_EQ(status, 0);
    // The strips arrived after Escape; their positions are in the file.
    FileStorage written;
    written.read(testsupport::readFile("storage.dat.zip"));
    EXPECT_EQ(comics::serialize::decode(written.get(c->id())).position, 3);
    const std::string text = log.text();
    EXPECT_LT(text.find("UI terminating"), text.find("Saving comics ..."));
    comics::registry().clearForTests();
    gui::becomeLoopThread();
}

}  // namespace
