// Our replacer against JavaScript's RegExp (flags "gu") running the same loop
// (replacer_node.js), on realistic webcomic pages.
#include <gtest/gtest.h>

#include <sstream>

#include "extract/replacer.hpp"
#include "support/temp_dir.hpp"

namespace {

// A modern UTF-8 page with CRLF line ends, Unicode, scripts and comments.
const std::string modernPage =
    "<!DOCTYPE html>\r\n<html lang=\"de\">\r\n<head>\r\n<meta charset=\"utf-8\">\r\n"
    "<title>K\xC3\xA4tzchen & Co. \xE2\x80\x93 Strip #412: \xC2\xAB\xC3\x96l\xC2\xBB "
    "\xF0\x9F\x98\x80</title>\r\n"
    "<meta property=\"og:image\" content=\"https://example.com/comics/2007-05-23-oel.png\">\r\n"
    "<script type=\"text/javascript\">var x = \"<p>not</p>\"; if (a < b) {}</script>\r\n"
    "<!-- generated 2007-05-23 -->\r\n</head>\r\n<body>\r\n"
    "<div id=\"header\"><a href=\"/\"><img src=\"/images/logo.gif\" alt=\"Logo\"></a></div>\r\n"
    "<h2 class=\"title\">Strip #412 \xE2\x80\x93 \xC3\x96l ins Feuer</h2>\r\n"
    "<div id=\"comic\">\r\n  <img src=\"/comics/2007-05-23-oel.png\" alt=\"\xC3\x96l ins "
    "Feuer\" title=\"Tooltip: \xE2\x82\xAC"
    "5\xC2\xA0only\" class=\"comic\">\r\n</div>\r\n"
    "<div class=\"nav\">\r\n"
    "<a href=\"/strip/1\" title=\"First strip\">&lt;&lt; First</a> |\r\n"
    "<a href='/strip/411' rel=\"prev\" title=\"Previous\">&lt; Prev</a> |\r\n"
    "<a href=\"/strip/413\" rel=\"next\"><img src=\"/images/next.gif\" alt=\"Next\"></a> |\r\n"
    "<a title=\"Go back\" href=\"/archive\">Archive</a>\r\n</div>\r\n"
    "<p>You are here -- [Home \xC2\xBB Strip 412]</p>\r\n"
    "<p class=\"date\">Posted 2007-05-23 by Anna</p>\r\n"
    "<p>Permanent Link to Strip 412\" more</p>\r\n"
    "<span data-id=\"7\">x</span><span data-id=\"9\">y</span>\r\n"
    "<span id=\"s7\">seven</span><span id=\"s9\">nine</span><span id=\"s7\">siete</span>\r\n"
    "<select><option value=\"1\">One</option><option value=\"2\" selected>Two \xE2\x80\x94 "
    "zwei</option></select>\r\n"
    "<p>Emoji \xF0\x9F\x98\x80\xF0\x9F\x98\x83 and CJK \xE6\xBC\xAB\xE7\x94\xBB and "
    "line\xE2\x80\xA8sep and nbsp\xC2\xA0here, caf\xC3\xA9 na\xC3\xAFve.</p>\r\n"
    "<p>Contact: <a href=\"mailto:me(at)example.com\">write</a></p>\r\n"
    "<a href=\"http://www.example.com/comic/\" class=l>Example Comic</a>\r\n"
    "<a href=\"http://example.org/index.html\" class=l>Other</a>\r\n"
    "</body>\r\n</html>\r\n";

// An old Latin-1 page: its accented letters are bytes that are not UTF-8.
const std::string latinPage =
    "<html><head><title>Die Stra\xDF"
    "e \x96 Folge 12</title></head><body>\n"
    "<IMG SRC='comics/folge12.gif' ALT='Stra\xDF"
    "e'>\n"
    "<A HREF=\"folge11.html\">zur\xFC"
    "ck</A> <A HREF=\"folge13.html\">Vorw\xE4"
    "rts</A> "
    "<a href=\"index.html\">Forward to today</a>\n"
    "<font face=\"Arial\">\xA9 1999 M\xFC"
    "ller</font> <b>Caf\xE9</b><b>\xE2\x82</b>\n"
    "<!-- Kommentar \xAB alt \xBB --></body></html>";

// Truncated UTF-8 sequences among valid ones.
const std::string brokenPage =
    "<p>ok \xC3</p><p>\xF0\x9F\x98 cut</p><title>Half \xE2\x82 euro \xE2\x82\xAC</title>"
    "<a href=\"next.php?id=13\">Next &gt;</a><img src=\"strip13.jpg\"> <b>bold</b>";

const std::string smallPage = "seafood banana index.html a@b x<b>Title</b>y";

std::string archivePage() {
    std::string page = "<ul>\n";
    for (int i = 1; i <= 300; ++i) {
        std::string n = std::to_string(i);
        page += "<li><a href=\"/strip/" + n + "\">Strip " + n + " \xE2\x80\x93 Titel " + n +
                "</a> 2007-05-" + std::to_string(10 + i % 20) + "</li>\n";
    }
    return page + "</ul>";
}

const std::vector<std::string> expressions = {
    // Basic forms: default formats, other separators, the format table.
    "@(.*)foo@$1",
    "@(a)@$1",
    "@<b>([^<]*)</b>",
    "@index.html",
    "#a@b#x",
    "@(a)(b)?@[$12|$0|$$|$2]",
    // The generator's probes and the expressions it writes.
    "@href=\"http://([^\"]*)\" class=l@$1",
    "@(href|HREF)=([\"'])([^\"']*)([\"'])([^>]*>*[^>]*)([Nn][Ee][Xx][Tt]|[Ff][Oo][Rr][Ww])"
    "@$1\xC2\xB7$2\xC2\xB7$3\xC2\xB7$4\xC2\xB7$5\xC2\xB7$6",
    "@([Pp][Rr][Ee][Vv]|[^Gg][Bb][Aa][Cc][Kk])[^Hh]*([Hh][Rr][Ee][Ff])=(['\"])"
    "@$1\xC2\xB7$2\xC2\xB7$3",
    "@href=\"([^\"]*)\"[^>]*>*[^>]*Next",
    "@Prev[^Hh]*href='([^']*)'",
    "@(img|IMG)[^>]*(src|SRC)=[\"']([^\"']*)[\"']@$3",
    "@(img|IMG)[^>]*(src|SRC)=([\"'])([^\"']*/comics/[^\"']*)[\"']@$4",
    "@(img|IMG)[^>]*(src|SRC)=([\"'])([^\"']*/comics/[^\"']*)[\"']"
    "@$1\xC2\xB7$2\xC2\xB7$3\xC2\xB7$4",
    "@img[^>]*src=\"([^\"]*/comics/[^\"]*)\"",
    "@You are here -- \\[([^\\]]*)\\]",
    "@Permanent Link( to |: )([^\"]*)\"@$2",
    "@Die Stra\xDF"
    "e - ([^<]*)<",
    "@(href|HREF)=['\"]([^'\"]*)['\"][^>]*>[^<]*<*[^>]*[Ff][Ii][Rr][Ss][Tt]@$2",
    "@^http://example\\.org/(index.html)?$",
    "@index\\.html$",
    // Realistic plugin expressions.
    "@<title>([^<]*)</title>",
    "@<a[^>]*rel=\"next\"[^>]*>",
    "@<a href=\"(/strip/\\d+)\"",
    "@<div id=\"comic\">\\s*<img[^>]+src=\"([^\"]+)\"",
    "@<img[^>]+alt=\"([^\"]*)\"[^>]*class=\"comic\"",
    "@<h2 class=\"title\">(.*?)</h2>",
    "@<meta property=\"og:image\" content=\"([^\"]+)\"",
    "@(\\d{4})-(\\d{2})-(\\d{2})@$3.$2.$1",
    "@<option value=\"(\\d+)\"[^>]*>([^<]*)</option>@$1=$2",
    "@[Vv]orw.rts",
    "@zur(.)ck",
    "@data-id=\"(\\d+)\"@$1@<span id=\"s\\match\">([^<]*)</span>@$1",
    // Unicode.
    "@\xC2\xAB(.+?)\xC2\xBB",
    "@caf(.)@[$1]",
    "@\\p{L}+\\s\\p{L}+@$&",
    "@\\u00e9@ok",
    "@\xF0\x9F\x98\x80(.)",
    "@[\xF0\x9F\x98\x80-\xF0\x9F\x99\x8F]@$&",
    "@line.sep@x",
    "@nbsp\\shere@x",
    "@[^\\x00-\\x7f]+@$&",
    "@\\u{1F603}@y",
    // Anchors and boundaries.
    "@^<!DOCTYPE ([^>]*)>",
    "@</html>\\s*$@end",
    "@\\bStrip\\b@$&",
    "@\\Bip\\B@$&",
    "@^.{0,12}@$&",
    // Lazy quantifiers, classes, alternation, look-around, back-references.
    "@<p>([\\s\\S]*?)</p>",
    "@<!--(.*?)-->",
    "@<script[^>]*>([^]*?)</script>@$1",
    "@[^\\w\\s<>=\"/.:;,-]+@$&",
    "@\\d+@$&",
    "@(href|HREF|src|SRC)=(\"|')(.*?)\\2@$1=$3",
    "@(?<=src=\")[^\"]+@$&",
    "@(?<q>[\"'])(\\d+)\\k<q>@$2",
    "@<(\\w+)>[^<]*</\\1>@$1",
    "@(?:<b>|<i>)(\\w+)(?=</)@$1",
    "@(?!<a)<[a-z]+@$&",
    "@[Hh][Rr][Ee][Ff]=.{1,2}/@$&",
    // Empty matches.
    "@x*@[$&]",
    "@(?=<a )@|",
    "@a??@[$&]",
    "@\\b@|",
    "@(?:)@.",
    // Whole-context formats.
    "@<title>@$`",
    "@</h2>@$'",
};

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// Each byte that is not part of valid UTF-8 spelled as the character U+10FF00 +
// byte: how JavaScript sees the opaque characters of our matching.
std::string spell(const std::string& text) {
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    auto cont = [&](std::size_t i, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return i < n && p[i] >= lo && p[i] <= hi;
    };
    std::string out;
    for (std::size_t i = 0; i < n;) {
        unsigned c = p[i];
        std::size_t len = 0;
        if (c < 0x80)
            len = 1;
        else if (c >= 0xC2 && c <= 0xDF)
            len = cont(i + 1) ? 2 : 0;
        else if (c == 0xE0)
            len = cont(i + 1, 0xA0) && cont(i + 2) ? 3 : 0;
        else if (c == 0xED)
            len = cont(i + 1, 0x80, 0x9F) && cont(i + 2) ? 3 : 0;
        else if (c >= 0xE1 && c <= 0xEF)
            len = cont(i + 1) && cont(i + 2) ? 3 : 0;
        else if (c == 0xF0)
            len = cont(i + 1, 0x90) && cont(i + 2) && cont(i + 3) ? 4 : 0;
        else if (c >= 0xF1 && c <= 0xF3)
            len = cont(i + 1) && cont(i + 2) && cont(i + 3) ? 4 : 0;
        else if (c == 0xF4)
            len = cont(i + 1, 0x80, 0x8F) && cont(i + 2) && cont(i + 3) ? 4 : 0;
        if (len) {
            out.append(text, i, len);
            i += len;
        } else {
            // U+10FF00 + c: F4 8F BC..BF xx
            unsigned cp = 0x10FF00 + c;
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
            ++i;
        }
    }
    return out;
}

}  // namespace

