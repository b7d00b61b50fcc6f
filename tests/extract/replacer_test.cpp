#include "extract/replacer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "extract/regex.hpp"
#include "extract/start_literals.hpp"
#include "support/log_capture.hpp"
#include "tools/log.hpp"

using extract::Replacer;
using Strings = std::vector<std::string>;

namespace {

Strings applyTo(const std::string& expression, const std::string& text) {
    return Replacer(expression).apply(text);
}

}  // namespace

TEST(ReplacerGrammar, BasicExpressions) {
    EXPECT_EQ(applyTo("@(.*)foo@$1", "seafood"), Strings{"sea"});
    EXPECT_EQ(applyTo("@(a)@$1", "banana"), (Strings{"a", "a", "a"}));
    EXPECT_EQ(applyTo("@<b>([^<]*)</b>", "<b>x</b><b>y</b>"), (Strings{"x", "y"}));
    EXPECT_EQ(applyTo("@index.html", "index.html and index.html"),
              (Strings{"here to generate a valid match", "here to generate a valid match"}));
    EXPECT_EQ(applyTo("@index.html", "nothing here"), Strings{});
    EXPECT_EQ(applyTo("#a@b#x", "a@b a@b"), (Strings{"x", "x"}));
}

TEST(ReplacerGrammar, DefaultFormatDependsOnParenthesisOnly) {
    // A "(" counts even when it opens no capturing group: the default is "$1".
    EXPECT_EQ(applyTo("@(?:ab)", "ab"), Strings{""});
    EXPECT_EQ(applyTo("@a\\(b", "a(b"), Strings{""});
    // An empty format is a format.
    EXPECT_EQ(applyTo("@(a)@", "aa"), (Strings{"", ""}));
}

TEST(ReplacerGrammar, RejectsEmptyExpressionAndBadPatterns) {
    EXPECT_THROW(Replacer(""), std::runtime_error);
    try {
        Replacer("@(abc@$1");
        FAIL() << "unbalanced group accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("missing closing parenthesis"), std::string::npos)
            << e.what();
    }
    EXPECT_THROW(Replacer("@a**"), std::runtime_error);
    EXPECT_THROW(Replacer("@a{2}+"), std::runtime_error);  // no possessive quantifiers
    EXPECT_THROW(Replacer("@(?i)a"), std::runtime_error);  // no inline flags
    // Nor PCRE2's own groups and verbs.
    EXPECT_THROW(Replacer("@(*ACCEPT)a"), std::runtime_error);
    EXPECT_THROW(Replacer("@(?|(a)|(b))"), std::runtime_error);
    EXPECT_THROW(Replacer("@(?#note)a"), std::runtime_error);
    EXPECT_THROW(Replacer("@(?>a)"), std::runtime_error);
    EXPECT_THROW(Replacer("@[z-a]"), std::runtime_error);
    EXPECT_THROW(Replacer("@a\\"), std::runtime_error);
}

TEST(ReplacerApply, LineBreaksBecomeSpacesInCallersText) {
    std::string text = "foo\r\nbar";
    Replacer r("@foo  bar@ok");
    EXPECT_EQ(r.apply(text), Strings{"ok"});
    EXPECT_EQ(text, "foo  bar");
    // The const overload leaves the caller's text alone.
    const std::string constant = "a\nb";
    EXPECT_EQ(Replacer("@a b@y").apply(constant), Strings{"y"});
    EXPECT_EQ(constant, "a\nb");
    // "." spans what were line breaks.
    EXPECT_EQ(applyTo("@<p>(.*)</p>", "<p>one\ntwo</p>"), Strings{"one two"});
}

TEST(ReplacerApply, SpacingReachesEveryByteWhateverTheLength) {
    // The text is spaced in blocks: a break at any place of a block, or in
    // the bytes after the last whole block, becomes a space and nothing else
    // changes (bytes near CR and LF in value, and high bytes, included).
    const std::string others = "\t\v\f\x0B\x0E\x8A\x8D\xFF a";
    // The copying form writes into a reused buffer, longer or shorter before.
    std::string reused;
    for (std::size_t length = 0; length <= 70; ++length)
        for (std::size_t at = 0; at < length; ++at)
            for (char brk : {'\r', '\n'}) {
                std::string text;
                for (std::size_t i = 0; i < length; ++i) text.push_back(others[i % others.size()]);
                std::string expected = text;
                text[at] = brk;
                expected[at] = ' ';
                if (at % 7 == 0) reused.assign(length + at, '\n');
                extract::assignWithLineBreaksSpaced(reused, text);
                ASSERT_EQ(reused, expected) << "copy: length " << length << ", break at " << at;
                extract::spaceLineBreaks(text);
                ASSERT_EQ(text, expected) << "length " << length << ", break at " << at;
            }
}

