// How the generator reads pages: addresses compared and matched, links read for
// their direction, strip images and titles learnt from several pages.
#include <gtest/gtest.h>

#include "extract/replacer.hpp"
#include "wendle/addresses.hpp"
#include "wendle/link_candidates.hpp"
#include "wendle/page_scan.hpp"
#include "wendle/strip_images.hpp"
#include "wendle/titles.hpp"

namespace {

using namespace wendle;

TEST(Addresses, EquivalentWritingsNameOnePage) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"example.com/", "http://www.example.com", true},
        {"https://example.com:443/index.php", "example.com", true},
        {"example.com:80/comic/", "example.com/comic/index.html#top", true},
        {"EXAMPLE.com/a", "example.com/a/", true},
        {"example.com/?p=2", "example.com/index.php?p=2", true},
        {"example.com/?", "example.com/index.htm", true},
        {"//example.com/x", "example.com/x", true},
        {"example.com/a", "example.com/A", false},
        {"example.com/?p=2", "example.com/?p=3", false},
        {"example.com:8080/", "example.com/", false},
        {"example.com/a/index.html", "example.com/a/b", false},
        {"example.com/main.php", "example.com/", false},
    };
    for (const Case& c : cases) EXPECT_EQ(sameAddress(c.a, c.b), c.same) << c.a << " / " << c.b;
}

TEST(Addresses, FrontPageMatchFindsEveryWritingOfTheFrontPageOnly) {
    struct Case {
        const char* front;
        std::vector<const char*> matched, missed;
    };
    const Case cases[] = {
        {"www.example.com/",
         {"example.com/", "example.com", "http://example.com", "https://www.example.com/index.php",
          "example.com/index.htm#x", "example.com:80/", "WWW.example.com/"},
         {"example.com/comic/4", "example.com/?p=4", "example.com/index.php?p=4", "notexample.com/",
          "example.com.evil/"}},
        {"127.0.0.1:8765/comic/index.html",
         {"127.0.0.1:8765/comic", "127.0.0.1:8765/comic/",
          "https://127.0.0.1:8765/comic/index.php"},
         {"127.0.0.1:8765/comic/2", "127.0.0.1:8766/comic/", "127.0.0.1:8765/"}},
        {"site.org/m/coming-soon.html?from=5",
         {"site.org/m/coming-soon.html?from=5", "http://www.site.org/m/coming-soon.html?from=5"},
         {"site.org/m/coming-soon.html?from=6", "site.org/m/coming-soonXhtml?from=5"}},
    };
    for (const Case& c : cases) {
        extract::Replacer match(frontPageMatch(c.front));
        for (const char* address : c.matched)
            EXPECT_FALSE(match.apply(std::string(address)).empty()) << c.front << " ~ " << address;
        for (const char* address : c.missed)
            EXPECT_TRUE(match.apply(std::string(address)).empty()) << c.front << " !~ " << address;
    }
}

TEST(Addresses, NumbersAndShapes) {
    EXPECT_EQ(addressNumbers("h.org:8080/2023/05/x12.html?id=7"),
              (std::vector<unsigned long long>{2023, 5, 12, 7}));
    EXPECT_EQ(addressShape("www.h.org/comic/12/"), addressShape("h.org/comic/7/index.html"));
    EXPECT_NE(addressShape("h.org/comic/12/"), addressShape("h.org/blog/12/"));
}

