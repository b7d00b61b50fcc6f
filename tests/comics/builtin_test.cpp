// The built-in comics against a loopback copy of their sites.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "comics/base.hpp"
#include "comics/builtin/apple_geeks.hpp"
#include "comics/builtin/archive.hpp"
#include "comics/builtin/chisuji.hpp"
#include "comics/builtin/earthsong.hpp"
#include "comics/builtin/npwil.hpp"
#include "comics/builtin/questionable_content.hpp"
#include "comics/builtin/snafu.hpp"
#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "tools/ini.hpp"

using comics::FileStorage;
using comics::Page;
using testsupport::HttpServer;

namespace {

// Every test runs in a fresh directory with its own configuration file.
class Builtin : public ::testing::Test {
protected:
    void SetUp() override { tools::useConfigFile(dir.file("tovik.ini")); }
    void TearDown() override { tools::useConfigFile("tovik.ini"); }

    // Stores n pages for the comic id, as an earlier run would have.
    void store(const std::string& id, int n) {
        comics::ComicState state;
        for (int i = 1; i <= n; ++i) state.pages.push_back({"old" + std::to_string(i), "", "", ""});
        storage.put(id, comics::serialize::encode(state));
    }

    struct Counters {
        std::atomic<int> changed{0};
        std::atomic<int> added{0};
    };
    template <class C>
    void update(C& c, Counters& count) {
        c.update([&] { ++count.changed; }, [&] { ++count.added; });
    }

    testsupport::TempDir dir;
    FileStorage storage;
    HttpServer server;
};

using GrimTales = comics::Snafu<"grim", "Grim Tales">;

std::string portalPage(const std::string& title, const std::string& strip,
                       const std::string& links) {
    return "<html><table><tr><td><font color=\"#FFFFFF\"><b>" + title +
           "</b></font></td></tr></table>" +
           (strip.empty() ? "" : "<img src=\"comics/" + strip + "\" alt=\"strip\">") + links +
           "</html>";
}

TEST_F(Builtin, PortalMembersNameTheirSectionsAndAddresses) {
    comics::Snafu<"www", "snafu"> main(storage);
    EXPECT_EQ(main.id(), "www.snafu");
    EXPECT_EQ(main.name(), "snafu");
    EXPECT_EQ(main.section(), "snafu: snafu");
    EXPECT_EQ(main.start(), "http://www.snafu-comics.com/?strip_id=0");
    EXPECT_EQ(main.toString(), "fhtagn-type [int] <- snafu");
}

TEST_F(Builtin, PortalCrawlFollowsNextComicEvenAsTheLastLink) {
    std::string root = server.url("/grim/");
    server.route("/grim/?strip_id=0",
                 portalPage("One", "001.jpg",
                            "<a href=\"?strip_id=0\">FIRST</a> <a href=\"?strip_id=1\">NEXT "
                            "COMIC</a>"));  // the page's last link
    server.route("/grim/?strip_id=1",
                 portalPage("Two &amp; more", "002.png",
                            "<a href=\"?strip_id=0\">PREVIOUS COMIC</a> <a href=\"?strip_id=2\" "
                            "class=\"n\">NEXT COMIC</a> <a href=\"/forum\">forum</a>"));
    server.route("/grim/?strip_id=2",
                 portalPage("Three", "003.jpg", "<a href=\"?strip_id=1\">BACK</a>"));

    auto c = comics::create<GrimTales>(storage, root);
    Counters count;
    update(*c, count);
    auto pages = c->pagesCopy();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].image(), "REFER=http://" + root + "?strip_id=0 " + root + "comics/001.jpg");
    EXPECT_EQ(pages[0].title(), "One");
    EXPECT_EQ(pages[1].image(), "REFER=http://" + root + "?strip_id=1 " + root + "comics/002.png");
    EXPECT_EQ(pages[1].title(), "Two &amp; more");
    EXPECT_EQ(pages[2].title(), "Three");
    EXPECT_EQ(count.added.load(), 3);
    EXPECT_FALSE(c->failed);
    EXPECT_FALSE(c->updating);
}