TEST(ReplacerApply, ApplyToSpacedGivesApplysResults) {
    // A page spaced once and read in place by several expressions, checked for
    // UTF-8 once, gives what apply gives on its own copy.
    const std::string valid = "<p>Caf\xC3\xA9\r\n<a href=\"2.html\">next</a>\n<b>x</b></p>";
    const std::string invalid =
        "<p>Caf\xE9\r\n<a href=\"2.html\">n\xE4"
        "chste</a>\n<b>\xC3</b></p>";
    for (const std::string* text : {&valid, &invalid}) {
        const std::string& page = *text;
        std::string spaced = page;
        extract::spaceLineBreaks(spaced);
        const bool checked = extract::isValidUtf8(page);
        EXPECT_EQ(checked, text == &valid);
        for (const char* expression : {"@<p>(.*)</p>", "@href=\"([^\"]*)\">([^<]*)@$2:$1",
                                       "@<b>(.)</b>", "@\\s(\\S)", "@(.)\\1"}) {
            Replacer r(expression);
            EXPECT_EQ(r.applyToSpaced(spaced, checked), r.apply(page)) << expression;
        }
    }
    EXPECT_TRUE(extract::isValidUtf8(""));
    EXPECT_FALSE(extract::isValidUtf8(std::string(40, 'a') + "\xED\xA0\x80"));
}

TEST(ReplacerApply, EmptyMatchesStepOneWholeCharacter) {
    EXPECT_EQ(applyTo("@a*@[$&]", "baaac"), (Strings{"[]", "[aaa]", "[]", "[]"}));
    // Two characters of two and four bytes: three empty matches, never a split one.
    EXPECT_EQ(applyTo("@x*@[$`]", "\xC3\xA9\xF0\x9F\x98\x80"),
              (Strings{"[]", "[\xC3\xA9]", "[\xC3\xA9\xF0\x9F\x98\x80]"}));
    EXPECT_EQ(applyTo("@@-", ""), Strings{"-"});
    // A lazy empty match is followed by a search one character on, not a retry.
    EXPECT_EQ(applyTo("@a??@<$&>", "a"), (Strings{"<>", "<>"}));
}

TEST(ReplacerFormat, SubstitutionTable) {
    EXPECT_EQ(applyTo("@b(c)@[$&|$`|$'|$1]", "abcd"), Strings{"[bc|a|d|c]"});
    EXPECT_EQ(applyTo("@(a)(b)@$12", "ab"), Strings{""});  // group 12, not group 1 and "2"
    EXPECT_EQ(applyTo("@(a)(b)@$02$2", "ab"), Strings{"bb"});
    EXPECT_EQ(applyTo("@(a)@$0 $00 $$ $x $", "a"), Strings{"$0 $00 $$ $x $"});
    EXPECT_EQ(applyTo("@(a)@$$1", "a"), Strings{"$$1"});
    EXPECT_EQ(applyTo("@(a)|(b)@[$1$2]", "ab"), (Strings{"[a]", "[b]"}));  // unset group: empty
    EXPECT_EQ(applyTo("@(a)@$9", "a"), Strings{""});
    EXPECT_EQ(applyTo("@(a)@\xC2\xB7$1\xC2\xB7", "a"), Strings{"\xC2\xB7"
                                                               "a\xC2\xB7"});

    std::string twelve = "@";
    for (int i = 0; i < 12; ++i) twelve += "(.)";
    EXPECT_EQ(applyTo(twelve + "@$12$1", "abcdefghijkl"), Strings{"la"});
}

