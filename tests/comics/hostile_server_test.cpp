// Comics crawled from servers that misbehave in every way we know of. Each behaviour
// ends within its time with its error (or, where the answer is usable, with the strips),
// and comics on other servers finish their updates meanwhile. The limits are short
// ones injected for the test; each case is a test of its own so they run in parallel.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <thread>

#include "comic_site.hpp"
#include "comics/next_link_crawler.hpp"
#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace std::chrono_literals;
using testsupport::ComicSite;
using testsupport::HttpServer;
using Reply = HttpServer::Reply;
using Clock = std::chrono::steady_clock;

downloader::Limits shortLimits() {
    downloader::Limits l;
    l.receiveTimeout = 400ms;
    l.connectTimeout = 1000ms;
    l.connectRetryWait = 50ms;
    l.overallDeadline = 3000ms;
    l.silenceLimit = 700ms;
    l.retryAfterCap = 2000ms;
    l.maxHeader = 64 << 10;
    l.maxBody = 64 << 20;
    l.maxChunk = 32 << 20;
    l.maxRedirects = 10;
    return l;
}

struct Comic {
    testsupport::TempDir dir{true};
    comics::FileStorage storage;
    std::shared_ptr<comics::Comic> comic;

    explicit Comic(const std::string& plugin) {
        std::filesystem::create_directories("plugins");
        testsupport::writeFile("plugins/fixture.re", plugin);
        comic = comics::makePlugin(storage, "plugins/fixture.re", "");
    }
    // The update's error, "" when it succeeded.
    std::string update() {
        return testsupport::errorOf([&] { comic->update({}, {}); });
    }
    std::size_t strips() const { return comic->pagesCopy().size(); }
};