TEST_F(Builtin, PortalPageWithoutStripFailsTheComicAndKeepsTheStoredState) {
    store("grim.snafu", 2);
    std::string before = storage.get("grim.snafu");
    std::string root = server.url("/grim/");
    // A page that links on but shows no "comics/" reference: the crawl must
    // not take the site's root for a strip.
    server.route("/grim/?strip_id=0",
                 portalPage("Empty", "", "<a href=\"?strip_id=1\">NEXT COMIC</a>"));
    auto c = comics::create<GrimTales>(storage, root);
    EXPECT_TRUE(c->images(root + "?strip_id=0<html>nothing here</html>").empty());
    Counters count;
    testsupport::LogCapture log;
    EXPECT_ANY_THROW(update(*c, count));
    EXPECT_TRUE(c->failed);
    EXPECT_TRUE(log.hasLine("FAIL: No comics found"));
    c->save();
    EXPECT_EQ(storage.get("grim.snafu"), before);
}

TEST_F(Builtin, PortalNextWithoutALinkIsAnError) {
    auto c = comics::create<GrimTales>(storage, server.url("/grim/"));
    EXPECT_THROW(c->next("x<html>NEXT COMIC</a></html>"), std::runtime_error);
    EXPECT_EQ(c->next("x<html><a class=\"b\" href=\"?strip_id=7\"><img>NEXT COMIC</a></html>"),
              server.url("/grim/") + "?strip_id=7");
}

std::string qcArchive(int strips) {
    std::string text = "<html><div id=\"archive\"><a href=\"/\">Home</a>\n";
    for (int i = strips; i >= 1; --i)  // newest first, as the site lists them
        text += "<a href=\"view.php?comic=" + std::to_string(i) + "\">Comic " + std::to_string(i) +
                ": Strip&nbsp;" + std::to_string(i) + "</a><br>\n";
    return text + "<a href=\"/about\">About</a></div></html>";
}

TEST_F(Builtin, ArchiveReaderAppendsExactlyTheNewEntriesOldestFirst) {
    store("questionablecontent", 118);
    server.route("/archive.php", qcArchive(120));
    auto c = comics::create<comics::QuestionableContent>(
        storage, comics::QuestionableContent::Site{server.url("/archive.php"), "qc/comics/"});
    Counters count;
    update(*c, count);
    auto pages = c->pagesCopy();
    ASSERT_EQ(pages.size(), 120u);
    EXPECT_EQ(pages[117].image(), "old118");
    EXPECT_EQ(pages[118], (Page{"qc/comics/119.png", "119: Strip 119", "", ""}));
    EXPECT_EQ(pages[119], (Page{"qc/comics/120.png", "120: Strip 120", "", ""}));
    EXPECT_EQ(count.added.load(), 2);
    EXPECT_EQ(count.changed.load(), 4);  // start, two pages, end
    EXPECT_FALSE(c->updating);

    // Nothing new: nothing appended; an empty download appends nothing either.
    update(*c, count);
    EXPECT_EQ(c->pageCount(), 120u);
    server.route("/archive.php", "");
    update(*c, count);
    EXPECT_EQ(c->pageCount(), 120u);
    EXPECT_EQ(count.added.load(), 2);
}

TEST_F(Builtin, ApplegeeksPostsForTheWholeIndex) {
    server.route("/archive.php",
                 "<html>Issues <br>"
                 "<a href=\"v?i=2\" title=\"Second\">2 - Beta</a><br>"
                 "<a href=\"v?i=1\" title=\"First\">1 - Alpha</a><br>"
                 "<a href=\"v?i=10\" title=\"Tenth\">10 - Kappa</a><br>"
                 "<a href=\"/\">Home</a></html>");
    auto c = comics::create<comics::AppleGeeks>(
        storage, comics::AppleGeeks::Site{server.url("/archive.php"), "ag/issue"});
    Counters count;
    update(*c, count);
    auto pages = c->pagesCopy();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0], (Page{"ag/issue1.jpg", "Alpha: First", "", ""}));
    EXPECT_EQ(pages[1].image(), "ag/issue2.jpg");
    EXPECT_EQ(pages[2], (Page{"ag/issue10.jpg", "Kappa: Tenth", "", ""}));
    ASSERT_EQ(server.requests().size(), 1u);
    std::string request = server.requests()[0];
    EXPECT_EQ(request.rfind("POST ", 0), 0u);
    EXPECT_NE(request.find("&year=all"), std::string::npos);
}