TEST(ReplacerChain, SecondStepSearchesTheWholePage) {
    const std::string page =
        "<i id=7></i><i id=9></i> name=9>nine< name=7>seven< name=7>sept< name=8>eight<";
    testsupport::LogCapture log;
    EXPECT_EQ(applyTo("@id=([0-9]+)@$1@name=\\match>([^<]*)<@$1", page),
              (Strings{"seven", "sept", "nine"}));
    std::string written = log.text();
    EXPECT_NE(written.find("Chaining log: natch is name=7>([^<]*)<, format: $1"),
              std::string::npos);
    EXPECT_NE(written.find("nres@[seven, sept]"), std::string::npos);
    EXPECT_NE(written.find("Result in names: [seven, sept, nine]"), std::string::npos);
}

TEST(ReplacerChain, ManyKeysLogAShortenedListSoFar) {
    // 500 keys, each finding 500 pieces: the list logged per key is cut short,
    // where the whole list so far made the logging quadratic (found by fuzzing).
    const std::string page(500, 'x');
    testsupport::LogCapture log;
    EXPECT_EQ(applyTo("@x@x@\\match@y", page).size(), 250000u);
    const std::string written = log.text();
    std::size_t lines = 0;
    for (std::size_t at = written.find("| nres@"); at != std::string::npos;
         at = written.find("| nres@", at + 1)) {
        ++lines;
        EXPECT_LT(written.find('\n', at) - at, 2200u);
    }
    EXPECT_EQ(lines, 500u);
    EXPECT_NE(written.find("| nres@[y, y, "), std::string::npos);
    EXPECT_NE(written.find(" more]\n"), std::string::npos);
}

TEST(ReplacerChain, KeysAreInsertedUnescaped) {
    // "a.c" as a key matches "abc" in the second step.
    EXPECT_EQ(applyTo("@k=([^ ]*)@$1@v\\match@ok", "k=a.c vabc"), Strings{"ok"});
}

TEST(ReplacerChain, PartCountMustBeTwo) {
    try {
        applyTo("@x@y@z", "x");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid chain length 1");
    }
    try {
        applyTo("@x@y@a@b@c", "x");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid chain length 3");
    }
    // "a@" is two parts: the pattern "a" and an empty format.
    EXPECT_EQ(applyTo("@x@y@a@", "xa"), Strings{""});
    // A bad second-step pattern fails apply, not construction.
    Replacer bad("@(x)@$1@(\\match@$1");
    EXPECT_THROW(bad.apply(std::string("x")), std::runtime_error);
}