std::string httpDate(std::time_t at) {
    char text[64];
    std::tm parts{};
    gmtime_r(&at, &parts);
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

// The page behind /comic/2.html, strip 2 and no next link, as a complete response.
std::string secondPage() { return HttpServer::response(ComicSite::pageText(2, "")); }

// A response sent as pieces of `size` bytes, `gap` apart.
Reply dribbled(const std::string& bytes, std::size_t size, std::chrono::milliseconds gap) {
    Reply r;
    for (std::size_t at = 0; at < bytes.size(); at += size)
        r.pieces.push_back(bytes.substr(at, size));
    r.gap = gap;
    return r;
}

struct Behaviour {
    const char* name;
    // Makes page 2 of the two-page site misbehave.
    std::function<void(ComicSite& site)> serve;
    // The update's error ("" for success); "<page2>" and "<page1>" stand for the pages'
    // addresses.
    std::string error;
    std::string logged;  // a part of the log that names the cause
    std::size_t strips;  // strips listed afterwards
    std::chrono::milliseconds within;
    // A large answer the loopback server needs a while to make (sanitizer builds): the
    // limits of time are not what this case is about.
    bool generousTime = false;
};

const std::string zeroLength = "Zero-Length Download II";

const Behaviour behaviours[] = {
    {"SlowDrip",
     [](ComicSite& s) {
         s.server.handle(ComicSite::pagePath(2),
                         [](const std::string&) { return dribbled(secondPage(), 1, 100ms); });
     },
     "Download not finished within 3 s: <page2>", "", 1, 4500ms},
    {"HeaderNeverEnds",
     [](ComicSite& s) {
         s.server.handle(ComicSite::pagePath(2), [](const std::string&) {
             std::string lines = "HTTP/1.1 200 OK\r\n";
             while (lines.size() < (100 << 10)) lines += "X-Filler: yyyyyyyyyyyyyyyy\r\n";
             Reply r(lines);
             r.stall = true;
             return r;
         });
     },
     zeroLength, "Response header over 65536 bytes", 1, 2000ms},
    {"DeclaredLengthNeverSent",
     [](ComicSite& s) {
         s.server.handle(ComicSite::pagePath(2), [](const std::string&) {
             Reply r("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n<html>");
             r.stall = true;
             return r;
         });
     },
     zeroLength, "Can't download page.", 1, 2500ms},
    {"ChunkSizeTwoToTheForty",
     [](ComicSite& s) {
         s.server.handle(ComicSite::pagePath(2), [](const std::string&) {
             return Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000\r\nab");
         });
     },
     zeroLength, "Chunk size over 33554432 bytes", 1, 2000ms},
    {"BodyCutShort",
     [](ComicSite& s) {
         s.server.handle(ComicSite::pagePath(2), [](const std::string&) {
             Reply r("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n<html><body>");
             r.close = true;
             return r;
         });
     },
     zeroLength, "Response cut short after 12 body bytes", 1, 2000ms},
    {"ShortContentLength",
     [](ComicSite& s) {
         // The announced length ends the page before its strip: a last page without one.
         s.server.handle(ComicSite::pagePath(2), [](const std::string&) {
             return Reply("HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n" +
                          ComicSite::pageText(2, ""));
         });
     },
     "", "Received all data", 1, 2000ms},
    {"ResetMidBody",
     [](ComicSite& s) {
         s.server.handle(ComicSite::pagePath(2), [](const std::string&) {
             Reply r("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n<html><body>");
             r.reset = true;
             return r;
         });
     },
     zeroLength, "Can't download page.", 1, 2000ms},
    {"RedirectLoop",
     [](ComicSite& s) {
         s.server.redirect(ComicSite::pagePath(2), "/loop/a");
         s.server.redirect("/loop/a", "/loop/b");
         s.server.redirect("/loop/b", "/loop/a");
     },
     zeroLength, "Too many redirects", 1, 2000ms},
    {"RedirectChainOfThirty",
     [](ComicSite& s) {
         s.server.redirect(ComicSite::pagePath(2), "/hop/1");
         for (int i = 1; i < 30; ++i)
             s.server.redirect("/hop/" + std::to_string(i), "/hop/" + std::to_string(i + 1));
         s.server.route("/hop/30", ComicSite::pageText(2, ""));
     },
     zeroLength, "Too many redirects", 1, 2000ms},
    {"TooManyRequestsWithRetryAfter",
     [](ComicSite& s) {
         auto asked = std::make_shared<std::atomic<int>>(0);
         s.server.handle(ComicSite::pagePath(2), [asked](const std::string&) {
             if (++*asked == 1)
                 return Reply(
                     HttpServer::response("slow down", 429, "text/plain", {{"Retry-After", "1"}}));
             return Reply(secondPage());
         });
     },
     "", "Status 429 from <page2>, trying again", 2, 2500ms},
    {"TooManyRequestsBeyondTheCap",
     [](ComicSite& s) {
         s.server.route(ComicSite::pagePath(2), "later", "text/plain", 429,
                        {{"Retry-After", "3600"}});
     },
     "The server asks to wait 3600 s before retrying, more than the 2 s allowed (status "
     "429): <page2>",
     "", 1, 1000ms},
    {"UnavailableWithRetryDate",
     [](ComicSite& s) {
         auto asked = std::make_shared<std::atomic<int>>(0);
         s.server.handle(ComicSite::pagePath(2), [asked](const std::string&) {
             if (++*asked == 1)
                 return Reply(
                     HttpServer::response("maintenance", 503, "text/plain",
                                          {{"Retry-After", httpDate(std::time(nullptr))}}));
             return Reply(secondPage());
         });
     },
     "", "Status 503 from <page2>, trying again", 2, 2500ms},
    {"UnavailableUntilADateBeyondTheCap",
     [](ComicSite& s) {
         s.server.route(ComicSite::pagePath(2), "maintenance", "text/plain", 503,
                        {{"Retry-After", httpDate(std::time(nullptr) + 7200)}});
     },
     "before retrying, more than the 2 s allowed (status 503): <page2>", "", 1, 1000ms},
    {"UnavailableEveryTime",
     [](ComicSite& s) { s.server.route(ComicSite::pagePath(2), "down", "text/plain", 503); },
     "Status 503 from <page2>", "Status 503 from <page2>", 1, 2000ms},
    {"NotFound",
     [](ComicSite& s) { s.server.route(ComicSite::pagePath(2), "gone", "text/plain", 404); },
     "Status 404 from <page2>", "", 1, 1000ms},
    {"Http10BodyEndedByClose",
     [](ComicSite& s) {
         s.server.handle(ComicSite::pagePath(2), [](const std::string&) {
             Reply r("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" +
                     ComicSite::pageText(2, ""));
             r.close = true;
             return r;
         });
     },
     "", "Connection closed at ", 2, 2000ms},
    {"AcceptsAndNeverAnswers",
     [](ComicSite& s) {
         s.server.handle(ComicSite::pagePath(2),
                         [](const std::string&) { return Reply::silence(); });
     },
     "No answer from the server within 0.7 s: <page2>", "", 1, 1500ms},
    {"TwentyMegabytePageWithoutMatch",
     [](ComicSite& s) {
         std::string page = "<html><body>";
         page.resize(20 << 20, 'x');
         s.server.route(ComicSite::pagePath(2), page + "</body></html>");
     },
     "", "Received all data", 1, 20000ms, true},
    {"InvalidUtf8WithNulBytes",
     [](ComicSite& s) {
         std::string page = ComicSite::pageText(2, "");
         page.insert(page.find("<img"), std::string("\xC3\x28\0\0\xFF\xED\xA0\x80", 8));
         page += std::string("\0\xC0\xAF", 3);
         s.server.route(ComicSite::pagePath(2), page);
     },
     "", "", 2, 2000ms},
    {"NextLinkBackToTheFirstPage",
     [](ComicSite& s) { s.server.route(ComicSite::pagePath(2), ComicSite::pageText(2, "1.html")); },
     "Next link leads back to <page1>, already read in this update", "", 2, 2000ms},
    {"PagesLinkingToEachOther",
     [](ComicSite& s) {
         s.server.route(ComicSite::pagePath(2), ComicSite::pageText(2, "3.html"));
         s.server.route(ComicSite::pagePath(3), ComicSite::pageText(3, "2.html"));
     },
     "Next link leads back to <page2>, already read in this update", "", 3, 2000ms},
    {"BodyLargerThanTheSharedBudget",
     [](ComicSite& s) {
         s.server.handle(ComicSite::pagePath(2), [](const std::string&) {
             Reply r("HTTP/1.1 200 OK\r\nContent-Length: 50331648\r\n\r\n");
             r.stall = true;
             return r;
         });
     },
     "A response of 50332672 bytes is more than the 32 MiB allowed for responses: <page2>", "", 1,
     1000ms},
};

std::string filled(std::string text, const ComicSite& site) {
    for (auto [mark, page] : {std::pair{"<page1>", 1}, std::pair{"<page2>", 2}}) {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, std::string(mark).size(), site.pageUrl(page));
    }
    return text;
}