TEST_F(Builtin, ApplegeeksWithoutIssuesAborts) {
    server.route("/archive.php", "<html>Nothing to see</html>");
    auto c = comics::create<comics::AppleGeeks>(
        storage, comics::AppleGeeks::Site{server.url("/archive.php"), "ag/issue"});
    Counters count;
    try {
        update(*c, count);
        FAIL() << "the update must fail";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "No issues or no - found, aborting");
    }
    EXPECT_FALSE(c->updating);  // cleared after the error too
    EXPECT_EQ(c->pageCount(), 0u);
    EXPECT_THROW(comics::AppleGeeks::issues("Issues <a href=\"x\">no dash</a>"),
                 std::runtime_error);
}

TEST_F(Builtin, ChisujiReadsTheArchiveSelection) {
    server.route("/",
                 "<html><select name=\"a\"><option value=\"x\">Elsewhere</option></select>"
                 "<select><option value=\"\">[Archives]</option>"
                 "<option value=\"ch01p01\">Chapter 1, page 1</option>"
                 "<option value=\"\">-- Chapter 2 --</option>"
                 "<option value=\"ch02p01\">Tom&apos;s day</option></select>"
                 "<option value=\"after\">not in the list</option></html>");
    auto c = comics::create<comics::Chisuji>(storage,
                                             comics::Chisuji::Site{server.url("/"), "cs/comics/"});
    Counters count;
    update(*c, count);
    auto pages = c->pagesCopy();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0], (Page{"cs/comics/ch01p01.jpg", "Chapter 1, page 1", "", ""}));
    EXPECT_EQ(pages[1], (Page{"cs/comics/ch02p01.jpg", "Tom's day", "", ""}));
}

TEST_F(Builtin, EarthsongReadsEachStripPage) {
    std::string root = server.url("/");
    server.route("/archive.html",
                 "<a href=\"../comic-redux/1.html\">1</a><a href=\"/vol2/2.html\">2</a>"
                 "<a href=\"comic5/3.html\">3</a><a href=\"comic5/3.html\">again</a>"
                 "<a href=\"/links.html\">links</a>");
    server.route("/comic-redux/1.html",
                 "<img src=\"../images/logo.png\"><img src=\"../comic-redux/images/0001.jpg\">"
                 "<p><strong>Posted:</strong><strong>January 5, 2004</strong></p>");
    server.route("/vol2/2.html", "<img src=\"../vol2/images/0002.png\"><strong>x</strong>");
    server.route("/comic5/3.html",
                 "<img src=\"../comic5/3.gif\">"
                 "<strong>On</strong><strong>Mar 12 , 2009</strong>");
    auto c = comics::create<comics::Earthsong>(
        storage, comics::Earthsong::Site{root.substr(0, root.size() - 1), root + "archive.html"});
    Counters count;
    update(*c, count);
    auto pages = c->pagesCopy();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0], (Page{root + "comic-redux/images/0001.jpg", "January 5, 2004", "", ""}));
    EXPECT_EQ(pages[1], (Page{root + "vol2/images/0002.png", "vol2/2.html", "", ""}));
    EXPECT_EQ(pages[2], (Page{root + "comic5/3.gif", "Mar 12 , 2009", "", ""}));

    try {
        comics::Earthsong::strips("<a href=\"/vol2/extra/4.html\">");
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Invalid segment length 3");
    }
    try {
        comics::Earthsong::strips("<a href=\"/xvol2/4.html\">");
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "xvol2/4.html; wtf?");
    }
}