TEST(ReplacerDialect, EcmaScriptMeanings) {
    // "." is one whole UTF-8 character and no line terminator.
    EXPECT_EQ(applyTo("@(.)", "\xC3\xA9\xF0\x9F\x98\x80"),
              (Strings{"\xC3\xA9", "\xF0\x9F\x98\x80"}));
    EXPECT_EQ(applyTo("@a.b",
                      "a\xE2\x80\xA8"
                      "b"),
              Strings{});
    // White space is ECMAScript's set; digits and word characters are ASCII.
    EXPECT_EQ(applyTo("@a\\sb@x",
                      "a\xC2\xA0"
                      "b a\xE3\x80\x80"
                      "b a\xEF\xBB\xBF"
                      "b"),
              (Strings{"x", "x", "x"}));
    EXPECT_EQ(applyTo("@a[^\\S]b@x",
                      "a\xC2\xA0"
                      "b"),
              Strings{"x"});
    EXPECT_EQ(applyTo("@\\d+@$&", "\xD9\xA3 42"), Strings{"42"});
    EXPECT_EQ(applyTo("@\\w+@$&", "\xC3\xA9t\xC3\xA9"), Strings{"t"});
    EXPECT_EQ(applyTo("@\\bt\\b@$&", "\xC3\xA9t\xC3\xA9"), Strings{"t"});
    // PCRE2-only escapes are the letter itself; "[[:" is no POSIX class.
    EXPECT_EQ(applyTo("@\\A\\Z\\h\\R\\Q\\E\\e@ok", "AZhRQEe"), Strings{"ok"});
    EXPECT_EQ(applyTo("@[[:a]+@$&", "a:[x"), Strings{"a:["});
    EXPECT_EQ(applyTo("@\\v@ok", "\v"), Strings{"ok"});         // vertical tab, not a class
    EXPECT_EQ(applyTo("@a\\Kb@$&", "aKb ab"), Strings{"aKb"});  // no match-start reset
    EXPECT_EQ(applyTo("@\\G\\z\\X\\N@ok", "GzXN"), Strings{"ok"});
    // Back-references and octal escapes as ECMAScript reads them.
    EXPECT_EQ(applyTo("@(a)\\1@ok", "aa"), Strings{"ok"});
    EXPECT_EQ(applyTo("@\\1(a)@[$&]", "a"), Strings{"[a]"});  // forward reference: empty
    EXPECT_EQ(applyTo("@(a)\\101@ok", "aA"), Strings{"ok"});  // \101 is octal "A"
    EXPECT_EQ(applyTo("@\\8@ok", "8"), Strings{"ok"});
    EXPECT_EQ(applyTo("@\\x41\\u0042\\u{43}\\x4@ok", "ABCx4"), Strings{"ok"});
    EXPECT_EQ(applyTo("@\\uD83D\\uDE00@ok", "\xF0\x9F\x98\x80"), Strings{"ok"});
    // Anchors are the ends of the whole text; empty classes.
    EXPECT_EQ(applyTo("@^a|a$@$&", "aaa"), (Strings{"a", "a"}));
    EXPECT_EQ(applyTo("@a$@ok", "a\n"), Strings{});  // the line feed became a space
    EXPECT_EQ(applyTo("@a[]@ok", "a"), Strings{});
    EXPECT_EQ(applyTo("@a[^]b@ok", "a\nb"), Strings{"ok"});
    // A brace that starts no quantifier is a literal.
    EXPECT_EQ(applyTo("@x{,2}@ok", "x{,2}"), Strings{"ok"});
    EXPECT_EQ(applyTo("@a{1,2}@$&", "aaa"), (Strings{"aa", "a"}));
    // Lazy quantifiers, look-around, named groups.
    EXPECT_EQ(applyTo("@<(.+?)>", "<a><b>"), (Strings{"a", "b"}));
    EXPECT_EQ(applyTo("@a(?=b)@x", "ab ac"), Strings{"x"});
    EXPECT_EQ(applyTo("@(?<=\\$)\\d+@$&", "$5 6"), Strings{"5"});
    EXPECT_EQ(applyTo("@(?<n>[a-z])\\k<n>@$1", "xaab"), Strings{"a"});
}

TEST(ReplacerBytes, InvalidUtf8BytesAreOpaqueCharacters) {
    // Latin-1 title, byte for byte.
    const std::string latin = "<title>Caf\xE9 \xE0 la cr\xE8me</title>";
    EXPECT_EQ(applyTo("@<title>([^<]*)</title>", latin), Strings{"Caf\xE9 \xE0 la cr\xE8me"});
    EXPECT_EQ(applyTo("@<title>([^]*?)</title>", latin), Strings{"Caf\xE9 \xE0 la cr\xE8me"});
    EXPECT_EQ(applyTo("@Caf(.)@[$1]", latin), Strings{"[\xE9]"});
    // A pattern holding the same Latin-1 byte finds it.
    EXPECT_EQ(applyTo("@cr\xE8(me)", latin), Strings{"me"});
    // Truncated sequences: each byte left over is one character.
    const std::string truncated = "<b>\xE2\x82</b><b>\xF0\x9F\x98</b><b>ok\xC3</b>";
    EXPECT_EQ(applyTo("@<b>([^<]*)</b>", truncated),
              (Strings{"\xE2\x82", "\xF0\x9F\x98", "ok\xC3"}));
    EXPECT_EQ(applyTo("@<b>(.)(.)", truncated), (Strings{"\xE2", "\xF0", "o"}));
    // Surrogates and overlong forms are invalid too; valid text around them stays whole.
    const std::string mixed = "\xED\xA0\x80|\xC0\xAF|\xC3\xA9";
    EXPECT_EQ(applyTo("@([^|]+)", mixed), (Strings{"\xED\xA0\x80", "\xC0\xAF", "\xC3\xA9"}));
    EXPECT_EQ(applyTo("@\\|(.)@$`", mixed), (Strings{"\xED\xA0\x80", "\xED\xA0\x80|\xC0\xAF"}));
}