class Hostile : public ::testing::TestWithParam<Behaviour> {
protected:
    void SetUp() override {
        downloader::setDefaultLimits(shortLimits());
        downloader::setResponseBudget(std::size_t{32} << 20);
    }
    void TearDown() override {
        downloader::setDefaultLimits({});
        downloader::setResponseBudget(downloader::defaultResponseBudget);
        downloader::dropIdleConnections();
    }
};

}  // namespace

TEST_P(Hostile, EndsWithinItsLimitWithItsError) {
    const Behaviour& b = GetParam();
    if (b.generousTime) {
        downloader::Limits l = shortLimits();
        l.silenceLimit = 10000ms;
        l.receiveTimeout = 10000ms;
        l.overallDeadline = 15000ms;
        downloader::setDefaultLimits(l);
    }
    ComicSite site(2);
    b.serve(site);
    Comic c(site.plugin());
    testsupport::LogCapture log;
    const auto started = Clock::now();
    const std::string error = c.update();
    const auto took = Clock::now() - started;
    if (b.error.empty()) {
        EXPECT_EQ(error, "(no error)");
    } else {
        EXPECT_NE(error.find(filled(b.error, site)), std::string::npos) << error;
    }
    if (!b.logged.empty()) {
        EXPECT_TRUE(log.contains(filled(b.logged, site))) << log.text().substr(0, 4000);
    }
    EXPECT_EQ(c.strips(), b.strips);
    EXPECT_LT(took, b.within);
    EXPECT_FALSE(c.comic->updating.load());
    EXPECT_EQ(c.comic->pagesCopy().at(0).image(), site.imageRef(1));
}