TEST(PageScan, TagsAsBrowsersReadThem) {
    std::string page =
        "<!-- <a href=\"/in-comment\">Next</a> --><script>var s = '<a href=\"/in-script\">';"
        "</script><A HREF=strip2.html TITLE='Next strip'><IMG SRC=\"n.gif\" ALT=Next></A>"
        "<a href=\"/p\" class=\"x\">  Back\n to\tstart </a><link rel='next' href='/n'>";
    std::vector<Link> links = scanLinks(page);
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0].href, "strip2.html");
    EXPECT_EQ(links[0].tag.find("title")->value, "Next strip");
    ASSERT_EQ(links[0].images.size(), 1u);
    EXPECT_EQ(links[0].images[0].find("alt")->value, "Next");
    EXPECT_EQ(links[1].texts, (std::vector<std::string>{"Back to start"}));
    EXPECT_EQ(links[2].tag.name, "link");
    EXPECT_EQ(decodeEntities("&laquo;&#8250;&#x203A;&gt;&amp;&bogus;"),
              "\xC2\xAB\xE2\x80\xBA\xE2\x80\xBA>&&bogus;");
}

// The direction a link reads as: the strongest one at 3 or more, "none" else.
std::string direction(const std::string& html) {
    std::vector<Link> links = scanLinks(html);
    if (links.empty()) return "no link";
    LinkReading reading = readLink(links.front());
    const char* names[] = {"next", "prev", "first", "last"};
    std::string best = "none";
    int strongest = 2;
    for (int role = 0; role < 4; ++role)
        if (reading.strength[role] > strongest) {
            strongest = reading.strength[role];
            best = names[role];
        }
    return best;
}

TEST(LinkReading, LabelsSayWhereALinkLeads) {
    struct Case {
        const char* html;
        const char* reads;
    };
    const Case cases[] = {
        {"<a href=x>Next</a>", "next"},
        {"<a href=x>Next &rsaquo;</a>", "next"},
        {"<a href=x><span>NEXT COMIC</span> &gt;&gt;</a>", "next"},
        {"<a href=x rel=\"next nofollow\">Newer post</a>", "next"},
        {"<a href=x class=\"navi comic-nav-next\">x</a>", "next"},
        {"<a href=x aria-label=\"Next page\">&#9654;</a>", "next"},
        {"<a href=x><img src=\"/i/btn_next.gif\"></a>", "next"},
        {"<a href=x><img src=\"/i/arrow_right.png\"></a>", "next"},
        {"<a href=x>&rsaquo;</a>", "next"},
        {"<a href=x>\xE2\x86\x92</a>", "next"},
        {"<a href=x>&raquo;</a>", "last"},
        {"<a href=x>Last &raquo;</a>", "last"},
        {"<a href=x>Newest</a>", "last"},
        {"<a href=x class=\"navi-next\">Latest</a>", "none"},
        {"<a href=x><img src=\"nav.gif\" alt=\"Previous\"></a>", "prev"},
        {"<a href=x title=\"Go back\">&lt;</a>", "prev"},
        {"<a href=x>&lsaquo;&lsaquo; First</a>", "first"},
        {"<a href=x>|&lt;</a>", "first"},
        {"<a href=x>&laquo;</a>", "first"},
        {"<a href=x>next week</a>", "none"},
        {"<a href=x>previous post</a>", "none"},
        {"<a href=x>Back to top</a>", "none"},
        {"<a href=x><img src=\"/img/b3.gif\"></a>", "none"},
    };
    for (const Case& c : cases) EXPECT_EQ(direction(c.html), c.reads) << c.html;
}

