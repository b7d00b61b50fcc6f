#include "downloader/follow_link.hpp"

#include <gtest/gtest.h>

#include "log_counter.hpp"

using downloader::followLink;

TEST(FollowLink, RelativeLinksReplaceTheLastPathPart) {
    EXPECT_EQ(followLink("http://host/comic/page1.html", "page2.html"), "host/comic/page2.html");
    EXPECT_EQ(followLink("host/p.html", "images/y.png"), "host/images/y.png");
    EXPECT_EQ(followLink("host/a/", "./b.html"), "host/a/b.html");
    EXPECT_EQ(followLink("host/a/b/c.html", "./././d.html"), "host/a/b/d.html");
}

TEST(FollowLink, HostAbsoluteAndQueryOnlyLinks) {
    EXPECT_EQ(followLink("host/comic/page1.html", "/archive/3.html"), "host/archive/3.html");
    EXPECT_EQ(followLink("host:8080/comic/page1.html", "/a.html"), "host:8080/a.html");
    EXPECT_EQ(followLink("host/comic/page1.html", "?id=4"), "host/comic/page1.html?id=4");
    EXPECT_EQ(followLink("host/view.php?id=3", "?id=4"), "host/view.php?id=4");
}

TEST(FollowLink, ParentDirectories) {
    EXPECT_EQ(followLink("host/a/b/c.html", "../../x.html"), "host/x.html");
    EXPECT_EQ(followLink("host/a/b/c.html", "../x.html"), "host/a/x.html");
}

TEST(FollowLink, ParentAboveTheHostIsIgnoredWithALogLine) {
    LogCounter log;
    EXPECT_EQ(followLink("host/c.html", "../x.html"), "host/x.html");
    EXPECT_EQ(log.count("Link error - cannot find parent directory of |host/c.html|. Ignoring .."),
              1);
}

TEST(FollowLink, AbsoluteLinksLoseTheSchemeAndKeepAnnotations) {
    EXPECT_EQ(followLink("host/p.html", "http://other/q.html"), "other/q.html");
    EXPECT_EQ(followLink("host/p.html", "REFER=host/p.html http://other/q.html"),
              "REFER=host/p.html other/q.html");
    EXPECT_EQ(followLink("host/p.html", "POST=a=1 REFER=host/p.html 1.0 q.html"),
              "POST=a=1 REFER=host/p.html 1.0 host/q.html");
    EXPECT_EQ(followLink("host/p.html", "REFER=r /x.html"), "REFER=r host/x.html");
}

TEST(FollowLink, EntitiesSpacesAndTrailingBlanks) {
    EXPECT_EQ(followLink("host/p.html", "next.php?a=1&amp;b=2"), "host/next.php?a=1&b=2");
    EXPECT_EQ(followLink("host/p.html", "my page.html"), "host/my%20page.html");
    EXPECT_EQ(followLink("host/p.html", "next.html   "), "host/next.html");
    EXPECT_EQ(followLink("host/p.html", "REFER=host/p.html my page.html"),
              "REFER=host/p.html host/my%20page.html");
}

TEST(FollowLink, SchemeLessHostNames) {
    EXPECT_EQ(followLink("host/p.html", "cdn.host/x/y.png"), "cdn.host/x/y.png");
    // A dotted first part ending in an escape is a file name, not a host.
    EXPECT_EQ(followLink("host/p.html", "a.b%20c/y.png"), "host/a.b%20c/y.png");
    EXPECT_EQ(followLink("host/p.html", "a./y.png"), "host/a./y.png");
}

TEST(FollowLink, BareHostIsItsRootPage) {
    EXPECT_EQ(followLink("host", "next.html"), "host/next.html");
    EXPECT_EQ(followLink("http://host", "/x.html"), "host/x.html");
    EXPECT_EQ(followLink("host", "?p=2"), "host/?p=2");
}

TEST(FollowLink, Errors) {
    try {
        followLink("host/p.html", "");
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Empty newAddr found! Aborting followLink.");
    }
    EXPECT_THROW(followLink("host/p.html", "   "), std::runtime_error);
    try {
        followLink("", "x.html");
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Old address || is desperately lacking in slashes!");
    }
    EXPECT_THROW(followLink("", "/x.html"), std::runtime_error);
    EXPECT_THROW(followLink("", "?x"), std::runtime_error);
    // An absolute link needs no old address.
    EXPECT_EQ(followLink("", "http://h/x"), "h/x");
}

TEST(FollowLink, LinksOnTlsPagesStayTls) {
    const std::string page = "https://host:8443/comic/p1.html";
    EXPECT_EQ(followLink(page, "p2.html"), "https://host:8443/comic/p2.html");
    EXPECT_EQ(followLink(page, "/archive.html"), "https://host:8443/archive.html");
    EXPECT_EQ(followLink(page, "?id=4"), "https://host:8443/comic/p1.html?id=4");
    EXPECT_EQ(followLink(page, "../x.html"), "https://host:8443/x.html");
    EXPECT_EQ(followLink(page, "cdn.host/y.png"), "https://cdn.host/y.png");
    EXPECT_EQ(followLink(page, "//cdn.host/y.png"), "https://cdn.host/y.png");
    EXPECT_EQ(followLink(page, "http://other/q.html"), "other/q.html");
    EXPECT_EQ(followLink(page, "REFER=" + page + " 1.0 next.html"),
              "REFER=" + page + " 1.0 https://host:8443/comic/next.html");
    EXPECT_EQ(followLink("https://host", "a.html"), "https://host/a.html");
    // An https link keeps its scheme wherever it is found.
    EXPECT_EQ(followLink("host/p.html", "https://other/q.html"), "https://other/q.html");
    EXPECT_EQ(followLink("http://host/p.html", "REFER=host/p.html https://other/q.html"),
              "REFER=host/p.html https://other/q.html");
    // A scheme-relative link on a plain page names a host reached without TLS.
    EXPECT_EQ(followLink("host/p.html", "//cdn.host/y.png"), "cdn.host/y.png");
    EXPECT_EQ(followLink("http://host/p.html", "//127.0.0.1:81/y.png"), "127.0.0.1:81/y.png");
}