INSTANTIATE_TEST_SUITE_P(Servers, Hostile, ::testing::ValuesIn(behaviours),
                         [](const auto& info) { return std::string(info.param.name); });

// An error status keeps the resume point on the page that answered it, so the next
// update tries that page again rather than reading it as the end of the comic.
TEST(HostileStatus, ErrorStatusKeepsTheResumePoint) {
    downloader::setDefaultLimits(shortLimits());
    ComicSite site(2);
    site.server.route(ComicSite::pagePath(2), "busy", "text/plain", 500);
    Comic c(site.plugin());
    EXPECT_EQ(c.update(), "Status 500 from " + site.pageUrl(2));
    std::string custom = c.comic->stateCopy().custom;
    EXPECT_EQ(comics::decodeCrawlState(custom), (comics::CrawlState{site.pageUrl(2), 0, 0}));
    EXPECT_EQ(c.strips(), 1u);
    // Three attempts, each after a pause: no storm of requests.
    EXPECT_EQ(site.server.paths().size(), 1u + 3u);
    site.grow(2);
    EXPECT_EQ(c.update(), "(no error)");
    EXPECT_EQ(c.strips(), 2u);
    downloader::setDefaultLimits({});
}

// A comic held up by a slow server does not hold up the comics of other servers.
TEST(HostileNeighbours, OtherComicsFinishMeanwhile) {
    downloader::setDefaultLimits(shortLimits());
    ComicSite slow(2);
    slow.server.handle(ComicSite::pagePath(2),
                       [](const std::string&) { return dribbled(secondPage(), 1, 100ms); });
    ComicSite good(6);
    ComicSite cyclic(3);
    cyclic.server.route(ComicSite::pagePath(3), ComicSite::pageText(3, "1.html"));

    testsupport::TempDir dir(true);
    comics::FileStorage storage;
    std::filesystem::create_directories("plugins");
    auto make = [&](const std::string& name, const ComicSite& site) {
        testsupport::writeFile("plugins/" + name + ".re", site.plugin());
        return comics::makePlugin(storage, "plugins/" + name + ".re", "");
    };
    auto slowComic = make("slow", slow);
    auto goodComic = make("good", good);
    auto cyclicComic = make("cyclic", cyclic);

    std::atomic<bool> slowDone{false};
    std::atomic<bool> slowDoneBeforeGood{false};
    std::string slowError, goodError, cyclicError;
    std::thread slowThread([&] {
        slowError = testsupport::errorOf([&] { slowComic->update({}, {}); });
        slowDone = true;
    });
    std::thread goodThread([&] {
        goodError = testsupport::errorOf([&] { goodComic->update({}, {}); });
        cyclicError = testsupport::errorOf([&] { cyclicComic->update({}, {}); });
        slowDoneBeforeGood = slowDone.load();
    });
    goodThread.join();
    slowThread.join();
    EXPECT_FALSE(slowDoneBeforeGood.load());
    EXPECT_EQ(goodError, "(no error)");
    EXPECT_EQ(goodComic->pagesCopy().size(), 6u);
    EXPECT_EQ(cyclicError,
              "Next link leads back to " + cyclic.pageUrl(1) + ", already read in this update");
    EXPECT_EQ(cyclicComic->pagesCopy().size(), 3u);
    EXPECT_EQ(slowError, "Download not finished within 3 s: " + slow.pageUrl(2));
    downloader::setDefaultLimits({});
}
