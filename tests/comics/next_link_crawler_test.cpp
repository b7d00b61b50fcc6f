#include "comics/next_link_crawler.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "comic_site.hpp"
#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace std::chrono_literals;
using comics::CrawlState;
using testsupport::ComicSite;
using testsupport::HttpServer;

// A plugin comic in a temporary working directory, with its own storage.
struct Fixture {
    testsupport::TempDir dir{true};
    comics::FileStorage storage;
    std::atomic<int> changes{0};
    std::atomic<int> grown{0};

    std::shared_ptr<comics::Comic> make(const std::string& text) {
        std::filesystem::create_directories("plugins");
        testsupport::writeFile("plugins/fixture.re", text);
        return comics::makePlugin(storage, "plugins/fixture.re", "");
    }
    void update(comics::Comic& c) {
        c.update([this] { ++changes; }, [this] { ++grown; });
    }
};

CrawlState stateOf(const comics::Comic& c) {
    std::string custom = c.stateCopy().custom;
    return custom.empty() ? CrawlState{} : comics::decodeCrawlState(custom);
}

std::vector<std::string> images(const comics::Comic& c) {
    std::vector<std::string> out;
    for (const auto& p : c.pagesCopy()) out.push_back(std::string(p.image()));
    return out;
}

std::vector<std::string> refs(const ComicSite& site, std::initializer_list<int> pages) {
    std::vector<std::string> out;
    for (int n : pages) out.push_back(site.imageRef(n));
    return out;
}

std::vector<std::string> paths(std::initializer_list<int> pages) {
    std::vector<std::string> out;
    for (int n : pages) out.push_back(ComicSite::pagePath(n));
    return out;
}

TEST(CrawlHelpers, ResolveDots) {
    EXPECT_EQ(comics::resolveDots("host/x/y/../../z"), "host/z");
    EXPECT_EQ(comics::resolveDots("host/a/x/y/../z"), "host/a/x/z");
    EXPECT_EQ(comics::resolveDots("host/a/./b/../c"), "host/a/./c");
    EXPECT_EQ(comics::resolveDots("host/../../z"), "host/z");
    EXPECT_EQ(comics::resolveDots("http://host/a/../b"), "http://host/b");
    EXPECT_EQ(comics::resolveDots("host"), "host");
}

TEST(CrawlHelpers, PageAddressIsTrimmed) {
    EXPECT_EQ(comics::pageAddress("h/p.html<html>"), "h/p.html");
    EXPECT_EQ(comics::pageAddress("h/p.html\r\n  <html>"), "h/p.html");
    EXPECT_EQ(comics::pageAddress("h/p.html\xEF\xBB\xBF\n<html>"), "h/p.html");
    EXPECT_THROW(
        {
            try {
                comics::pageAddress("h/p.html plain text");
            } catch (const std::exception& e) {
                EXPECT_STREQ(e.what(), "Can't isolate address in h/p.html plain text");
                throw;
            }
        },
        std::runtime_error);
}

TEST(CrawlHelpers, CrawlStateEncoding) {
    CrawlState s{"host/p", 2, -1};
    std::string bytes = comics::encodeCrawlState(s);
    EXPECT_EQ(bytes, std::string("\x06\0\0\0host/p\x02\0\0\0\xff\xff\xff\xff", 18));
    EXPECT_EQ(comics::decodeCrawlState(bytes), s);
}

// The least a crawler needs, for the type tags.
template <bool fp, bool sk, bool internal>
struct Bare : comics::NextLinkCrawler<fp, sk, internal> {
    using comics::NextLinkCrawler<fp, sk, internal>::NextLinkCrawler;
    std::string id() const override { return "bare"; }
    std::string name() const override { return "Bare"; }
    std::string section() const { return "bare"; }
    bool hasNext(const std::string&) override { return false; }
    std::string title(const std::string&) override { return ""; }
    std::vector<std::string> images(const std::string&) override { return {}; }
    std::string start() override { return ""; }
    std::string next(const std::string&) override { return ""; }
    bool unsafe(const std::string&) override { return false; }
    std::string frontpage() { return ""; }
    bool skip(const std::string&) { return false; }
};
struct BareInternal : Bare<false, false, true> {
    using Bare::Bare;
    std::string section() const override { return "bare"; }
};

TEST(CrawlHelpers, TypeTags) {
    comics::FileStorage st;
    EXPECT_EQ((Bare<true, true, false>(st).toString()), "fhtagn-type [fp] [sk] <- Bare");
    EXPECT_EQ((Bare<true, false, false>(st).toString()), "fhtagn-type [fp] <- Bare");
    EXPECT_EQ((Bare<false, true, false>(st).toString()), "fhtagn-type [sk] <- Bare");
    EXPECT_EQ((Bare<false, false, false>(st).toString()), "fhtagn-type <- Bare");
    EXPECT_EQ(BareInternal(st).toString(), "fhtagn-type [int] <- Bare");
}

