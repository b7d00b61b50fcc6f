// Whole dialogues against loopback comic sites, with the answers scripted; each
// plugin written is then crawled by the reader's own plugin code.
#include "wendle/dialogue.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "comics/base.hpp"
#include "comics/plugin_comic.hpp"
#include "comics/plugin_loading.hpp"
#include "comics/storage.hpp"
#include "fixture_sites.hpp"
#include "support/log_capture.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "wendle/addresses.hpp"
#include "wendle/site_check.hpp"

namespace {

namespace fs = std::filesystem;
using fixtures::Search;
using fixtures::Site;

struct Outcome {
    std::string written;  // path of the plugin file, or empty
    std::string log;
    bool allAnswersUsed = false;

    // Whether the log holds the message as a line (possibly after a "> " prompt).
    bool said(const std::string& message) const {
        return log.find("| " + message + "\n") != std::string::npos;
    }
    int count(const std::string& message) const {
        int found = 0;
        for (std::size_t at = 0; (at = log.find("| " + message + "\n", at)) != std::string::npos;
             ++at)
            ++found;
        return found;
    }
};

class GeneratorDialogue : public testing::Test {
protected:
    testsupport::TempDir dir{true};
    Search search;

    Outcome converse(const std::vector<std::string>& answers) {
        std::string script;
        for (const auto& answer : answers) script += answer + "\n";
        std::istringstream in(script);
        testsupport::LogCapture log;
        Outcome outcome;
        {
            wendle::Dialogue dialogue(in, {search.endpoint(), "plugins"});
            outcome.written = dialogue.run();
        }
        outcome.log = log.text();
        outcome.allAnswersUsed = in.peek() == std::char_traits<char>::eof();
        return outcome;
    }

    // The strip images a crawl of the plugin collects, oldest first.
    static std::vector<std::string> crawl(const std::string& path) {
        comics::FileStorage storage;
        auto comic = comics::makePlugin(storage, path, "");
        comic->update({}, {});
        std::vector<std::string> images;
        for (const auto& page : comic->pagesCopy())
            images.emplace_back(page.image().substr(page.image().rfind(' ') + 1));
        return images;
    }

    // The strip titles a crawl of the plugin collects.
    static std::vector<std::string> titles(const std::string& path) {
        comics::FileStorage storage;
        auto comic = comics::makePlugin(storage, path, "");
        comic->update({}, {});
        std::vector<std::string> out;
        for (const auto& page : comic->pagesCopy()) out.push_back(std::string(page.title()));
        return out;
    }

    static bool noPlugins() { return !fs::exists("plugins") || fs::is_empty("plugins"); }
};

TEST_F(GeneratorDialogue, PlainSequenceComic) {
    Site site;
    fixtures::plainComic(site, "My Comic");
    const std::string h = site.host();
    search.answer("My Comic", {h + "/", h + "/comic/3.html"});

    Outcome run = converse({"", "..", "My Comic", "1", "y", ""});
    ASSERT_EQ(run.written, "plugins/my_comic.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_EQ(run.count("The name \"..\" cannot name a plugin file: it needs at least one letter "
                        "or digit."),
              1);
    EXPECT_TRUE(run.said("Welcome to the Automatic Plugin Generator for TOVIK2!"));
    EXPECT_TRUE(run.said("Google searching for My Comic"));
    EXPECT_TRUE(run.said("Which of these is the frontpage/current page of the webcomic?"));
    EXPECT_TRUE(run.said("0) other"));
    EXPECT_TRUE(run.said("1) " + h + "/"));
    EXPECT_TRUE(run.said("2) " + h + "/comic/3.html"));
    EXPECT_TRUE(run.said("Detected previous URL: " + h + "/comic/4.html"));
    EXPECT_TRUE(run.said("Is this correct? [y/n]"));
    EXPECT_TRUE(run.said("First URL found at " + h + "/comic/1.html"));
    EXPECT_TRUE(run.said("Strip images found under /strips/: " + h + "/strips/5.png"));
    EXPECT_TRUE(run.said("Good. Cannot find next link on the apparent frontpage - " + h +
                         "/comic/5.html has none"));
    EXPECT_TRUE(run.said("Title found"));
    EXPECT_TRUE(run.said("Written to plugins/my_comic.re. Exiting."));
    EXPECT_TRUE(run.said("Please press return to continue."));