TEST(LinkCandidates, ExpressionsFindTheLinkOnOtherPagesOfTheSite) {
    const std::string page =
        "<html><head><link rel='next' title='Strip 6: The Heist' href='/comic/6/'></head>"
        "<a href=\"/comic/1/\">First</a> <a href=\"/comic/4/\">Prev</a> "
        "<a href=\"/comic/6/\">Next</a> <a href=\"/comic/9/\">Last</a></html>";
    std::vector<LinkCandidate> next = labelledLinks("h.org/comic/5/", page, Role::next);
    ASSERT_GE(next.size(), 2u);
    for (const LinkCandidate& candidate : next) EXPECT_EQ(candidate.target, "h.org/comic/6/");
    EXPECT_EQ(next.front().description, "the link labelled \"Next\"");
    // Another page of the site, written in capitals and without the head link.
    const std::string other = "<A HREF=\"/comic/7/\">Next</A> <A HREF=\"/comic/9/\">Last</A>";
    EXPECT_EQ(firstLink(next.front().expression, "h.org/comic/6/", other), "h.org/comic/7/");
    // Last is never a candidate for next, nor next for previous.
    std::vector<LinkCandidate> prev = labelledLinks("h.org/comic/5/", page, Role::prev);
    ASSERT_FALSE(prev.empty());
    for (const LinkCandidate& candidate : prev) EXPECT_EQ(candidate.target, "h.org/comic/4/");
    // Whatever sets a link apart, when it has no label.
    const std::string buttons =
        "<a href=\"/v/1\"><img src=\"/img/b1.gif\"></a><a href=\"/v/4\"><img "
        "src=\"/img/b2.gif\"></a>";
    std::vector<LinkCandidate> to = linksTo("h.org/v/5", buttons, "h.org/v/4");
    ASSERT_FALSE(to.empty());
    EXPECT_EQ(to.front().description, "the link with the image \"b2.gif\"");
    EXPECT_EQ(navigationTargets("h.org/v/5", buttons, {}),
              (std::vector<std::string>{"h.org/v/1", "h.org/v/4"}));
}

SamplePage sample(const std::string& address, const std::string& body) {
    return {address, "<html><body><img src=\"/logo.png\">" + body + "</body></html>"};
}

TEST(StripImages, SharedPartOfTheStripAddressesNotOneMonth) {
    struct Case {
        const char* what;
        std::vector<std::string> strips;  // as written on the newest, an older, the first page
        std::string shared;
        std::string later;  // as written on a page not among the samples
    };
    const Case cases[] = {
        {"months of a blog engine",
         {"<img src=\"/wp-content/uploads/2024/02/s-9.png\">",
          "<img src=\"/wp-content/uploads/2024/02/s-8.png\">",
          "<img src=\"/wp-content/uploads/2021/07/s-1.png\">"},
         "/wp-content/uploads/",
         "<img src=\"/wp-content/uploads/2022/11/s-4.png\">"},
        {"an image host in every form",
         {"<img src=\"//img.example.net/c/2024/01/x.png\">",
          "<img src=\"https://img.example.net/c/2023/12/y.png\">",
          "<img src=\"http://img.example.net/c/2020/01/z.png\">"},
         "img.example.net/c/",
         "<img src=\"//img.example.net/c/2022/05/q.png\">"},
        {"lazy loading",
         {"<img src=\"data:image/gif;base64,R0l\" data-src=\"/up/9.png\" class=\"lazy\">",
          "<img src=\"data:image/gif;base64,R0l\" data-src=\"/up/8.png\" class=\"lazy\">",
          "<img src=\"data:image/gif;base64,R0l\" data-src=\"/up/1.png\" class=\"lazy\">"},
         "/up/",
         "<img src=\"data:image/gif;base64,R0l\" data-src=\"/up/5.png\">"},
        {"srcset only",
         {"<img srcset=\"/s/9.png 1x, /s/9@2x.png 2x\">", "<img srcset=\"/s/8.png 1x\">",
          "<img srcset=\"/s/1.png 1x, /s/1@2x.png 2x\">"},
         "/s/",
         "<img srcset=\"/s/5.png 1x, /s/5@2x.png 2x\">"},
        {"one folder for all, the strips named alike",
         {"<IMG SRC=\"images/strip009.gif\"><IMG SRC=\"images/next.gif\">",
          "<IMG SRC=\"images/strip008.gif\"><IMG SRC=\"images/next.gif\">",
          "<IMG SRC=\"images/strip001.gif\"><IMG SRC=\"images/next.gif\">"},
         "images/strip",
         "<IMG SRC=\"images/strip005.gif\"><IMG SRC=\"images/next.gif\">"},
    };
    for (const Case& c : cases) {
        std::vector<SamplePage> samples = {sample("h.org/c/9.html", c.strips[0]),
                                           sample("h.org/c/8.html", c.strips[1]),
                                           sample("h.org/c/1.html", c.strips[2])};
        StripLearning learnt = learnStrips(samples);
        ASSERT_FALSE(learnt.expression.empty()) << c.what;
        EXPECT_EQ(learnt.shared, c.shared) << c.what;
        EXPECT_TRUE(learnt.choices.empty()) << c.what;
        EXPECT_EQ(stripsOn(learnt.expression, sample("h.org/c/5.html", c.later)).size(), 1u)
            << c.what << ": " << learnt.expression;
    }
}

