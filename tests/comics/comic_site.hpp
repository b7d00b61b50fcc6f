#pragma once
// A small comic site on a loopback server: pages /comic/<n>.html, each showing the
// strip /strips/<n>.png with a title, a previous link and (except the newest) a
// next link; an optional front page at /index.html showing the newest strip.
#include <string>

#include "support/http_server.hpp"

namespace testsupport {

class ComicSite {
public:
    explicit ComicSite(int pages) { grow(pages); }

    static std::string pagePath(int n) { return "/comic/" + std::to_string(n) + ".html"; }
    static std::string stripPath(int n) { return "/strips/" + std::to_string(n) + ".png"; }

    // A page text; next is the href of the next link, or empty for none.
    static std::string pageText(int n, const std::string& next, bool strip = true) {
        std::string text = "<html><head><title>Site</title></head><body>\n";
        text += "<h1 class=\"title\">Strip " + std::to_string(n) + "</h1>\n";
        if (strip) text += "<img src=\"" + stripPath(n) + "\" class=\"strip\">\n";
        if (n > 1) text += "<a href=\"" + std::to_string(n - 1) + ".html\" rel=\"prev\">Prev</a>\n";
        if (!next.empty()) text += "<a href=\"" + next + "\" rel=\"next\">Next</a>\n";
        text += "</body></html>\n";
        return text;
    }

    // Adds pages up to n; the former newest page gains its next link.
    void grow(int n) {
        for (int i = 1; i <= n; ++i)
            server.route(pagePath(i),
                         pageText(i, i < n ? std::to_string(i + 1) + ".html" : std::string()));
        newest = n;
    }

    // The front page shows strip n (by default the newest).
    void frontPage(int n) {
        std::string text = "<html><body>\n<h1 class=\"title\">Strip " + std::to_string(n) +
                           "</h1>\n<img src=\"" + stripPath(n) + "\" class=\"strip\">\n" +
                           "<a href=\"" + pagePath(n - 1) + "\" rel=\"prev\">Prev</a>\n" +
                           "</body></html>\n";
        server.route("/index.html", text);
    }

    std::string url(const std::string& path) const { return server.url(path); }
    std::string pageUrl(int n) const { return server.url(pagePath(n)); }
    // The image reference a crawler stores for page n.
    std::string imageRef(int n) const {
        return "REFER=http://" + pageUrl(n) + " " + server.url(stripPath(n));
    }

    // The plugin text of the plain chain crawler, plus extra lines.
    std::string plugin(const std::string& extra = "") const {
        return "name=Fixture\n"
               "start=" +
               pageUrl(1) +
               "\n"
               "next=@<a href=\"([^\"]*)\" rel=\"next\">@$1\n"
               "images=@<img src=\"([^\"]*)\" class=\"strip\">@$1\n"
               "title=@<h1 class=\"title\">([^<]*)</h1>@$1\n" +
               extra;
    }

    HttpServer server;
    int newest = 0;
};

}  // namespace testsupport
