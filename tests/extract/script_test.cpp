#include "extract/script.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include "extract/replacer.hpp"
#include "support/log_capture.hpp"
#include "tools/failure.hpp"
#include "tools/log.hpp"

using extract::SelectorScript;
using Strings = std::vector<std::string>;

namespace {

Strings run(const std::string& program, const std::string& text = "") {
    return SelectorScript(program).apply(text);
}

// The message of the error the program raises (at construction or while running).
std::string error(const std::string& program, const std::string& text = "") {
    try {
        run(program, text);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(ScriptParse, CommasBlanksAndKeywords) {
    EXPECT_EQ(run("push Hello\\, World"), Strings{"Hello, World"});
    EXPECT_EQ(run("push a,   push b"), (Strings{"a", "b"}));   // leading blanks go
    EXPECT_EQ(run("push a  ,push b"), (Strings{"a  ", "b"}));  // trailing ones stay
    EXPECT_EQ(run("goe </b> ,start,go z,end,push", "x</b> y</b>z"), Strings{"y</b>"});
    EXPECT_EQ(error("push a,"), "Invalid command \"\"!");
    EXPECT_EQ(error("push a,,push b"), "Invalid command \"\"!");
    EXPECT_EQ(error("Push a"), "Invalid command \"Push a\"!");
    EXPECT_EQ(error("pushx"), "Invalid command \"pushx\"!");
    EXPECT_EQ(error(""), "Invalid command \"\"!");
}

TEST(ScriptParse, GroupsAndTheirBalance) {
    testsupport::LogCapture log;
    SelectorScript s("do,goe <a,goe >,done,start");
    EXPECT_EQ(s.size(), 2u);
    EXPECT_NE(log.text().find("Generated subfunction with length 2"), std::string::npos);
    EXPECT_EQ(error("do,nop"), "Failure: Stack length 2 invalid!");
    EXPECT_EQ(error("nop,done"), "Failure: Stack length 0 invalid!");
    EXPECT_NE(log.text().find("Construction failed: Failure: Stack length 2 invalid!"),
              std::string::npos);
    // Nested groups.
    EXPECT_EQ(run("do,push a,do,push b,done,done,join"), Strings{"ab"});
}

TEST(ScriptSearch, MarksAndPush) {
    EXPECT_EQ(run("goe <b>,start,go </b>,end,push", "x<b>Title</b>y"), Strings{"Title"});
    EXPECT_EQ(run("goe <b>,start,go </b>,end,push", "x<i>Title</i>y"), Strings{});
    // Backward searches find the last occurrence wholly before the cursor.
    EXPECT_EQ(run("cur 8,gor ab,start,cur +2,end,push", "abXab_ab"), Strings{"ab"});
    EXPECT_EQ(run("cur 8,gore ab,start,cur 8,end,push", "abXab_ab"), Strings{""});
    EXPECT_EQ(run("cur 7,gore ab,start,cur 8,end,push", "abXab_ab"), Strings{"_ab"});
    EXPECT_EQ(run("cur 1,gor ab", "abab"), Strings{});  // "ab" does not end before offset 1
    // The bare forms take the needle from the last element.
    EXPECT_EQ(run("push <,goe,start,push >,go,end,push", "a<tag>b"), (Strings{"<", ">", "tag"}));
}

TEST(ScriptSearch, LogLines) {
    testsupport::LogCapture log;
    run("cur 2,go b,goe c,gore a,cur -1,start,end", "xxabcab");
    std::string written = log.text();
    for (const char* line : {"Go b from 2", "Found at 1", "Go End c", "Go c from 3", "Found at 1",
                             "Go Reverse End a", "Inc 3 by -1", "Start at 2", "End at 2"})
        EXPECT_NE(written.find(line), std::string::npos) << line;
}

TEST(ScriptSearch, CursorOutsideTheTextFails) {
    // Forward and backward searches, tcskip: the failed flag, never an error.
    EXPECT_EQ(run("cur 10,go a,push x", "abc"), Strings{});
    EXPECT_EQ(run("cur 10,gor a,push x", "abc"), Strings{});
    EXPECT_EQ(run("cur 3,tcskip a,push x", "abc"), Strings{});
    // Moving before the start of the text fails; huge moves do not wrap.
    EXPECT_EQ(run("cur -1,push x", "abc"), Strings{});
    EXPECT_EQ(run("cur 2,cur -3,push x", "abc"), Strings{});
    EXPECT_EQ(run("cur 9223372036854775807,cur +9223372036854775807,push x", "abc"), Strings{});
    EXPECT_EQ(run("cur 99999999999999999999999,go a", "abc"), Strings{});
    EXPECT_EQ(run("cur 2,cur -2,go a,push x", "abc"), Strings{"x"});
}

TEST(ScriptSearch, PushWithBadMarksOrEmptyStackFails) {
    EXPECT_EQ(run("cur 2,start,cur 1,end,push", "abc"), Strings{});
    EXPECT_EQ(run("cur 9,end,push", "abc"), Strings{});
    EXPECT_EQ(run("go", "abc"), Strings{});
    EXPECT_EQ(run("gore", "abc"), Strings{});
    EXPECT_EQ(run("ccs"), Strings{});
}

TEST(ScriptFlow, TryskipSkipAndTcskip) {
    EXPECT_EQ(run("tryskip,goe <i>,goe <b>,start,end,push", "<b>x"), Strings{""});
    EXPECT_EQ(run("tryskip,goe <i>,goe <b>,start,cur +1,end,push", "<b>x"), Strings{"x"});
    EXPECT_EQ(run("tryskip,goe <i>,goe <b>,start,cur +1,end,push", "<i>y<b>x"), Strings{"y"});
    EXPECT_EQ(run("tryskip,goe <i>,goe <b>,push z", "none"), Strings{});
    EXPECT_EQ(run("tcskip <,push yes,push no", "<a"), Strings{"no"});
    EXPECT_EQ(run("tcskip <,push yes,push no", "a<"), (Strings{"yes", "no"}));
    EXPECT_EQ(run("skip2,push a,push b,push c"), Strings{"c"});
    EXPECT_EQ(run("skip  1,push a,push b"), Strings{"b"});
    EXPECT_EQ(run("skip,push a"), Strings{"a"});
    // A group is one command for the skips.
    EXPECT_EQ(run("skip1,do,push a,push b,done,push c"), Strings{"c"});
    // Inside a group a failure does not stop the group, but ends the run after it.
    EXPECT_EQ(run("do,go q,push a,done,push b", "x"), Strings{});
    EXPECT_EQ(error("tcskip ab"), "Failure: Invalid tcskip parameter \"ab\"");
    EXPECT_EQ(error("tcskip "), "Failure: Invalid tcskip parameter \"\"");
    // tryskip needs two top-level commands after it and does not work inside a group.
    EXPECT_NE(error("tryskip,push a").find("tryskip"), std::string::npos);
    EXPECT_NE(error("tryskip").find("tryskip"), std::string::npos);
    EXPECT_NE(error("do,tryskip,push a,push b,done,nop").find("tryskip"), std::string::npos);
}

TEST(ScriptFlow, TryskipChainsRunWithoutTheCallStack) {
    // A tryskip whose command is a tryskip: the inner one runs first, and the
    // outer one tries its second command when the inner pair failed.
    EXPECT_EQ(run("tryskip,tryskip,go q,push a,push b", "x"), (Strings{"a", "a", "b"}));
    EXPECT_EQ(run("tryskip,tryskip,go q,go r,push b", "x"), Strings{});
    EXPECT_EQ(run("tryskip,go q,tryskip,go r,push a,push b", "x"), Strings{});  // "go r" runs again
    tools::QuietLog quiet;
    // Hundreds of thousands in a row end with a result or an error, never a crash.
    std::string deep;
    for (int i = 0; i < 300000; ++i) deep += "tryskip,";
    deep += "push a,push b";
    EXPECT_EQ(error(deep), "Script gave up after 2000000 steps");
    std::string failing;
    for (int i = 0; i < 60; ++i) failing += "tryskip,";
    failing += "go q,go r";
    EXPECT_EQ(error(failing, "x"), "Script gave up after 2000000 steps");
    // Groups and scripts built inside scripts are bounded in depth.
    std::string groups;
    for (int i = 0; i < 5000; ++i) groups += "do,";
    groups += "nop";
    for (int i = 0; i < 5000; ++i) groups += ",done";
    EXPECT_EQ(error(groups), "Failure: Groups nested deeper than 64");
    std::string nested = "push a";
    for (int i = 0; i < 5000; ++i) nested = "regex !" + nested;
    EXPECT_EQ(error(nested), "Failure: Scripts nested deeper than 16");
}

TEST(ScriptStack, JoinMergeFlipFormatSelectReplace) {
    EXPECT_EQ(run("push a,push b,flipstack,join -"), Strings{"b-a"});
    EXPECT_EQ(run("push a,push b,merge"), Strings{"ab"});
    EXPECT_EQ(run("push a,push b,join"), Strings{"ab"});
    EXPECT_EQ(run("join x"), Strings{""});
    EXPECT_EQ(error("push a,merge"), "Failure: Stack length over 2");
    EXPECT_EQ(run("push x,push y,format $2/$1"), Strings{"y/x"});
    std::string eleven;
    for (char c = 'a'; c < 'a' + 11; ++c) eleven += std::string("push ") + c + ",";
    EXPECT_EQ(run(eleven + "format $10|$11"), Strings{"a0|a1"});
    EXPECT_EQ(run("push a,push b,push c,select 1"), Strings{"b"});
    EXPECT_EQ(error("push a,select 1"), "Failure: Cannot select 1 in stack of 1");
    // Large numbers saturate instead of wrapping to a negative index.
    EXPECT_EQ(error("push a,select 4294967295"), "Failure: Cannot select 4294967295 in stack of 1");
    EXPECT_EQ(error("push a,select 18446744073709551615"),
              "Failure: Cannot select 9223372036854775807 in stack of 1");
    EXPECT_EQ(run("push a-b-a,push a,replace a=xy"), (Strings{"xy-b-xy", "a"}));
    EXPECT_EQ(run("push abc,replace q=r"), Strings{"abc"});
    EXPECT_EQ(run("replace a=b"), Strings{});
    EXPECT_EQ(run("push k=v,replace k=K"), Strings{"K=v"});
    EXPECT_NE(error("replace ab").find("replace"), std::string::npos);
    EXPECT_NE(error("replace =b").find("replace"), std::string::npos);
    EXPECT_NE(error("cur ").find("cur"), std::string::npos);
}

TEST(ScriptStack, Dates) {
    EXPECT_EQ(run("push 2007-05-23,date 0"), Strings{"2007-05-23"});
    EXPECT_EQ(run("push 20070523,date 0"), Strings{"2007-05-23"});
    EXPECT_EQ(run("push 230507,date 0"), Strings{"07.05.23"});
    EXPECT_EQ(run("push Posted 2007-05-23,date 0"), Strings{"2007-05-23"});
    EXPECT_EQ(run("push x,push strip_20070523,date 1"), (Strings{"x", "2007-05-23"}));
    EXPECT_EQ(error("push 1,date 1"), "Stack empty, cannot create date");
    EXPECT_EQ(error("date 0"), "Stack empty, cannot create date");
    EXPECT_EQ(error("push 4294967296,date 4294967296"), "Stack empty, cannot create date");
    EXPECT_NE(error("push 1234567,date 0").find("date"), std::string::npos);
    EXPECT_NE(error("push 7-05-23,date 0").find("date"), std::string::npos);
}

TEST(ScriptStack, CleanSpaces) {
    EXPECT_EQ(run("push Hello  World!,ccs"), Strings{"Hello World"});
    EXPECT_EQ(run("push Hello  World!,ccs !"), Strings{"Hello World!"});
    EXPECT_EQ(run("push Hello\\, World,ccs"), Strings{"HelloWorld"});
    EXPECT_EQ(run("push a&quot;b&nbsp;c&#8217;d,ccs \"'"), Strings{"a\"b c'd"});
    EXPECT_EQ(run("push Caf\xC3\xA9 au lait,ccs"), Strings{"Cafau lait"});
    EXPECT_EQ(run("push first,push  x  y ,ccs"), (Strings{"first", " x y "}));
    EXPECT_EQ(error("push a,ccs  "), "Failure: Can't use space in specials");
    EXPECT_EQ(run("push ,ccs  "), Strings{""});  // an empty element is not walked
}

TEST(ScriptRegex, RegexAndModex) {
    EXPECT_EQ(run("push z,regex @<i>([^<]*)</i>@$1", "<i>a</i><i>b</i>"), (Strings{"a", "b", "z"}));
    EXPECT_EQ(run("regex @a{1\\,2}@$&", "aaa"), (Strings{"aa", "a"}));
    EXPECT_EQ(run("push a1b2,modex @[0-9]@<$&>"), Strings{"a<1>b2"});
    EXPECT_EQ(run("push ab\ncd,modex @b.c@x"), Strings{"ab\ncd"});  // no line feeds turned
    EXPECT_EQ(run("push abcd,modex #(b)(c)#$2$1$`$'"), Strings{"acbadd"});
    EXPECT_EQ(run("modex @a@b"), Strings{});
    EXPECT_NE(error("modex @ab").find("modex"), std::string::npos);
    EXPECT_NE(error("modex "), "(no error)");
    EXPECT_NE(error("modex @(@x"), "(no error)");    // bad pattern at construction
    EXPECT_NE(error("regex @(a@$1"), "(no error)");  // the replacer's own error
    // A regex command turns the text's line breaks into spaces for what follows.
    std::string text = "a\r\nb";
    EXPECT_EQ(SelectorScript("regex @a@x,goe  ,start,cur +1,end,push").apply(text),
              (Strings{"x", " "}));
    EXPECT_EQ(text, "a  b");
}

TEST(ScriptRun, EveryRunStartsFresh) {
    SelectorScript s("push a,goe <b>,start,go </b>,end,push");
    EXPECT_EQ(s.apply(std::string("<b>1</b>")), (Strings{"a", "1"}));
    EXPECT_EQ(s.apply(std::string("x")), Strings{});
    EXPECT_EQ(s.apply(std::string("<b>2</b>")), (Strings{"a", "2"}));
}