TEST(StripImages, TwoChangingImagesAreAmbiguousUntilOneIsChosen) {
    std::vector<SamplePage> samples;
    for (int n : {9, 8, 1})
        samples.push_back(sample("h.org/c/" + std::to_string(n) + ".html",
                                 "<img src=\"/ads/" + std::to_string(n * 7) +
                                     ".gif\"><img src=\"/strips/" + std::to_string(n) + ".png\">"));
    StripLearning learnt = learnStrips(samples);
    EXPECT_TRUE(learnt.expression.empty());
    EXPECT_EQ(learnt.choices, (std::vector<std::string>{"/ads/63.gif", "/strips/9.png"}));
    learnt = learnStrips(samples, "/strips/9.png");
    EXPECT_EQ(learnt.strips, (std::vector<std::string>{"h.org/strips/9.png", "h.org/strips/8.png",
                                                       "h.org/strips/1.png"}));
    // The strip in an element named for it wins without asking.
    for (SamplePage& page : samples) {
        std::size_t at = page.text.find("<img src=\"/strips/");
        page.text.insert(at, "<div id=\"comic-box\">");
    }
    learnt = learnStrips(samples);
    ASSERT_FALSE(learnt.expression.empty());
    EXPECT_EQ(learnt.strips.front(), "h.org/strips/9.png");
}

TEST(Titles, TheChangingPartBesideTheComicsName) {
    struct Case {
        std::string head9, head8;  // the <head> contents of two pages
        std::string title;         // the title found on the first, "" for none
    };
    auto titled = [](const std::string& text) { return "<title>" + text + "</title>"; };
    const Case cases[] = {
        {titled("Strip 9 \xE2\x80\x93 My Comic"), titled("Strip 8 \xE2\x80\x93 My Comic"),
         "Strip 9"},
        {titled("Strip 9 &#8211; My Comic"), titled("Strip 8 &#8211; My Comic"), "Strip 9"},
        {titled("My Comic | The End - Part 2"), titled("My Comic | Part 1"), "The End - Part 2"},
        {titled("MY COMIC :: Strip 9"), titled("MY COMIC :: Strip 8"), "Strip 9"},
        {titled("Strip 9 \xE2\x80\x94 My Comic"), titled("Strip 8 \xE2\x80\x94 My Comic"),
         "Strip 9"},
        {titled("My Comic") + "<meta property=\"og:title\" content=\"The Heist\">",
         titled("My Comic") + "<meta property=\"og:title\" content=\"The Chase\">", "The Heist"},
        {titled("My Comic") + "</head><h2 class=\"entry-title\"><a href=\"/9\">Nine</a></h2>",
         titled("My Comic") + "</head><h2 class=\"entry-title\"><a href=\"/8\">Eight</a></h2>",
         "Nine"},
        {titled("My Comic"), titled("My Comic"), ""},
    };
    for (const Case& c : cases) {
        std::vector<SamplePage> samples = {{"h/9", "<html><head>" + c.head9 + "</html>"},
                                           {"h/8", "<html><head>" + c.head8 + "</html>"}};
        std::string expression = findTitleExpression("My Comic", samples);
        EXPECT_EQ(expression.empty() ? "" : firstResult(expression, samples[0].text), c.title)
            << c.head9 << " -> " << expression;
    }
}

}  // namespace