TEST(ReplacerBytes, SameResultsAsWithOpaqueCharactersSpelledOut) {
    // Each invalid byte b stands for one character; spelling it as a real
    // character (U+E000 + b) must give the same results, mapped back.
    const std::string page =
        "<html><title>Stra\xDF"
        "e \x96 Nr.\xA0"
        "5</title><a href=\"n\xE4"
        "chste.html\">next</a>"
        "<img src=\"comics/\xFC"
        "ber.png\" alt=\"\xE9t\xE9\"> \xE2\x82</html>";
    auto spell = [](const std::string& text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            // Every byte above 0x7F in this page is invalid on its own.
            if (c < 0x80) {
                out.push_back(char(c));
            } else {
                char32_t cp = 0xE000 + c;
                out.push_back(char(0xE0 | (cp >> 12)));
                out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
                out.push_back(char(0x80 | (cp & 0x3F)));
            }
        }
        return out;
    };
    for (const char* expression :
         {"@<title>([^<]*)</title>", "@href=\"([^\"]*)\"", "@(.)t(.)", "@src=\"([^\"]*)\"", "@ (.)",
          "@[^a-z<>=\" ]+@$&", "@\\s(\\S+)\\s", "@(\\w+)\\W"}) {
        Strings raw = applyTo(expression, page);
        Strings spelled = applyTo(expression, spell(page));
        for (auto& s : raw) s = spell(s);
        EXPECT_EQ(raw, spelled) << expression;
    }
}

