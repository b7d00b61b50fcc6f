// The console primitives and the helpers of the generator, with scripted answers.
#include <gtest/gtest.h>

#include <sstream>

#include "support/log_capture.hpp"
#include "wendle/dialogue.hpp"

namespace {

using wendle::Dialogue;
using wendle::EndOfInput;

struct Console {
    std::istringstream in;
    testsupport::LogCapture log;
    Dialogue dialogue;
    explicit Console(const std::string& answers)
        : in(answers), dialogue(in, {"127.0.0.1:1/search", "plugins"}) {}
};

TEST(Console, AskWritesPromptAndKeepsTheAnswerAsTyped) {
    Console c("  spaced answer \r\n\nlast");
    EXPECT_EQ(c.dialogue.ask("Question?"), "  spaced answer ");
    EXPECT_EQ(c.dialogue.ask(""), "");
    EXPECT_EQ(c.dialogue.ask(""), "last");  // a last line without line feed still counts
    EXPECT_THROW(c.dialogue.ask("More?"), EndOfInput);
    std::string text = c.log.text();
    EXPECT_NE(text.find("| Question?\n> "), std::string::npos);
    // An empty prompt writes no line of its own.
    EXPECT_EQ(text.find("| \n"), std::string::npos);
}

TEST(Console, YesNoTakesOneLetterInAnyCase) {
    Console c("Y\nn\nyes\nno\n\nN\n");
    EXPECT_TRUE(c.dialogue.askYesNo("Go?"));
    EXPECT_FALSE(c.dialogue.askYesNo("Go?"));
    EXPECT_FALSE(c.dialogue.askYesNo("Go?"));  // "yes", "no" and "" are asked again
    EXPECT_TRUE(c.log.contains("| Go? [y/n]\n> "));
    std::string text = c.log.text();
    int retries = 0;
    for (std::size_t at = 0;
         (at = text.find("Unrecognized input. Please retry.", at)) != std::string::npos; ++at)
        ++retries;
    EXPECT_EQ(retries, 3);
    // Out of answers: an error, not an endless repeat.
    EXPECT_THROW(c.dialogue.askYesNo("Go?"), EndOfInput);
}

TEST(Console, NumbersAreDecimalIntegersOnly) {
    Console c("42\n -7 \nx1\n\n1.5\n99999999999999999999999\n+\n");
    EXPECT_EQ(c.dialogue.askNumber("How many?"), 42);
    EXPECT_EQ(c.dialogue.askNumber(""), -7);
    for (int i = 0; i < 5; ++i) EXPECT_THROW(c.dialogue.askNumber(""), std::runtime_error) << i;
    EXPECT_TRUE(c.log.contains("| How many? [number]\n"));
}

TEST(Console, ChooseNumbersItemsAndRetriesOutOfRange) {
    Console c("0\n3\n-1\n2\n0\n");
    std::vector<std::string> items{"alpha", "beta"};
    // Without an "other" action, 0 is out of range too.
    EXPECT_EQ(c.dialogue.choose("Pick one", items, {}), "beta");
    EXPECT_EQ(c.dialogue.choose("Pick again", items, [] { return std::string("typed"); }), "typed");
    std::string text = c.log.text();
    EXPECT_NE(text.find("| Pick one\n| 1) alpha\n| 2) beta\n"), std::string::npos);
    EXPECT_NE(text.find("| Pick again\n| 0) other\n| 1) alpha\n"), std::string::npos);
    int invalid = 0;
    for (std::size_t at = 0;
         (at = text.find("Invalid index! Please retry.", at)) != std::string::npos; ++at)
        ++invalid;
    EXPECT_EQ(invalid, 3);
}

class FixedSelector : public wendle::LinkSelector {
public:
    explicit FixedSelector(std::string answer) : answer_(std::move(answer)) {}
    std::string adapt(const std::string&) override {
        if (answer_.empty()) throw std::runtime_error("no luck");
        return answer_;
    }
    std::string expression() const override { return "@" + answer_; }

private:
    std::string answer_;
};

TEST(Console, FindLinkTriesSelectorsInOrder) {
    Console c("n\ny\n");
    FixedSelector failing(""), first("a.html"), second("/b.html");
    wendle::LinkSelector* found = nullptr;
    std::vector<std::string> asked;
    auto verify = [&](const std::string& address) {
        asked.push_back(address);
        return c.dialogue.askYesNo("Right?");
    };
    EXPECT_EQ(c.dialogue.findLink("h/x/y.html", {&failing, &first, &second}, "", verify, found),
              "h/b.html");
    EXPECT_EQ(found, &second);
    EXPECT_EQ(asked, (std::vector<std::string>{"h/x/a.html", "h/b.html"}));
    EXPECT_TRUE(c.log.contains("| Failed! no luck. Trying to continue ... \n"));

    // None passes: nothing recorded, the last address computed comes back.
    EXPECT_EQ(c.dialogue.findLink("h/x/y.html", {&first, &failing}, "", {}, found), "h/x/a.html");
    EXPECT_EQ(found, &first);
    EXPECT_THROW(c.dialogue.findLink("h/", {&first}, "", verify, found), EndOfInput);
}

TEST(Console, UniqueKeepsFirstPositions) {
    EXPECT_EQ(wendle::unique({"b", "a", "b", "c", "a"}), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_TRUE(wendle::unique({}).empty());
}

TEST(Console, PluginBaseNames) {
    EXPECT_EQ(wendle::pluginBaseName("My Comic"), "my_comic");
    EXPECT_EQ(wendle::pluginBaseName("../../etc/passwd"), "____etc_passwd");
    EXPECT_EQ(wendle::pluginBaseName("a\\b/c"), "a_b_c");
    EXPECT_EQ(wendle::pluginBaseName("Tab\tName"), "tab_name");
    EXPECT_EQ(wendle::pluginBaseName("Caf\xC3\xA9"), "caf\xC3\xA9");
    for (std::string unusable : {"", " ", "..", "...", "/", "._."})
        EXPECT_EQ(wendle::pluginBaseName(unusable), "") << unusable;
}

TEST(Console, SearchQueryAndResultLinks) {
    EXPECT_EQ(wendle::searchQuery("My Comic"), "%22My%20Comic%22+%28comic%7Cwebcomic%29");
    EXPECT_EQ(wendle::searchQuery("A&B #1"), "%22A%26B%20%231%22+%28comic%7Cwebcomic%29");

    std::string page =
        "<a href=\"/about\">About</a> <a href=\"https://www.mojeek.com/x\">own</a>"
        "<a href=\"http://blog.mojeek.com/y\">own too</a>"
        "<a class=\"title\" href=\"http://comic.example/\">Comic</a>"
        "<a class='title' href='https://other.example/a?b=1&amp;c=2'>Other</a>"
        "<a href=\"http://comic.example/#top\">again</a>"
        "<A HREF=\"http://third.example/strips/\">third</A>";
    EXPECT_EQ(wendle::searchResultLinks(page, std::string(wendle::defaultSearchEndpoint)),
              (std::vector<std::string>{"comic.example/", "https://other.example/a?b=1&c=2",
                                        "third.example/strips/"}));
    EXPECT_TRUE(wendle::searchResultLinks("", "127.0.0.1:80/search").empty());
}

}  // namespace