TEST(Crawler, FreshCrawlAndIncrementalUpdates) {
    Fixture f;
    ComicSite site(5);
    testsupport::LogCapture log;
    auto c = f.make(site.plugin());
    f.update(*c);
    EXPECT_TRUE(log.hasLine("custom is custom { nextURL='" + site.pageUrl(1) + "', lastread='0' }"))
        << log.text();
    EXPECT_TRUE(log.hasLine("End reached"));
    EXPECT_TRUE(log.hasLine("Regex plugin <- fhtagn-type <- Fixture succeeded"));
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3, 4, 5}));
    EXPECT_EQ(c->pagesCopy()[2].title(), "Strip 3");
    EXPECT_EQ(stateOf(*c), (CrawlState{site.pageUrl(5), 1, 0}));
    EXPECT_EQ(site.server.paths(), paths({1, 2, 3, 4, 5}));
    EXPECT_FALSE(c->updating.load());
    EXPECT_GT(f.grown.load(), 0);
    EXPECT_GE(f.changes.load(), 2);

    // Nothing new: only the newest page is fetched again.
    site.server.clearRecords();
    f.grown = 0;
    f.update(*c);
    EXPECT_EQ(site.server.paths(), paths({5}));
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3, 4, 5}));
    EXPECT_EQ(f.grown.load(), 0);

    // The site grew: the newest known page and the new ones.
    site.grow(8);
    site.server.clearRecords();
    f.update(*c);
    EXPECT_EQ(site.server.paths(), paths({5, 6, 7, 8}));
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(stateOf(*c), (CrawlState{site.pageUrl(8), 1, 0}));
    EXPECT_TRUE(log.hasLine("Fixture from " + site.pageUrl(5) + ": 1 popped, 1 pushed"));
}

TEST(Crawler, ResumesFromStoredState) {
    Fixture f;
    ComicSite site(4);
    {
        auto c = f.make(site.plugin());
        f.update(*c);
        c->save();
    }
    site.server.clearRecords();
    auto again = f.make(site.plugin());
    EXPECT_EQ(images(*again), refs(site, {1, 2, 3, 4}));
    f.update(*again);
    EXPECT_EQ(site.server.paths(), paths({4}));
}

TEST(Crawler, FrontPageStripReachedLaterIsListedOnce) {
    Fixture f;
    ComicSite site(3);
    site.frontPage(4);  // strip 4 shows on the front page before it has a page
    const std::string fp = "frontpage=" + site.url("/index.html") + "\nfpmatch=@index\\.html@$&\n";
    auto c = f.make(site.plugin(fp));
    f.update(*c);
    ASSERT_EQ(c->pageCount(), 4u);
    EXPECT_EQ(stateOf(*c), (CrawlState{site.pageUrl(3), 1, 1}));
    EXPECT_EQ(c->pagesCopy()[3].image(),
              "REFER=http://" + site.url("/index.html") + " " + site.url("/strips/4.png"));

    site.grow(4);
    f.update(*c);
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3, 4}));
    EXPECT_EQ(stateOf(*c), (CrawlState{site.pageUrl(4), 1, 0}));

    // The newest page still has no next link: the same strips again, once.
    f.update(*c);
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3, 4}));
}

TEST(Crawler, DotDotNextLinks) {
    Fixture f;
    ComicSite site(3);
    site.server.route(ComicSite::pagePath(2), ComicSite::pageText(2, "x/y/../../3.html"));
    auto c = f.make(site.plugin());
    f.update(*c);
    EXPECT_EQ(site.server.paths(), paths({1, 2, 3}));
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3}));
}

TEST(Crawler, LastPageMayShowNoStrip) {
    Fixture f;
    ComicSite site(3);
    site.server.route(ComicSite::pagePath(3), ComicSite::pageText(3, "", false));
    auto c = f.make(site.plugin());
    f.update(*c);
    EXPECT_FALSE(c->failed.load());
    EXPECT_EQ(images(*c), refs(site, {1, 2}));
    EXPECT_EQ(stateOf(*c), (CrawlState{site.pageUrl(3), 0, 0}));
}

