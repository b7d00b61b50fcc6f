#pragma once
// Loopback comic sites in the shapes today's comic sites commonly take, each
// able to grow by strips while the test runs. A shape says where strip n's page
// lives, what the page showing it looks like, where the strip image is, and how
// a user who knows the site answers the generator's questions.
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/http_server.hpp"

namespace shapes {

inline std::string num(int n) { return std::to_string(n); }
inline std::string num3(int n) {
    std::string s = num(n);
    return std::string(3 - std::min<std::size_t>(3, s.size()), '0') + s;
}
// The month folder a blog engine files strip n under: two strips a month.
inline std::string month(int n) {
    int m = (n - 1) / 2 % 12 + 1;
    return "/" + num(2023 + (n - 1) / 24) + "/" + (m < 10 ? "0" : "") + num(m) + "/";
}

struct Hosts {
    std::string site;    // "127.0.0.1:PORT"
    std::string images;  // the image host, where the shape has one
};

struct Shape {
    std::string title;  // what the test is called
    std::string name;   // the comic's name
    // The path of strip n's own page; "" when it lives on the front page only.
    std::function<std::string(int n, int count)> pagePath;
    // The page showing strip n of `count`.
    std::function<std::string(int n, int count, const Hosts&)> page;
    std::vector<std::string> fronts;  // paths answering with the newest strip
    std::string searchResult;         // the path the web search lists
    // The strip image address as the reader's crawler lists it.
    std::function<std::string(int n, const Hosts&)> strip;
    // A knowing user's answers, after the name and the search menu's "1".
    std::function<std::vector<std::string>(const Hosts&)> answers;
    std::string help;  // what the user still has to tell, and why ("" when nothing)
    // Redirects the site answers (path, location).
    std::vector<std::pair<std::string, std::string>> redirects;
};

// A site of one shape, with `count` strips, that can grow.
class ShapeSite {
public:
    explicit ShapeSite(const Shape& shape, int count) : shape_(shape), count_(count) {
        hosts_.site = server.url("");
        hosts_.images = images.url("");
        publish();
    }
    void grow(int more) {
        count_ += more;
        publish();
    }
    int count() const { return count_; }
    const Hosts& hosts() const { return hosts_; }
    std::vector<std::string> strips() const {
        std::vector<std::string> out;
        for (int n = 1; n <= count_; ++n) out.push_back(shape_.strip(n, hosts_));
        return out;
    }

    testsupport::HttpServer server;
    testsupport::HttpServer images;

private:
    void publish() {
        server.clearRoutes();
        for (int n = 1; n <= count_; ++n) {
            std::string path = shape_.pagePath(n, count_);
            if (!path.empty()) server.route(path, shape_.page(n, count_, hosts_));
        }
        for (const std::string& front : shape_.fronts)
            server.route(front, shape_.page(count_, count_, hosts_));
        for (const auto& [from, to] : shape_.redirects) server.redirect(from, to, 301);
    }