TEST(ReplacerLimits, CatastrophicPatternGivesUpNamingTheExpression) {
    std::string page(2'000'000, 'a');
    page += "b c";
    auto started = std::chrono::steady_clock::now();
    try {
        applyTo("@(a+)+c", page);
        FAIL() << "no error";
    } catch (const extract::MatchLimitError& e) {
        EXPECT_NE(std::string(e.what()).find("@(a+)+c"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST(ReplacerLimits, LongRunsNeedNoStack) {
    const std::string run(2'000'000, 'a');
    EXPECT_EQ(applyTo("@((a|b)*)x@$1", run + "x"), Strings{run});
    EXPECT_EQ(applyTo("@(.*?)x@$1", run + "x"), Strings{run});
    EXPECT_EQ(applyTo("@([^x]*)x@$1", "<" + run + "x").size(), 1u);
}

TEST(ReplacerThreads, ApplyRunsOnSeveralThreadsAtOnce) {
    const Replacer r("@<a href=\"([^\"]*)\">([^<]*)</a>@$2=$1");
    std::string page;
    for (int i = 0; i < 500; ++i)
        page += "<a href=\"/p" + std::to_string(i) + "\">" + std::to_string(i) + "</a>\r\n";
    const Strings expected = r.apply(static_cast<const std::string&>(page));
    ASSERT_EQ(expected.size(), 500u);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i)
                if (r.apply(static_cast<const std::string&>(page)) != expected) ++mismatches;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(ReplacerThreads, FirstSearchesOnSeveralThreadsAtOnce) {
    // Machine code is made at the first search: threads that all search a
    // fresh expression at once must each get the full result.
    std::string page;
    for (int i = 0; i < 300; ++i)
        page +=
            "<a href=\"/p" + std::to_string(i) + "\" rel=\"next\">" + std::to_string(i) + "</a>\n";
    const std::vector<std::string> patterns = {"<a href=\"([^\"]*)\" rel=\"next\">",
                                               "([Hh][Rr][Ee][Ff]|src)=\"([^\"]*)\""};
    for (const std::string& pattern : patterns) {
        std::vector<std::string> expected;
        extract::EcmaRegex(pattern).forEach(
            page, [&](const extract::RegexMatch& m) { expected.emplace_back(m.groups[1]); });
        ASSERT_EQ(expected.size(), 300u) << pattern;
        for (int round = 0; round < 20; ++round) {
            const extract::EcmaRegex fresh(pattern);
            std::atomic<int> waiting{4}, mismatches{0};
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t)
                threads.emplace_back([&] {
                    --waiting;
                    while (waiting > 0) std::this_thread::yield();
                    std::vector<std::string> found;
                    fresh.forEach(page, [&](const extract::RegexMatch& m) {
                        found.emplace_back(m.groups[1]);
                    });
                    if (found != expected) ++mismatches;
                });
            for (auto& t : threads) t.join();
            EXPECT_EQ(mismatches.load(), 0) << pattern;
        }
    }
    // A bad pattern is still refused when it is compiled, before any search.
    EXPECT_THROW(extract::EcmaRegex("(unclosed"), std::runtime_error);
}

TEST(ReplacerScript, ScriptFormIsTheScriptsResult) {
    Replacer r("!goe <b>,start,go </b>,end,push");
    EXPECT_TRUE(r.isScript());
    EXPECT_EQ(r.apply(std::string("x<b>Title</b>y")), Strings{"Title"});
    EXPECT_EQ(r.apply(std::string("nothing")), Strings{});
    EXPECT_THROW(Replacer("!bogus"), std::runtime_error);
}

TEST(ReplacerStartWords, GroupsOfWordsAreFoundOthersSearchedAsUsual) {
    using extract::detail::startLiterals;
    auto words = [](const std::string& pattern) {
        std::string out;
        for (const auto& w : startLiterals(pattern))
            out += (out.empty() ? "" : ",") + std::string(w.oneBefore ? "." : "") + w.word;
        return out;
    };
    EXPECT_EQ(words("([Pp][Rr][Ee][Vv]|[^Gg][Bb][Aa][Cc][Kk])[^Hh]*([Hh][Rr][Ee][Ff])=(['\"])"),
              "prev,.back");
    EXPECT_EQ(words("([Nn][Ee][Xx][Tt]|[Ff][Oo][Rr][Ww])"), "next,forw");
    EXPECT_EQ(words("(href|HREF)=([\"'])"), "href,href");
    EXPECT_EQ(words("(.ab|[x\\]]cd[Ee]f)+z"), ".ab,.cdef");
    EXPECT_EQ(words("(pre[Vv]+|ab)"), "pre,ab");
    for (const char* none :
         {"(a|bc)", "(?:prev|back)", "(prev|back)?x", "(prev|back)*", "(prev|back){0,2}",
          "(prev|back)|x", "(prev|back)(x|(y))|z", "([^G]?back|prev)", "prev", "\\(prev)",
          "(prev|back", "([^x)", "(p[Rr]?ev|back)", ""})
        EXPECT_EQ(words(none), "") << none;
}

TEST(ReplacerStartWords, SameResultsAsTheUsualSearch) {
    // "(?:" before the group keeps the usual search: both forms must agree on
    // texts dense in the words, their case variants, multi-byte and invalid
    // characters before them, and matches that overlap.
    const std::vector<std::string> pieces = {"prev",
                                             "PrEv",
                                             "back",
                                             "BACK",
                                             "gback",
                                             "Gback",
                                             "\xC3\xA9"
                                             "back",
                                             "\xE2\x82\xAC"
                                             "back",
                                             "\xFF"
                                             "back",
                                             "\xF0\x9F\x98\x80"
                                             "back",
                                             "pre",
                                             "bac",
                                             " href=\"",
                                             "HREF='",
                                             "h",
                                             "=",
                                             "\"",
                                             " ",
                                             "<a ",
                                             "prevback",
                                             "p",
                                             "b"};
    const std::vector<std::string> patterns = {
        "([Pp][Rr][Ee][Vv]|[^Gg][Bb][Aa][Cc][Kk])[^Hh]*([Hh][Rr][Ee][Ff])=(['\"])@$1|$2|$3",
        "(prev|.back)@[$&]", "([Pp]re|[Bb]ac)(k)?@$1$2", "(back|prev)[^Hh]*@<$&>"};
    std::uint32_t seed = 12345;
    auto random = [&seed](std::size_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const std::size_t count = 1 + random(30);
        for (std::size_t i = 0; i < count; ++i) text += pieces[random(pieces.size())];
        for (const std::string& pattern : patterns) {
            const std::size_t at = pattern.find('@');
            const std::string plain = "@(?:" + pattern.substr(0, at) + ")" + pattern.substr(at);
            ASSERT_EQ(applyTo("@" + pattern, text), applyTo(plain, text))
                << pattern << " on " << text;
        }
    }
}
