#pragma once
// Loopback comic sites for the generator's dialogue tests, and a loopback web
// search that lists them. Every site has five strips; its home page "/" shows
// the newest one.
#include <string>
#include <vector>

#include "support/http_server.hpp"
#include "wendle/dialogue.hpp"

namespace fixtures {

inline std::string num(int n) { return std::to_string(n); }

class Site {
public:
    static constexpr int newest = 5;
    testsupport::HttpServer server;
    // "127.0.0.1:PORT", the host as the generator writes addresses.
    std::string host() const { return server.url(""); }
    // The strip image addresses a crawl of the whole comic must collect, in order.
    std::vector<std::string> strips(const std::string& pathBeforeNumber,
                                    const std::string& extension = ".png") const {
        std::vector<std::string> out;
        for (int n = 1; n <= newest; ++n)
            out.push_back(host() + pathBeforeNumber + num(n) + extension);
        return out;
    }
    // Serves the page of strip n at its own address, and the newest also at "/"
    // (and at the extra front addresses).
    template <class Page>
    void serve(const std::string& prefix, Page page, std::vector<std::string> fronts = {"/"}) {
        for (int n = 1; n <= newest; ++n) server.route(prefix + num(n) + ".html", page(n));
        for (const auto& front : fronts) server.route(front, page(newest));
    }
};

// A sequence of pages /comic/N.html with text links First | Prev | Next and
// titles "<name> - Strip N".
inline void plainComic(Site& site, const std::string& name) {
    site.serve("/comic/", [name](int n) {
        std::string text = "<html><head><title>" + name + " - Strip " + num(n) +
                           "</title></head><body>\n<h1>Strip " + num(n) + "</h1>\n";
        text += "<img src=\"/strips/" + num(n) + ".png\" alt=\"strip " + num(n) + "\">\n";
        text += "<div class=\"nav\"><a href=\"/comic/1.html\">First</a>";
        if (n > 1) text += " | <a href=\"/comic/" + num(n - 1) + ".html\">Prev</a>";
        if (n < Site::newest) text += " | <a href=\"/comic/" + num(n + 1) + ".html\">Next</a>";
        return text + "</div>\n<h3>Thanks for reading</h3>\n</body></html>\n";
    });
}

// Pages /strip/N.html with arrows whose titles name the direction; the newest
// strip lives only on the front page, which strip 4 links as `frontLink`.
inline void frontPageComic(Site& site, const std::string& frontLink) {
    auto page = [frontLink](int n) {
        std::string text = "<html><head><title>Front Comic</title></head><body>\n<h1>Strip " +
                           num(n) + "</h1>\n<img src=\"/strips/" + num(n) + ".png\">\n";
        text += "<p><a href=\"/strip/1.html\">First</a>";
        if (n > 1)
            text += " <a title=\"Previous strip\" href=\"/strip/" + num(n - 1) + ".html\">&lt;</a>";
        if (n < Site::newest) {
            std::string target =
                n + 1 == Site::newest ? frontLink : "/strip/" + num(n + 1) + ".html";
            text += " <a title=\"Next strip\" href=\"" + target + "\">&gt;</a>";
        }
        return text + "</p>\n</body></html>\n";
    };
    for (int n = 1; n < Site::newest; ++n) site.server.route("/strip/" + num(n) + ".html", page(n));
    site.server.route("/", page(Site::newest));
    site.server.route("/index.html", page(Site::newest));
}

// Pages /m/N.html with a logo (twice), a banner and the strip, a permanent link
// and text links. The newest page's own next link is `newestNext` (empty: a
// feed link stands there instead). With `ads`, a rotating advertisement that
// changes from page to page stands before the strip.
inline void manyImagesComic(Site& site, const std::string& newestNext = "", bool ads = false) {
    site.serve("/m/", [newestNext, ads](int n) {
        std::string text = "<html><head><title>Many Images</title></head><body>\n";
        text += "<img src=\"/img/logo.png\" alt=\"logo\"> <img src=\"/img/banner.gif\">\n";
        if (ads) text += "<img src=\"/ads/" + num(n * 37 % 101) + ".gif\" alt=\"comic sponsor\">\n";
        text += "<IMG SRC='/img/comics/" + num(n) + ".png' ALT='strip'>\n";
        text += "<a href=\"/m/" + num(n) + ".html\" title=\"Permanent Link: Episode " + num(n) +
                "\">link</a>\n<p>";
        if (n > 1) text += "<a href=\"/m/" + num(n - 1) + ".html\">Prev</a>";
        if (n < Site::newest)
            text += " <a href=\"/m/" + num(n + 1) + ".html\">Next</a>";
        else if (newestNext.empty())
            text += " <a href=\"/feed.xml\">Feed</a>";
        else
            text += " <a href=\"" + newestNext + "\">Next</a>";
        return text + "</p><hr>\n<img src=\"/img/logo.png\">\n</body></html>\n";
    });
}

// Pages /q/N.html whose links are bare arrow images.
inline void arrowComic(Site& site) {
    site.serve("/q/", [](int n) {
        std::string text =
            "<html><body><h1>Arrow Comic</h1>\n<div><img src=\"/art/" + num(n) + ".png\"></div>\n";
        if (n > 1)
            text +=
                "<a href=\"/q/" + num(n - 1) + ".html\"><img src=\"/gfx/arrow_left.gif\"></a>\n";
        if (n < Site::newest)
            text +=
                "<a href=\"/q/" + num(n + 1) + ".html\"><img src=\"/gfx/arrow_right.gif\"></a>\n";
        return text + "</body></html>\n";
    });
}

// Pages /p/N.html whose next link says "Continue" (no word a program knows) and
// whose previous link says "Back"; no first link, no title element to speak of.
// A rotating advertisement stands beside the strip, both named "comic".
inline void continueComic(Site& site) {
    site.serve("/p/", [](int n) {
        std::string text = "<html><body><h1>Strip " + num(n) + "</h1>\n<img src=\"/strips/" +
                           num(n) + ".png\" alt=\"comic\">\n<img src=\"/ads/" + num(n * 37 % 101) +
                           ".gif\" alt=\"comic sponsor\">\n<p>";
        if (n > 1) text += "<a href=\"/p/" + num(n - 1) + ".html\">Back</a> ";
        if (n < Site::newest) text += "<a href=\"/p/" + num(n + 1) + ".html\">Continue</a>";
        return text + "</p></body></html>\n";
    });
}

// Pages /c/N.html whose text navigation is right, but whose first link marked
// rel="next" leads to the next blog post, an unrelated page.
inline void postLinkComic(Site& site) {
    site.serve("/c/", [](int n) {
        std::string text = "<html><head><title>Post Comic - Strip " + num(n) +
                           "</title></head><body>\n<a rel=\"next\" href=\"/blog/" + num(n + 40) +
                           ".html\">Newer post</a>\n<img src=\"/strips/" + num(n) + ".png\">\n";
        text += "<a href=\"/c/1.html\">First</a>";
        if (n > 1) text += " <a href=\"/c/" + num(n - 1) + ".html\">Previous</a>";
        if (n < Site::newest) text += " <a href=\"/c/" + num(n + 1) + ".html\">Next</a>";
        return text + "</body></html>\n";
    });
    for (int n = 1; n <= Site::newest + 40; ++n)
        site.server.route("/blog/" + num(n + 40) + ".html",
                          "<html><body><img src=\"/photos/" + num(n) + ".jpg\"><a href=\"/blog/" +
                              num(n + 39) + ".html\">Older post</a></body></html>\n");
}

// A web search answering the query for `name` with result links (absolute
// addresses with "http://"), next to links of its own.
class Search {
public:
    testsupport::HttpServer server;
    std::string endpoint() const { return server.url("/search"); }
    void answer(const std::string& name, const std::vector<std::string>& links) {
        std::string page =
            "<html><body><a href=\"http://" + server.url("/about") + "\">About</a>\n";
        for (const auto& link : links)
            page += "<li><a class=\"title\" href=\"http://" + link + "\">" + link + "</a></li>\n";
        page += "<a href=\"http://" + server.url("/search?q=more") + "\">More</a></body></html>\n";
        server.route("/search?q=" + wendle::searchQuery(name), page);
    }
};

}  // namespace fixtures