TEST_F(Builtin, EarthsongStopsQuietlyAtAStripPageThatCannotBeDownloaded) {
    std::string root = server.url("/");
    server.route("/archive.html", "<a href=\"vol2/1.html\"></a><a href=\"vol2/2.html\"></a>");
    server.route("/vol2/1.html", "<img src=\"../vol2/1.jpg\">");
    server.route("/vol2/2.html", "");
    auto c = comics::create<comics::Earthsong>(
        storage, comics::Earthsong::Site{root.substr(0, root.size() - 1), root + "archive.html"});
    Counters count;
    update(*c, count);
    EXPECT_EQ(c->pageCount(), 1u);
    update(*c, count);  // resumes where it stopped
    EXPECT_EQ(c->pageCount(), 1u);
}

TEST_F(Builtin, NpwilFollowsTheStripLinksOfItsHost) {
    std::string host = server.url("");
    std::string root = host + "/";
    store("npwil", 1);
    server.route("/comics/npwil/archive.html",
                 "<a href=\"/comics/npwil/\">index</a>"
                 "<a href=\"/comics/npwil/2006/01.html\">1</a>"
                 "<a href=\"/comics/other/1.html\">other comic</a>"
                 "<a href=\"http://" +
                     host +
                     "/comics/npwil/2006/02.html\">2</a>"
                     "<a href=\"/comics/npwil/2006/03.html\">3</a>"
                     "<a href=\"/comics/npwil/2006/03.html\">latest</a>");
    server.route(
        "/comics/npwil/2006/02.html",
        "<div class=\"title\">Meet&nbsp;the planets</div><img src=\"/images/npwil/02.png\">");
    server.route("/comics/npwil/2006/03.html",
                 "<div class=\"title\">Three</div><img src=\"/images/npwil/03.png\">");
    auto c = comics::create<comics::Npwil>(
        storage, comics::Npwil::Site{host, root + "comics/npwil/archive.html"});
    Counters count;
    update(*c, count);
    auto pages = c->pagesCopy();
    ASSERT_EQ(pages.size(), 3u);  // one stored, two appended
    EXPECT_EQ(pages[1], (Page{host + "/images/npwil/02.png", "Meet the planets", "", ""}));
    EXPECT_EQ(pages[2], (Page{host + "/images/npwil/03.png", "Three", "", ""}));
    for (const std::string& path : server.paths())  // the stored strip is not fetched again
        EXPECT_NE(path, "/comics/npwil/2006/01.html");
}

TEST_F(Builtin, ArchiveReadersKeepTheirActiveFlagInTheirSection) {
    testsupport::writeFile(dir.file("tovik.ini"), "[QC]\nactive = TRUE\n[NPWIL]\nactive = False\n");
    tools::useConfigFile(dir.file("tovik.ini"));
    auto qc = comics::create<comics::QuestionableContent>(storage);
    auto np = comics::create<comics::Npwil>(storage);
    EXPECT_TRUE(qc->active);
    EXPECT_FALSE(np->active);
    auto ag = comics::create<comics::AppleGeeks>(storage);
    ag->active = false;
    ag->save();
    EXPECT_NE(testsupport::readFile(dir.file("tovik.ini")).find("[Applegeeks]\nactive = false"),
              std::string::npos);
    EXPECT_TRUE(storage.has("applegeeks"));
}

}  // namespace

TEST(ArchiveAddresses, AbsoluteAddressesOfEitherSchemeStay) {
    using comics::builtin::onSite;
    EXPECT_EQ(onSite("http://host", "/a.html"), "http://host/a.html");
    EXPECT_EQ(onSite("http://host", "a.html"), "http://host/a.html");
    EXPECT_EQ(onSite("http://host", "http://cdn/x.png"), "http://cdn/x.png");
    EXPECT_EQ(onSite("http://host", "https://cdn/x.png"), "https://cdn/x.png");
    // Protocol-relative links name their own host.
    EXPECT_EQ(onSite("http://host", "//cdn/x.png"), "http://cdn/x.png");
    EXPECT_EQ(onSite("https://host", "//cdn/x.png"), "https://cdn/x.png");
}