TEST(ReplacerDifferential, SameResultsAsJavaScriptRegExp) {
    if (!testsupport::haveProgram("node"))
        GTEST_SKIP() << "node is not installed: the comparison with JavaScript's RegExp "
                        "(the ECMAScript reference) cannot run here";
    ASSERT_GE(expressions.size(), 40u);
    const std::vector<std::string> pages = {modernPage, latinPage, brokenPage, smallPage,
                                            archivePage()};

    testsupport::TempDir dir;
    std::string input;
    for (const auto& e : expressions) input += "E " + hex(spell(e)) + "\n";
    for (const auto& p : pages) input += "P " + hex(spell(p)) + "\n";
    testsupport::writeFile(dir.file("input.txt"), input);
    const std::string script = std::string(TOVIK_SOURCE_DIR) + "/tests/extract/replacer_node.js";
    ASSERT_EQ(testsupport::run("node '" + script + "' '" + dir.file("input.txt") + "' '" +
                               dir.file("output.txt") + "'"),
              0);
    std::istringstream output(testsupport::readFile(dir.file("output.txt")));

    int compared = 0, matched = 0;
    for (const auto& expression : expressions) {
        for (std::size_t p = 0; p < pages.size(); ++p) {
            std::string expected;
            ASSERT_TRUE(std::getline(output, expected)) << "node wrote too few lines";
            std::string ours;
            try {
                std::vector<std::string> results = extract::Replacer(expression).apply(pages[p]);
                ours = "R " + std::to_string(results.size());
                for (const auto& r : results) ours += " " + hex(spell(r));
                if (!results.empty()) ++matched;
            } catch (const std::exception& e) {
                ours = std::string("X ") + e.what();
            }
            ++compared;
            if (expected.rfind("X ", 0) == 0) {
                // JavaScript rejected it: only "Invalid chain length" may be expected.
                EXPECT_EQ(ours.substr(0, 2), "X ") << expression << " on page " << p;
                EXPECT_NE(expected.find("Invalid chain length"), std::string::npos)
                    << expression << ": " << expected;
                continue;
            }
            EXPECT_EQ(ours, expected) << expression << " on page " << p;
        }
    }
    EXPECT_EQ(compared, int(expressions.size() * pages.size()));
    // The table must actually find things, not agree on empty lists.
    EXPECT_GT(matched, compared / 3);
}