TEST(Crawler, NoComicsFoundFailsAndKeepsTheStoredState) {
    Fixture f;
    ComicSite site(3);
    auto c = f.make(site.plugin());
    f.update(*c);
    c->save();
    const std::string stored = f.storage.get("fixture");

    site.grow(5);
    site.server.route(ComicSite::pagePath(4), ComicSite::pageText(4, "5.html", false));
    testsupport::LogCapture log;
    try {
        f.update(*c);
        ADD_FAILURE() << "update should fail";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "fail");
    }
    EXPECT_TRUE(c->failed.load());
    EXPECT_TRUE(log.hasLine("Fixture from " + site.pageUrl(4) +
                            " - no comics found, probably plugin error. Marking as failed."));
    EXPECT_TRUE(log.hasLine("FAIL: No comics found"));
    EXPECT_TRUE(log.hasLine("Regex plugin <- fhtagn-type <- Fixture failed"));
    EXPECT_FALSE(c->updating.load());
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3}));
    c->save();
    EXPECT_EQ(f.storage.get("fixture"), stored);
}

TEST(Crawler, UnsafePagesMayShowNoStrip) {
    Fixture f;
    ComicSite site(3);
    site.server.route(ComicSite::pagePath(2),
                      "<html><p>guest week</p><a href=\"3.html\" rel=\"next\">N</a></html>");
    auto c = f.make(site.plugin("unsafe=@guest week@$&\n"));
    f.update(*c);
    EXPECT_FALSE(c->failed.load());
    EXPECT_EQ(images(*c), refs(site, {1, 3}));
}

TEST(Crawler, EmptyDownloadEndsTheUpdateKeepingProgress) {
    Fixture f;
    ComicSite site(4);
    site.server.route(ComicSite::pagePath(3), "");
    auto c = f.make(site.plugin());
    try {
        f.update(*c);
        ADD_FAILURE() << "update should fail";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Zero-Length Download II");
    }
    EXPECT_FALSE(c->failed.load());
    EXPECT_EQ(images(*c), refs(site, {1, 2}));
    EXPECT_EQ(stateOf(*c), (CrawlState{site.pageUrl(3), 0, 0}));

    site.grow(4);
    f.update(*c);
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3, 4}));
}

TEST(Crawler, EmptyFrontPageWithSkip) {
    Fixture f;
    ComicSite site(2);
    site.server.route("/index.html", "");
    auto c = f.make(site.plugin("frontpage=" + site.url("/index.html") +
                                "\nfpmatch=@index\\.html@$&\nskip=@Please wait@$&\n"));
    try {
        f.update(*c);
        ADD_FAILURE() << "update should fail";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Zero-Length Download III");
    }
    EXPECT_EQ(images(*c), refs(site, {1, 2}));
    EXPECT_EQ(stateOf(*c), (CrawlState{site.pageUrl(2), 1, 0}));
}

TEST(Crawler, SkipDownloadsPlaceholdersAgain) {
    Fixture f;
    ComicSite site(3);
    std::atomic<int> asked{0};
    const std::string real = HttpServer::response(ComicSite::pageText(2, "3.html"));
    site.server.handle(ComicSite::pagePath(2), [&](const std::string&) {
        return ++asked == 1 ? HttpServer::response("<html>Please wait</html>") : real;
    });
    auto c = f.make(site.plugin("skip=@Please wait@$&\n"));
    f.update(*c);
    EXPECT_EQ(asked.load(), 2);
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3}));
    EXPECT_EQ(site.server.paths(), paths({1, 2, 2, 3}));
}

TEST(Crawler, SkipIsBounded) {
    Fixture f;
    ComicSite site(3);
    site.server.route(ComicSite::pagePath(2), "<html>Please wait</html>");
    auto c = f.make(site.plugin("skip=@Please wait@$&\n"));
    try {
        f.update(*c);
        ADD_FAILURE() << "update should fail";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Still a placeholder after 20 downloads of " + site.pageUrl(2));
    }
    EXPECT_EQ(site.server.paths().size(), 1u + 20u);
    EXPECT_EQ(images(*c), refs(site, {1}));
}

TEST(Crawler, CorruptCountersEndTheUpdate) {
    Fixture f;
    ComicSite site(2);
    auto c = f.make(site.plugin());
    comics::ComicState broken;
    broken.pages.push_back({site.imageRef(1), "Strip 1", "", ""});
    broken.custom = comics::encodeCrawlState({site.pageUrl(1), 3, 0});
    c->replaceState(broken);
    try {
        f.update(*c);
        ADD_FAILURE() << "update should fail";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), "Can't pop 3 off [" + site.imageRef(1) + "]");
    }
    EXPECT_EQ(images(*c), refs(site, {1}));
}

