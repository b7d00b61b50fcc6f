#include "wendle/selectors.hpp"

#include <gtest/gtest.h>

#include "extract/replacer.hpp"
#include "support/log_capture.hpp"

namespace {

using wendle::AdaptiveReverseSelector;
using wendle::AdaptiveSelector;

const std::string nextLabel = "([Nn][Ee][Xx][Tt]|[Ff][Oo][Rr][Ww])";
const std::string prevLabel = "([Pp][Rr][Ee][Vv]|[^Gg][Bb][Aa][Cc][Kk])";

std::string errorOf(wendle::LinkSelector& selector, const std::string& page) {
    try {
        selector.adapt(page);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

std::vector<std::string> applied(const std::string& expression, const std::string& page) {
    extract::Replacer r(expression);
    return r.apply(page);
}

TEST(AdaptiveSelector, DoubleQuotedHrefWithNextLinkText) {
    testsupport::LogCapture log;
    AdaptiveSelector selector(nextLabel, "");
    std::string page =
        "<p><a href=\"/c/1.html\">First</a> <a href=\"/c/3.html\">Prev</a> "
        "<a href=\"/c/5.html\">Next</a></p>";
    EXPECT_EQ(selector.adapt(page), "/c/5.html");
    EXPECT_EQ(selector.expression(), "@href=\"([^\"]*)\"[^>]*>*[^>]*Next");
    EXPECT_TRUE(log.hasLine("Attempting to adapt regex to source ... "));
    EXPECT_TRUE(log.hasLine("Done; attribute is href; quote symbol is \""));
    EXPECT_TRUE(log.hasLine("Between: [^>]*>*[^>]*"));
    EXPECT_FALSE(log.contains("More than one match"));

    // The adapted expression works on any page written the same way.
    std::string other = "<a href=\"/c/7.html\">Prev</a>\n<a href=\"/c/9.html\">Next</a>";
    EXPECT_EQ(applied(selector.expression(), other), std::vector<std::string>{"/c/9.html"});
}

TEST(AdaptiveSelector, LabelInALaterAttributeOfTheSameTag) {
    testsupport::LogCapture log;
    AdaptiveSelector selector(nextLabel, "");
    std::string page = "<a href='/c/5.html' title='next strip'><img src='/n.gif'></a>";
    EXPECT_EQ(selector.adapt(page), "/c/5.html");
    EXPECT_TRUE(log.hasLine("Between: [^>]*"));
    EXPECT_EQ(selector.expression(), "@href='([^']*)'[^>]*next");
    EXPECT_TRUE(log.hasLine("Done; attribute is href; quote symbol is '"));
}

TEST(AdaptiveSelector, AttributeWordAndSuffixAsWritten) {
    AdaptiveSelector selector(nextLabel, "<");
    std::string page = "<A HREF=\"/c/5.html\">NEXT</A>";
    EXPECT_EQ(selector.adapt(page), "/c/5.html");
    EXPECT_EQ(selector.expression(), "@HREF=\"([^\"]*)\"[^>]*>*[^>]*NEXT<");
}

TEST(AdaptiveSelector, FailedFinalTestLeavesItsExpression) {
    // The suffix is not on the page: the probe matches, the adapted expression does not.
    AdaptiveSelector selector(nextLabel, ">");
    std::string page = "<A HREF=\"/c/5.html\">NEXT</A>";
    std::string stored = "@HREF=\"([^\"]*)\"[^>]*>*[^>]*NEXT>";
    EXPECT_EQ(errorOf(selector, page), "Something went wrong during adaptation to " + stored + "!");
    EXPECT_EQ(selector.expression(), stored);
}

TEST(AdaptiveSelector, FailuresCarryTheirMessages) {
    AdaptiveSelector selector(nextLabel, "");
    EXPECT_EQ(errorOf(selector, "<a href=\"/c/5.html'>Next</a>"), "Inequal quote marks!");
    EXPECT_EQ(errorOf(selector, "<a href=\"/c/5.html\">Prev</a>"),
              "Could not select using this selector string - no matches");
    // A middle dot in the page shifts the fields of the probe.
    EXPECT_EQ(errorOf(selector, "<a href=\"/c/5.html\">\xC2\xB7Next</a>"), "WTF!");
}

TEST(AdaptiveSelector, FreshSelectorHasNoExpression) {
    AdaptiveSelector selector(nextLabel, "");
    try {
        selector.expression();
        FAIL() << "expected an error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Adaptive selector not adapted yet!");
    }
    AdaptiveReverseSelector reverse(nextLabel);
    try {
        reverse.expression();
        FAIL() << "expected an error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "wendle.AdaptiveReverseSelector not adapted yet!");
    }
}

TEST(AdaptiveSelector, TwoMatchesAdaptToTheFirst) {
    testsupport::LogCapture log;
    AdaptiveSelector selector(nextLabel, "");
    std::string page =
        "<a href=\"/top/5.html\">Next</a> ... <a href='/bottom/5.html' title='Next'>x</a>";
    EXPECT_EQ(selector.adapt(page), "/top/5.html");
    EXPECT_TRUE(log.hasLine("More than one match. Working with first."));
    EXPECT_EQ(selector.expression(), "@href=\"([^\"]*)\"[^>]*>*[^>]*Next");
}

TEST(AdaptiveSelector, ReadaptingReplacesTheExpression) {
    AdaptiveSelector selector(nextLabel, "");
    selector.adapt("<a href=\"/a.html\">Next</a>");
    EXPECT_EQ(selector.adapt("<a href='/b.html' class='forward'>&gt;</a>"), "/b.html");
    EXPECT_EQ(selector.expression(), "@href='([^']*)'[^>]*forw");
}

TEST(AdaptiveSelector, ObservedLabelIsTakenLiterally) {
    // "back" preceded by "(" matches the label pattern; the "(" must not open a group.
    AdaptiveSelector selector(prevLabel, "");
    std::string page = "<a href=\"/c/3.html\">(back)</a> <a href=\"/c/1.html\">xback</a>";
    EXPECT_EQ(selector.adapt(page), "/c/3.html");
    EXPECT_EQ(selector.expression(), "@href=\"([^\"]*)\"[^>]*>*[^>]*\\(back");
    EXPECT_EQ(applied(selector.expression(), page), std::vector<std::string>{"/c/3.html"});
}

TEST(AdaptiveReverseSelector, LabelBeforeTheAddress) {
    testsupport::LogCapture log;
    AdaptiveReverseSelector selector(nextLabel);
    std::string page = "<a title=\"Next strip\" href=\"/c/5.html\"><img src=\"/n.gif\"></a>";
    EXPECT_EQ(selector.adapt(page), "/c/5.html");
    EXPECT_EQ(selector.expression(), "@Next[^Hh]*href=\"([^\"]*)\"");
    EXPECT_TRUE(log.hasLine("Attempting to adapt reverse regex to source ... "));
    EXPECT_TRUE(log.hasLine("Done. Repl is Next, attribute href, quote character \""));
    EXPECT_EQ(
        applied(selector.expression(), "<a title='x' href='/0'><a title=\"Next\" href=\"/c/8\">"),
        std::vector<std::string>{"/c/8"});
}

TEST(AdaptiveReverseSelector, FailuresAndSeveralMatches) {
    testsupport::LogCapture log;
    AdaptiveReverseSelector selector(prevLabel);
    EXPECT_EQ(errorOf(selector, "<a href=\"/c/3.html\">Prev</a><h1>x</h1>"),
              "Could not select using reverse string - no matches");
    EXPECT_EQ(selector.adapt("<a title='Prev' HREF='/3'>a</a><a title='prev' href='/2'>"), "/3");
    EXPECT_TRUE(log.hasLine("More than one match in rev. Working with first."));
    EXPECT_EQ(selector.expression(), "@Prev[^Hh]*HREF='([^']*)'");
}

TEST(Selectors, SplitAtMiddleDot) {
    EXPECT_EQ(wendle::splitAtMiddleDot("a\xC2\xB7"
                                       "b\xC2\xB7\xC2\xB7"
                                       "c"),
              (std::vector<std::string>{"a", "b", "", "c"}));
    EXPECT_EQ(wendle::splitAtMiddleDot(""), std::vector<std::string>{""});
    // A lone C2 or B7 byte is no separator.
    EXPECT_EQ(wendle::splitAtMiddleDot("x\xC2y\xB7z").size(), 1u);
}

TEST(Selectors, EscapedTextMatchesExactlyItself) {
    for (std::string text : {"www.example.com/?p=1+2", "a(b)[c]{2}|d*e^f$g\\h", "mail@host/x.html",
                             "/comics/2020.05/"}) {
        std::string expression = "@^" + wendle::escapePattern(text) + "$";
        EXPECT_EQ(applied(expression, text).size(), 1u) << expression;
        std::string altered = text;
        altered[altered.size() / 2] = '#';
        EXPECT_TRUE(applied(expression, altered).empty()) << expression;
    }
    EXPECT_EQ(wendle::escapePattern("a.b?"), "a\\.b\\?");
}

}  // namespace