    const Shape& shape_;
    int count_;
    Hosts hosts_;
};

// ---- the shapes ----

// A blog-engine comic theme: First / Prev / Next / Last text links with class
// names, head rel links with single quotes and titles holding an "h", the
// navigation above and below the strip, absolute addresses, uploads spread over
// months, "Strip title – Site name" titles and og:title.
inline std::string blogThemePage(int n, int count, const Hosts& h, bool buttons) {
    const std::string site = "http://" + h.site;
    auto link = [&](int k) {
        return k == count ? site + "/comic/the-strip-" + num(k) + "/"
                          : site + "/comic/the-strip-" + num(k) + "/";
    };
    std::string head = "<!DOCTYPE html>\n<html lang=\"en-US\"><head>\n<meta charset=\"UTF-8\" />\n";
    head += "<title>Strip " + num(n) + ": The Chase &#8211; Blog Theme Comic</title>\n";
    head += "<meta property=\"og:title\" content=\"Strip " + num(n) + ": The Chase\" />\n";
    head += "<link rel='stylesheet' href='" + site + "/wp-content/themes/easel/style.css' />\n";
    if (n > 1)
        head += "<link rel='prev' title='Strip " + num(n - 1) + ": The Chase' href='" +
                link(n - 1) + "' />\n";
    if (n < count)
        head += "<link rel='next' title='Strip " + num(n + 1) + ": The Chase' href='" +
                link(n + 1) + "' />\n";
    head += "<script>var nav = '<a href=\"/next-in-script\">Next</a>';</script>\n</head>\n";
    auto button = [&](const std::string& cls, const std::string& label, const std::string& file,
                      int target, bool on) {
        std::string inner = buttons
                                ? "<img src=\"" + site + "/wp-content/themes/easel/images/nav/" +
                                      file + "\" alt=\"\" />"
                                : label;
        if (!on) return "<span class=\"navi " + cls + " navi-void\">" + inner + "</span>";
        return "<a href=\"" + link(target) + "\" class=\"navi " + cls + "\" title=\"" +
               (buttons ? "" : label) + "\">" + inner + "</a>";
    };
    std::string nav = "<div class=\"comic-nav\">\n";
    nav += button("comic-nav-first navi-first", "&lsaquo;&lsaquo; First", "first.png", 1, n > 1);
    nav += button("comic-nav-previous navi-prev", "&lsaquo; Prev", "back.png", n - 1, n > 1);
    nav += button("comic-nav-next navi-next", "Next &rsaquo;", "forward.png", n + 1, n < count);
    nav +=
        button("comic-nav-last navi-last", "Last &rsaquo;&rsaquo;", "latest.png", count, n < count);
    nav += "\n</div>\n";
    std::string body =
        "<body class=\"home blog\"><div id=\"header\"><img src=\"" + site +
        "/wp-content/themes/easel/images/logo.png\" alt=\"Blog Theme Comic\"></div>\n";
    body += nav;
    std::string strip = site + "/wp-content/uploads" + month(n) + "strip-" + num(n) + ".png";
    if (buttons)
        // A lazy-loading theme: a placeholder src and the address in data-src.
        body +=
            "<div id=\"comic\"><img src=\"data:image/gif;base64,R0lGODlhAQABAAAAACw=\" "
            "data-src=\"" +
            strip + "\" class=\"lazyload\" alt=\"Strip " + num(n) + "\" /></div>\n";
    else
        body += "<div id=\"comic\"><img src=\"" + strip + "\" alt=\"Strip " + num(n) +
                "\" srcset=\"" + strip + " 1x\" /></div>\n";
    body += nav;
    body += "<div class=\"post\"><h2 class=\"post-title\">Strip " + num(n) +
            ": The Chase</h2><p>Posted in <a href=\"" + site +
            "/category/comic/\">Comic</a></p></div>\n";
    return head + body + "</body></html>\n";
}

inline Shape blogTheme(bool buttons) {
    Shape shape;
    shape.title = buttons ? "BlogThemeImageButtons" : "BlogThemeTextLinks";
    shape.name = "Blog Theme Comic";
    shape.pagePath = [](int n, int) { return "/comic/the-strip-" + num(n) + "/"; };
    shape.page = [buttons](int n, int count, const Hosts& h) {
        return blogThemePage(n, count, h, buttons);
    };
    shape.fronts = {"/"};
    shape.searchResult = "/";
    shape.strip = [](int n, const Hosts& h) {
        return h.site + "/wp-content/uploads" + month(n) + "strip-" + num(n) + ".png";
    };
    shape.answers = [](const Hosts&) { return std::vector<std::string>{"y"}; };
    return shape;
}

// Buttons that are bare arrow images with file names that say nothing; no
// title anywhere but a caption in <h3>.
inline Shape arrowButtons() {
    Shape shape;
    shape.title = "ArrowOnlyButtons";
    shape.name = "Arrow Comic";
    shape.pagePath = [](int n, int) { return "/view/" + num(n); };
    shape.page = [](int n, int count, const Hosts&) {
        std::string text = "<html><head><title>Arrow Comic</title></head><body>\n";
        text += "<div class=\"frame\"><img src=\"/art/" + num(n * 7919 % 10007) + ".png\"></div>\n";
        auto arrow = [&](const std::string& file, int target, bool on) {
            std::string image = "<img src=\"/img/" + file + "\" width=\"40\">";
            return on ? "<a href=\"/view/" + num(target) + "\">" + image + "</a>\n" : image + "\n";
        };
        text += arrow("b1.gif", 1, n > 1) + arrow("b2.gif", n - 1, n > 1) +
                arrow("b3.gif", n + 1, n < count) + arrow("b4.gif", count, n < count);
        return text + "<h3>Episode " + num(n) + "</h3>\n</body></html>\n";
    };
    shape.fronts = {"/"};
    shape.searchResult = "/";
    shape.strip = [](int n, const Hosts& h) {
        return h.site + "/art/" + num(n * 7919 % 10007) + ".png";
    };
    shape.answers = [](const Hosts&) { return std::vector<std::string>{"y", "@<h3>([^<]*)</h3>"}; };
    shape.help = "the title: no element names it, so the user gives an expression";
    return shape;
}

// A hand-made site of the 2000s: a table layout, upper-case tags, unquoted
// addresses, image buttons with ALT texts, a banner, relative image paths.
inline Shape handMade() {
    Shape shape;
    shape.title = "HandMadeTables";
    shape.name = "Old Comic";
    shape.pagePath = [](int n, int) { return "/strip" + num3(n) + ".html"; };
    shape.page = [](int n, int count, const Hosts&) {
        std::string text = "<HTML><HEAD><TITLE>OLD COMIC :: Strip #" + num(n) +
                           "</TITLE></HEAD>\n<BODY BGCOLOR=#FFFFFF>\n<CENTER><IMG "
                           "SRC=\"images/banner.gif\"></CENTER>\n";
        text += "<TABLE WIDTH=600 BORDER=0><TR><TD ALIGN=CENTER><IMG SRC=\"images/strip" + num3(n) +
                ".gif\" WIDTH=600 HEIGHT=200></TD></TR>\n<TR><TD ALIGN=CENTER>";
        if (n > 1)
            text +=
                "<A HREF=strip001.html><IMG SRC=\"images/first.gif\" BORDER=0 ALT=\"First\"></A>\n"
                "<A HREF=strip" +
                num3(n - 1) + ".html><IMG SRC=\"images/back.gif\" BORDER=0 ALT=\"Back\"></A>\n";
        if (n < count)
            text += "<A HREF=strip" + num3(n + 1) +
                    ".html><IMG SRC=\"images/next.gif\" BORDER=0 ALT=\"Next\"></A>\n";
        return text +
               "</TD></TR></TABLE>\n<P>Mail me! <A "
               "HREF=\"mailto:me@example.com\">me</A></BODY></HTML>\n";
    };
    shape.fronts = {"/", "/index.html"};
    shape.searchResult = "/index.html";
    shape.strip = [](int n, const Hosts& h) { return h.site + "/images/strip" + num3(n) + ".gif"; };
    shape.answers = [](const Hosts&) { return std::vector<std::string>{"y"}; };
    return shape;
}

// A script-driven site with query-string addresses; the newest strip lives on
// the front page only, which the strip before it links as "index.php". The
// search lists an old address that redirects to the front page.
inline Shape queryString() {
    Shape shape;
    shape.title = "QueryStringFrontOnly";
    shape.name = "Query Comic";
    shape.pagePath = [](int n, int count) {
        return n == count ? std::string() : "/index.php?id=" + num(n);
    };
    shape.page = [](int n, int count, const Hosts&) {
        std::string text = "<html><head><title>Query Comic | Strip " + num(n) +
                           "</title></head><body>\n<img src=\"/strips/strip-" + num(n) +
                           ".jpg\">\n<p>";
        if (n > 1) text += "<a href=\"index.php?id=1\">First</a> ";
        if (n > 1) text += "<a href=\"index.php?id=" + num(n - 1) + "\">Previous</a> ";
        if (n + 1 < count) text += "<a href=\"index.php?id=" + num(n + 1) + "\">Next</a>";
        if (n + 1 == count) text += "<a href=\"index.php\">Next</a>";
        return text + "</p></body></html>\n";
    };
    shape.fronts = {"/", "/index.php"};
    shape.searchResult = "/comic.php";
    shape.redirects = {{"/comic.php", "/index.php"}};
    shape.strip = [](int n, const Hosts& h) { return h.site + "/strips/strip-" + num(n) + ".jpg"; };
    shape.answers = [](const Hosts&) { return std::vector<std::string>{"y"}; };
    return shape;
}

// Absolute addresses everywhere, strips on a separate image host written
// scheme-relative, the newest strip on the front page only, linked from the
// strip before it as "http://host/".
inline Shape imageHost() {
    Shape shape;
    shape.title = "AbsoluteWithImageHost";
    shape.name = "Host Comic";
    shape.pagePath = [](int n, int count) {
        return n == count ? std::string() : "/strips/" + num(n) + ".html";
    };
    shape.page = [](int n, int count, const Hosts& h) {
        const std::string site = "http://" + h.site;
        auto at = [&](int k) {
            return k == count ? site + "/" : site + "/strips/" + num(k) + ".html";
        };
        std::string text = "<html><head><meta property=\"og:title\" content=\"Host Comic #" +
                           num(n) + "\"><title>Host Comic</title></head><body>\n";
        text += "<img src=\"" + site + "/logo.png\">\n<img src=\"//" + h.images + "/comics" +
                month(n) + "hc" + num(n) + ".png\" class=\"strip\">\n<nav>";
        if (n > 1) text += "<a href=\"" + at(n - 1) + "\" class=\"btn\">&laquo; Previous</a> ";
        if (n < count) text += "<a href=\"" + at(n + 1) + "\" class=\"btn\">Next &raquo;</a> ";
        text += "<a href=\"" + site + "/\" class=\"btn\">Latest</a>";
        return text + "</nav></body></html>\n";
    };
    shape.fronts = {"/"};
    shape.searchResult = "/";
    shape.strip = [](int n, const Hosts& h) {
        return h.images + "/comics" + month(n) + "hc" + num(n) + ".png";
    };
    shape.answers = [](const Hosts&) { return std::vector<std::string>{"y"}; };
    return shape;
}

// Navigation by symbols only: « ‹ › » as characters, no words; the
// "Strip title — Comic" title with an em dash.
inline Shape symbolsOnly() {
    Shape shape;
    shape.title = "SymbolOnlyLabels";
    shape.name = "Symbol Comic";
    shape.pagePath = [](int n, int) { return "/c/" + num(n); };
    shape.page = [](int n, int count, const Hosts&) {
        std::string text = "<html><head><title>Strip " + num(n) +
                           " \xE2\x80\x94 Symbol Comic</title></head><body>\n";
        auto nav = [&] {
            std::string out = "<div>";
            out += n > 1 ? "<a href=\"/c/1\">\xC2\xAB</a> <a href=\"/c/" + num(n - 1) +
                               "\">\xE2\x80\xB9</a> "
                         : std::string("\xC2\xAB \xE2\x80\xB9 ");
            out += n < count ? "<a href=\"/c/" + num(n + 1) + "\">\xE2\x80\xBA</a> <a href=\"/c/" +
                                   num(count) + "\">\xC2\xBB</a>"
                             : std::string("\xE2\x80\xBA \xC2\xBB");
            return out + "</div>\n";
        };
        text += nav() + "<img src=\"/s/" + num(n) + ".webp\">\n" + nav();
        return text + "</body></html>\n";
    };
    shape.fronts = {"/"};
    shape.searchResult = "/";
    shape.strip = [](int n, const Hosts& h) { return h.site + "/s/" + num(n) + ".webp"; };
    shape.answers = [](const Hosts&) { return std::vector<std::string>{"y"}; };
    return shape;
}

// A banner, the strip in a "comic" box, a blog post with its own pictures in
// the same upload folders and links saying "next week" and "previous post",
// placed before the strip navigation; the title in a heading.
inline Shape bannerAndBlog() {
    Shape shape;
    shape.title = "BannerAndBlogPost";
    shape.name = "Banner Comic";
    shape.pagePath = [](int n, int) { return "/comic/" + num(n) + "/"; };
    shape.page = [](int n, int count, const Hosts&) {
        std::string text = "<html><head><title>Banner Comic</title></head><body>\n";
        text += "<a href=\"/\"><img src=\"/images/banner.jpg\" alt=\"Banner Comic\"></a>\n";
        text += "<div id=\"comic\">\n  <img src=\"/wp-content/uploads" + month(n) + "strip-" +
                num(n) + ".png\">\n</div>\n";
        text += "<h2 class=\"entry-title\">Chapter " + num(n) + " begins</h2>\n";
        text += "<div class=\"entry\"><p>More <a href=\"/blog/news-" + num(n + 3) +
                "/\">next week</a>! Read the <a href=\"/blog/news-" + num(n + 1) +
                "/\">previous post</a> too.</p><img src=\"/wp-content/uploads" + month(n) +
                "photo-" + num(n) + ".jpg\"></div>\n<p class=\"nav\">";
        if (n > 1) text += "<a href=\"/comic/" + num(n - 1) + "/\">Previous</a> | ";
        if (n < count) text += "<a href=\"/comic/" + num(n + 1) + "/\">Next</a>";
        return text + "</p></body></html>\n";
    };
    shape.fronts = {"/"};
    shape.searchResult = "/";
    shape.strip = [](int n, const Hosts& h) {
        return h.site + "/wp-content/uploads" + month(n) + "strip-" + num(n) + ".png";
    };
    shape.answers = [](const Hosts&) { return std::vector<std::string>{"y"}; };
    return shape;
}

inline void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.title; }

inline std::vector<Shape> allShapes() {
    return {blogTheme(false), blogTheme(true), arrowButtons(), handMade(),
            queryString(),    imageHost(),     symbolsOnly(),  bannerAndBlog()};
}

}  // namespace shapes