TEST(Crawler, StateSeenFromOtherThreadsIsConsistent) {
    Fixture f;
    ComicSite site(12);
    std::shared_ptr<comics::Comic> c;
    std::atomic<bool> stop{false};
    std::atomic<int> checks{0};
    std::atomic<int> bad{0};
    for (int n = 1; n <= 12; ++n) {  // slow pages give the watcher time to look
        const std::string reply = HttpServer::response(
            ComicSite::pageText(n, n < 12 ? std::to_string(n + 1) + ".html" : ""));
        site.server.handle(ComicSite::pagePath(n), [reply](const std::string&) {
            std::this_thread::sleep_for(3ms);
            return HttpServer::Reply(reply);
        });
    }
    c = f.make(site.plugin());
    std::thread watcher([&] {
        while (!stop) {
            comics::ComicState s = c->stateCopy();
            if (s.custom.empty()) continue;
            CrawlState cs = comics::decodeCrawlState(s.custom);
            ++checks;
            if (s.pages.size() < static_cast<std::size_t>(cs.lastread)) {
                ++bad;
                continue;
            }
            for (std::size_t i = s.pages.size() - cs.lastread; i < s.pages.size(); ++i)
                if (!s.pages[i].image().starts_with("REFER=http://" + cs.nextURL + " ")) ++bad;
        }
    });
    f.update(*c);
    stop = true;
    watcher.join();
    EXPECT_GT(checks.load(), 0);
    EXPECT_EQ(bad.load(), 0);
}

TEST(Crawler, OneUpdateAtATime) {
    Fixture f;
    ComicSite site(2);
    std::atomic<bool> release{false};
    std::atomic<bool> waiting{false};
    const std::string page2 = HttpServer::response(ComicSite::pageText(2, ""));
    site.server.handle(ComicSite::pagePath(2), [&](const std::string&) {
        waiting = true;
        while (!release) std::this_thread::sleep_for(1ms);
        return HttpServer::Reply(page2);
    });
    auto c = f.make(site.plugin());
    std::thread first([&] { f.update(*c); });
    while (!waiting) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(c->updating.load());
    f.update(*c);  // returns at once
    EXPECT_TRUE(c->updating.load());
    release = true;
    first.join();
    EXPECT_FALSE(c->updating.load());
    EXPECT_EQ(images(*c), refs(site, {1, 2}));
    EXPECT_EQ(site.server.paths(), paths({1, 2}));
}

}  // namespace

// Sites whose next links go round in circles: the update ends naming the page reached
// again, keeps the strips it found and resumes where strips were last added.
TEST(CrawlBounds, NextLinkCyclesEndTheUpdate) {
    struct Case {
        const char* name;
        int pages;
        int loopingPage;  // its next link points back to 1.html
        bool crawledBefore;
        int reachedAgain;
    };
    const Case cases[] = {
        {"A to B to A", 2, 2, false, 1},
        {"newest back to the first", 4, 4, true, 4},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Fixture f;
        ComicSite site(test.pages);
        auto c = f.make(site.plugin());
        if (test.crawledBefore) f.update(*c);
        site.server.route(ComicSite::pagePath(test.loopingPage),
                          ComicSite::pageText(test.loopingPage, "1.html"));
        site.server.clearRecords();
        try {
            f.update(*c);
            ADD_FAILURE() << "update should fail";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), "Next link leads back to " +
                                                 site.pageUrl(test.reachedAgain) +
                                                 ", already read in this update");
        }
        EXPECT_FALSE(c->updating.load());
        std::vector<std::string> all;
        for (int n = 1; n <= test.pages; ++n) all.push_back(site.imageRef(n));
        EXPECT_EQ(images(*c), all);
        EXPECT_LE(site.server.paths().size(), static_cast<std::size_t>(test.pages + 1));
        EXPECT_EQ(stateOf(*c), (CrawlState{site.pageUrl(test.loopingPage), 1, 0}));
    }
}

TEST(CrawlBounds, PageCapStopsAnUpdateAndTheNextGoesOn) {
    Fixture f;
    ComicSite site(5);
    comics::setMaxPagesPerUpdate(3);
    struct Restore {
        ~Restore() { comics::setMaxPagesPerUpdate(0); }
    } restore;
    auto c = f.make(site.plugin());
    try {
        f.update(*c);
        ADD_FAILURE() << "update should fail";
    } catch (const std::exception& e) {
        EXPECT_EQ(
            std::string(e.what()),
            "Stopped after 3 pages in one update; the next update goes on from " + site.pageUrl(4));
    }
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3}));
    EXPECT_EQ(site.server.paths(), paths({1, 2, 3}));
    f.update(*c);
    EXPECT_EQ(images(*c), refs(site, {1, 2, 3, 4, 5}));
    EXPECT_EQ(comics::maxPagesPerUpdate(), 3u);
}