    std::string text = testsupport::readFile(run.written);
    EXPECT_EQ(text.substr(0, text.find("\nnext=")), "name=My Comic\nstart=" + h + "/comic/1.html");
    EXPECT_EQ(text.find("frontpage"), std::string::npos) << text;
    EXPECT_EQ(crawl(run.written), site.strips("/strips/"));
    EXPECT_EQ(titles(run.written).back(), "Strip 5");
}

TEST_F(GeneratorDialogue, FrontPageComicDetectedByEquality) {
    Site site;
    fixtures::frontPageComic(site, "/");
    const std::string h = site.host();
    search.answer("Front Comic", {h + "/"});

    // The title needs help; an expression that does not compile is asked again.
    Outcome run = converse({"Front Comic", "1", "y", "@(", "@<h1>([^<]*)</h1>", ""});
    ASSERT_EQ(run.written, "plugins/front_comic.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_TRUE(run.said("This is a frontpage comic. Applying extra care."));
    EXPECT_TRUE(run.said("Please provide a regular expression to determine the page title"));
    EXPECT_TRUE(run.log.find("This expression cannot be used (") != std::string::npos);
    std::string text = testsupport::readFile(run.written);
    EXPECT_NE(text.find("\ntitle=@<h1>([^<]*)</h1>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nfrontpage_match=" + wendle::frontPageMatch(h + "/") +
                        "\nfrontpage=" + h + "/\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(crawl(run.written), site.strips("/strips/"));
}

TEST_F(GeneratorDialogue, FrontPageComicAtIndexHtml) {
    Site site;
    fixtures::frontPageComic(site, "/index.html");
    const std::string h = site.host();
    search.answer("Front Comic", {h + "/index.html"});

    Outcome run = converse({"Front Comic", "1", "y", "@<h1>([^<]*)</h1>", ""});
    ASSERT_EQ(run.written, "plugins/front_comic.re") << run.log;
    std::string text = testsupport::readFile(run.written);
    EXPECT_NE(text.find("\nfrontpage_match=" + wendle::frontPageMatch(h + "/") +
                        "\nfrontpage=" + h + "/index.html\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(crawl(run.written), site.strips("/strips/"));

    // The reader's start-up loads it.
    comics::ComicRegistry loaded;
    ASSERT_NO_THROW(comics::loadPlugins("plugins", loaded));
    auto list = loaded.snapshot();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->name(), "Front Comic");
    EXPECT_EQ(list[0]->id(), "front_comic");
}

TEST_F(GeneratorDialogue, StripAmongSeveralImagesAndTypedFrontPage) {
    Site site;
    fixtures::manyImagesComic(site);
    const std::string h = site.host();

    // No search results: the front page is typed. "yes" is no answer.
    Outcome run = converse({"Many Images", "0", "http://" + h + "/", "yes", "Y", ""});
    ASSERT_EQ(run.written, "plugins/many_images.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_TRUE(run.said("Please input the correct frontpage"));
    EXPECT_EQ(run.count("Unrecognized input. Please retry."), 1);
    EXPECT_TRUE(run.said("Detected previous URL: " + h + "/m/4.html"));
    // The only image that changes from page to page is the strip: nothing to ask.
    EXPECT_FALSE(run.said("Which of these is the correct image?"));
    EXPECT_TRUE(run.said("Strip images found under /img/comics/: " + h + "/img/comics/5.png"));
    // No first link: numbered pages begin at 1.
    EXPECT_TRUE(run.said("First URL found at " + h + "/m/1.html"));
    std::string text = testsupport::readFile(run.written);
    EXPECT_NE(text.find("\ntitle=@Permanent Link( to |: )([^\"]*)\"@$2\n"), std::string::npos)
        << text;
    EXPECT_EQ(crawl(run.written), site.strips("/img/comics/"));
}

TEST_F(GeneratorDialogue, AmbiguousImagesAreAskedFor) {
    Site site;
    fixtures::manyImagesComic(site, "", true);
    const std::string h = site.host();
    search.answer("Many Images", {h + "/"});

    // An advertisement changes from page to page too: the user picks the strip
    // after an index out of range.
    Outcome run = converse({"Many Images", "1", "y", "7", "2", ""});
    ASSERT_EQ(run.written, "plugins/many_images.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_TRUE(run.said("Which of these is the correct image?"));
    EXPECT_TRUE(run.said("1) /ads/84.gif"));
    EXPECT_TRUE(run.said("2) /img/comics/5.png"));
    EXPECT_FALSE(run.said("3) /img/logo.png"));
    EXPECT_TRUE(run.said("Invalid index! Please retry."));
    EXPECT_EQ(crawl(run.written), site.strips("/img/comics/"));
}

TEST_F(GeneratorDialogue, TypedLabelAndManualImageExpression) {
    Site site;
    fixtures::continueComic(site);
    const std::string h = site.host();
    search.answer("Continue Comic", {h + "/p/5.html"});

    // Picking "other" at the image menu leads to the manual expression loop; the
    // next link is labelled by a word the generator does not know.
    Outcome run = converse({"Continue Comic", "1", "y", "0", "@(", "@nothing",
                            "@src=\"(/strips/[^\"]*)\"", "Continue", "@<h1>([^<]*)</h1>", ""});
    ASSERT_EQ(run.written, "plugins/continue_comic.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_TRUE(run.said("Detected previous URL: " + h + "/p/4.html"));
    EXPECT_TRUE(run.said("First URL found at " + h + "/p/1.html"));
    EXPECT_EQ(run.count("Cannot find comic image. Please enter a regular expression manually."), 3);
    EXPECT_TRUE(run.said("Could not discover a way to get the Next link from " + h +
                         "/p/4.html. Maybe if you help me .. "));
    EXPECT_TRUE(run.said("What is the name of the 'Next' image?"));
    EXPECT_TRUE(run.said("Thanks, that did it!"));
    EXPECT_NE(testsupport::readFile(run.written).find("\nimages=@src=\"(/strips/[^\"]*)\"\n"),
              std::string::npos);
    EXPECT_EQ(crawl(run.written), site.strips("/strips/"));
}

TEST_F(GeneratorDialogue, FailingCandidateIsDroppedAndShown) {
    Site site;
    fixtures::postLinkComic(site);
    const std::string h = site.host();
    search.answer("Post Comic", {h + "/"});

    Outcome run = converse({"Post Comic", "1", "y", ""});
    ASSERT_EQ(run.written, "plugins/post_comic.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_TRUE(run.said("Failed! the link rel=\"next\": page 2 (" + h +
                         "/blog/41.html) shows no strip. Trying to continue ... "))
        << run.log;
    EXPECT_TRUE(run.log.find("| Next link: the link labelled \"Next\"") != std::string::npos);
    EXPECT_EQ(crawl(run.written), site.strips("/strips/"));
}

TEST_F(GeneratorDialogue, NewestPageLinkingToItself) {
    Site site;
    fixtures::manyImagesComic(site, "/m/5.html");
    const std::string h = site.host();
    search.answer("Many Images", {h + "/"});

    Outcome run = converse({"Many Images", "1", "y", ""});
    ASSERT_EQ(run.written, "plugins/many_images.re") << run.log;
    EXPECT_TRUE(
        run.said("We shall first try to check if the next link found is the same as the "
                 "frontpage."));
    EXPECT_TRUE(run.said("Yes it is. TOVIK can handle this case by itself. Continuing."));
    EXPECT_EQ(testsupport::readFile(run.written).find("frontpage"), std::string::npos);
    EXPECT_EQ(crawl(run.written), site.strips("/img/comics/"));
}

TEST_F(GeneratorDialogue, FurtherNextLinkMatchedAsFrontPage) {
    Site site;
    fixtures::manyImagesComic(site, "/m/coming-soon.html?from=5");
    const std::string h = site.host();
    search.answer("Many Images", {h + "/"});

    Outcome run = converse({"Many Images", "1", "y", "y", ""});
    ASSERT_EQ(run.written, "plugins/many_images.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_TRUE(run.said("No it's not. Damnit."));
    EXPECT_TRUE(run.said("Does this URL look unique: " + h + "/m/coming-soon.html?from=5 [y/n]"));
    EXPECT_TRUE(run.said("Setting up empty frontpage with valid match"));
    std::string text = testsupport::readFile(run.written);
    // Built from the resolved address, so it matches what the crawler holds.
    EXPECT_NE(text.find("\nfrontpage_match=" +
                        wendle::frontPageMatch(h + "/m/coming-soon.html?from=5") + "\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("\nfrontpage="), std::string::npos);
    EXPECT_EQ(crawl(run.written), site.strips("/img/comics/"));
}

TEST_F(GeneratorDialogue, EarlyEndsWriteNoFile) {
    Site many, cont, arrows;
    fixtures::manyImagesComic(many, "/m/coming-soon.html");
    fixtures::continueComic(cont);
    fixtures::arrowComic(arrows);
    search.answer("Many Images", {many.host() + "/"});
    search.answer("Continue Comic", {cont.host() + "/"});
    search.answer("Arrow Comic", {arrows.host() + "/"});

    // A further next link that does not look unique.
    Outcome unsure = converse({"Many Images", "1", "y", "n", ""});
    EXPECT_EQ(unsure.written, "");
    EXPECT_TRUE(unsure.allAnswersUsed) << unsure.log;
    EXPECT_TRUE(unsure.said("Cannot handle this case. Aborting."));
    EXPECT_TRUE(unsure.said("Please press return to continue."));

    // A typed label that is not on the page, and none at all.
    for (const std::string label : {"arrow_up", ""}) {
        Outcome unknown = converse({"Continue Comic", "1", "y", "1", label, ""});
        EXPECT_EQ(unknown.written, "");
        EXPECT_TRUE(unknown.allAnswersUsed) << unknown.log;
        EXPECT_TRUE(unknown.said("An error has occured: Adaptive selector not adapted yet!"))
            << unknown.log;
    }

    // A typed label whose link fails the checks, refused knowing what failed.
    Outcome refused = converse({"Continue Comic", "1", "y", "1", "Back", "n", ""});
    EXPECT_EQ(refused.written, "");
    EXPECT_TRUE(refused.allAnswersUsed) << refused.log;
    EXPECT_TRUE(refused.log.find("| The link found with \"Back\" fails the checks: ") !=
                std::string::npos)
        << refused.log;
    EXPECT_TRUE(refused.said("Write the plugin anyway? [y/n]"));
    EXPECT_TRUE(refused.said("Cannot handle this case. Aborting."));

    // A menu answer that is not a number.
    Outcome word = converse({"Arrow Comic", "first", ""});
    EXPECT_EQ(word.written, "");
    EXPECT_TRUE(word.said("An error has occured: Not a number: \"first\""));
    EXPECT_TRUE(word.said("Please press return to continue."));
    EXPECT_TRUE(noPlugins());

    // Accepted knowing what failed: written.
    Outcome accepted =
        converse({"Continue Comic", "1", "y", "1", "Back", "y", "@<h1>(.*)</h1>", ""});
    EXPECT_EQ(accepted.written, "plugins/continue_comic.re") << accepted.log;
}

TEST_F(GeneratorDialogue, EndOfInputEndsEveryQuestion) {
    Site site;
    fixtures::plainComic(site, "My Comic");
    search.answer("My Comic", {site.host() + "/"});
    // Cut the answers short at every question of a whole run.
    const std::vector<std::string> full = {"My Comic", "1", "y"};
    for (std::size_t given = 0; given <= full.size(); ++given) {
        std::vector<std::string> answers(full.begin(), full.begin() + given);
        Outcome run = converse(answers);
        EXPECT_EQ(run.written, given == full.size() ? "plugins/my_comic.re" : "") << given;
        if (given < full.size()) {
            EXPECT_TRUE(run.said("An error has occured: End of input reached, no more answers"))
                << given;
            EXPECT_EQ(run.count("Unrecognized input. Please retry."), 0);
        }
        EXPECT_NE(run.log.find("Please press return to continue."), std::string::npos);
    }
}

// The proof by crawling on its own: a plugin that jumps from the first page to
// the newest strip fails even without previous links to check against; the
// right one passes within the fetch budget, over one connection.
TEST(Verification, AJumpToTheNewestStripFails) {
    Site site;
    site.serve("/c/", [](int n) {
        std::string text = "<html><body><img src=\"/s/" + fixtures::num(n) + ".png\">";
        if (n < Site::newest)
            text += "<a href=\"/c/" + fixtures::num(n + 1) + ".html\">Onward</a> <a href=\"/c/" +
                    fixtures::num(Site::newest) + ".html\">Newest</a>";
        return text + "</body></html>";
    });
    const std::string h = site.host();
    wendle::SitePages pages;
    wendle::Expectations expect{h + "/c/4.html", h + "/s/5.png", {}};
    wendle::PluginDraft draft{"C", h + "/c/1.html", "", "@<title>([^<]*)", "@src=\"([^\"]*)\"", "",
                              ""};
    draft.next = "@href=\"([^\"]*)\">Newest<";
    EXPECT_EQ(wendle::verifyDraft(draft, expect, pages),
              "next from page 1 went to " + h + "/c/5.html, past the second-to-last page " + h +
                  "/c/4.html");
    draft.next = "@href=\"([^\"]*)\">Onward<";
    EXPECT_EQ(wendle::verifyDraft(draft, expect, pages), "");
    EXPECT_LE(pages.trialFetches(), wendle::SitePages::trialBudget);
    EXPECT_EQ(site.server.connections(), 1);
}

// The demo comic as the README shows it: the front page typed, the previous
// page confirmed; the plugin written, and the one shipped, follow all strips.
TEST_F(GeneratorDialogue, DemoComic) {
    if (!testsupport::haveProgram("python3")) GTEST_SKIP() << "no python3";
    const std::string port = std::to_string(testsupport::freePort());
    testsupport::Process demo(
        {"python3", TOVIK_SOURCE_DIR "/demo/server.py", "--port", port, "--strips", "12"});
    ASSERT_TRUE(testsupport::waitForListener(static_cast<std::uint16_t>(std::stoi(port))));
    const std::string h = "127.0.0.1:" + port;
    std::vector<std::string> strips;
    for (int n = 1; n <= 12; ++n) strips.push_back(h + "/strips/" + std::to_string(n) + ".png");

    Outcome run = converse({"Demo Comic", "0", h + "/", "y", ""});
    ASSERT_EQ(run.written, "plugins/demo_comic.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_EQ(crawl(run.written), strips);
    EXPECT_EQ(titles(run.written).front(), "Demo strip 1");

    std::string shipped = testsupport::readFile(TOVIK_SOURCE_DIR "/demo/plugins/demo.re");
    for (std::size_t at = 0; (at = shipped.find("8765", at)) != std::string::npos;)
        shipped.replace(at, 4, port);
    testsupport::writeFile("plugins/demo.re", shipped);
    EXPECT_EQ(crawl("plugins/demo.re"), strips);
}

TEST_F(GeneratorDialogue, NameIsKeptInsideThePluginDirectory) {
    Site site;
    fixtures::plainComic(site, "../My Comic");
    search.answer("../My Comic", {site.host() + "/"});
    Outcome run = converse({"../My Comic", "1", "y", ""});
    ASSERT_EQ(run.written, "plugins/__my_comic.re") << run.log;
    EXPECT_EQ(testsupport::readFile(run.written).substr(0, 18), "name=../My Comic\ns");
    EXPECT_FALSE(fs::exists("my_comic.re"));
}

}  // namespace
