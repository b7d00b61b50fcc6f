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
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using fixtures::Search;
using fixtures::Site;

const std::string genericImages = "@(img|IMG)[^>]*(src|SRC)=[\"']([^\"']*)[\"']@$3";

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
            images.push_back(page.image.substr(page.image.rfind(' ') + 1));
        return images;
    }

    static bool noPlugins() { return !fs::exists("plugins") || fs::is_empty("plugins"); }
};

TEST_F(GeneratorDialogue, PlainSequenceComic) {
    Site site;
    fixtures::plainComic(site, "My Comic");
    const std::string h = site.host();
    search.answer("My Comic", {h + "/", h + "/comic/3.html"});

    Outcome run = converse({"", "..", "My Comic", "1", "y", "1", ""});
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
    EXPECT_FALSE(run.said("3) https://elsewhere"));
    EXPECT_TRUE(run.said("Detected previous URL: " + h + "/comic/4.html"));
    EXPECT_TRUE(run.said("Is this correct? [y/n]"));
    EXPECT_TRUE(run.log.find("Good. Cannot find next link on the apparent frontpage - ") !=
                std::string::npos);
    EXPECT_TRUE(run.said("1) /strips/5.png"));
    EXPECT_TRUE(run.said("Title found"));
    EXPECT_TRUE(run.said("First URL found at " + h + "/comic/1.html"));
    EXPECT_TRUE(run.said("Written to plugins/my_comic.re. Exiting."));
    EXPECT_TRUE(run.said("Please press return to continue."));

    EXPECT_EQ(testsupport::readFile(run.written),
              "name=My Comic\n"
              "start=" +
                  h +
                  "/comic/1.html\n"
                  "next=@href=\"([^\"]*)\"[^>]*>*[^>]*Next\n"
                  "title=@My Comic - ([^<]*)<\n"
                  "images=" +
                  genericImages + "\n");
    EXPECT_EQ(crawl(run.written), site.strips("/strips/"));
}

TEST_F(GeneratorDialogue, FrontPageComicDetectedByEquality) {
    Site site;
    fixtures::frontPageComic(site, "/");
    const std::string h = site.host();
    search.answer("Front Comic", {h + "/"});

    // The title needs help; an expression that does not compile is asked again.
    Outcome run = converse({"Front Comic", "1", "y", "1", "@(", "@<h1>([^<]*)</h1>", ""});
    ASSERT_EQ(run.written, "plugins/front_comic.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_TRUE(run.said("This is a frontpage comic. Applying extra care."));
    EXPECT_TRUE(run.said("Please provide a regular expression to determine the page title"));
    EXPECT_TRUE(run.log.find("This expression cannot be used (") != std::string::npos);
    std::string escapedHost = h;
    for (std::size_t at = 0; (at = escapedHost.find('.', at)) != std::string::npos; at += 2)
        escapedHost.insert(at, "\\");
    EXPECT_EQ(testsupport::readFile(run.written),
              "name=Front Comic\n"
              "start=" +
                  h +
                  "/strip/1.html\n"
                  "next=@Next[^Hh]*href=\"([^\"]*)\"\n"
                  "title=@<h1>([^<]*)</h1>\n"
                  "images=" +
                  genericImages +
                  "\n"
                  "frontpage_match=@^" +
                  escapedHost +
                  "/(index.html)?$\n"
                  "frontpage=" +
                  h + "/\n");
    EXPECT_EQ(crawl(run.written), site.strips("/strips/"));
}

TEST_F(GeneratorDialogue, FrontPageComicAtIndexHtml) {
    Site site;
    fixtures::frontPageComic(site, "/index.html");
    const std::string h = site.host();
    search.answer("Front Comic", {h + "/index.html"});

    Outcome run = converse({"Front Comic", "1", "y", "1", "@<h1>([^<]*)</h1>", ""});
    ASSERT_EQ(run.written, "plugins/front_comic.re") << run.log;
    std::string text = testsupport::readFile(run.written);
    EXPECT_NE(text.find("\nfrontpage_match=@index.html\nfrontpage=" + h + "/index.html\n"),
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

TEST_F(GeneratorDialogue, SeveralImagesNeedPathSelection) {
    Site site;
    fixtures::manyImagesComic(site);
    const std::string h = site.host();

    // No search results: the front page is typed. The reverse selector finds the
    // feed link first, which is refused ("yes" is no answer); the strip is picked
    // after an index out of range; the first page is typed.
    Outcome run = converse({"Many Images", "0", "http://" + h + "/", "yes", "n", "Y", "7", "3",
                            "http://" + h + "/m/1.html", ""});
    ASSERT_EQ(run.written, "plugins/many_images.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_TRUE(run.said("Please input the correct frontpage"));
    EXPECT_TRUE(run.said("Detected previous URL: " + h + "/feed.xml"));
    EXPECT_EQ(run.count("Unrecognized input. Please retry."), 1);
    EXPECT_TRUE(run.said("Detected previous URL: " + h + "/m/4.html"));
    EXPECT_TRUE(run.said("Invalid index! Please retry."));
    EXPECT_TRUE(run.said("1) /img/logo.png"));
    EXPECT_TRUE(run.said("3) /img/comics/5.png"));
    EXPECT_FALSE(run.said("4) /img/logo.png"));
    EXPECT_TRUE(run.said("Attempting path selection with /img/ .. "));
    EXPECT_TRUE(run.said("First try failed. Retrying with broader path: /img/comics/"));
    EXPECT_TRUE(run.said("Success! Adapting ..."));
    EXPECT_TRUE(run.said("tag is IMG, attribute SRC, quote character '"));
    EXPECT_TRUE(run.said("Please enter the first URL of the webcomic."));

    EXPECT_EQ(testsupport::readFile(run.written),
              "name=Many Images\n"
              "start=" +
                  h +
                  "/m/1.html\n"
                  "next=@href=\"([^\"]*)\"[^>]*>*[^>]*Next\n"
                  "title=@Permanent Link( to |: )([^\"]*)\"@$2\n"
                  "images=@IMG[^>]*SRC='([^']*/img/comics/[^']*)'\n");
    EXPECT_EQ(crawl(run.written), site.strips("/img/comics/"));
}

TEST_F(GeneratorDialogue, TypedLabelAndManualImageExpression) {
    Site site;
    fixtures::arrowComic(site);
    const std::string h = site.host();
    search.answer("Arrow Comic", {h + "/"});

    Outcome run =
        converse({"Arrow Comic", "1", h + "/q/4.html", "arrow_right", "y", "0", "@(", "@nothing",
                  "@src=\"(/art/[^\"]*)\"", "@<h1>([^<]*)</h1>", h + "/q/1.html", ""});
    ASSERT_EQ(run.written, "plugins/arrow_comic.re") << run.log;
    EXPECT_TRUE(run.allAnswersUsed);
    EXPECT_TRUE(run.log.find("| Failed! Could not select using reverse string - no matches. "
                             "Trying to continue ... \n") != std::string::npos);
    EXPECT_TRUE(run.said("Please provide the URL of the second-to-last page."));
    EXPECT_TRUE(run.said("Could not discover a way to get the Next link from " + h +
                         "/q/4.html. Maybe if you help me .. "));
    EXPECT_TRUE(run.said("Thanks, that did it!"));
    EXPECT_TRUE(
        run.said("Since the normal front-page detection failed, you have to help me with this."));
    EXPECT_TRUE(run.said("Is this URL (" + h +
                         "/q/5.html) part of the normal sequence of pages? "
                         "[y/n]"));
    EXPECT_TRUE(run.said("Good. Continuing."));
    EXPECT_EQ(run.count("Cannot find comic image. Please enter a regular expression manually."), 3);

    EXPECT_EQ(testsupport::readFile(run.written),
              "name=Arrow Comic\n"
              "start=" +
                  h +
                  "/q/1.html\n"
                  "next=@href=\"([^\"]*)\"[^>]*>*[^>]*arrow_right\n"
                  "title=@<h1>([^<]*)</h1>\n"
                  "images=@src=\"(/art/[^\"]*)\"\n");
    EXPECT_EQ(crawl(run.written), site.strips("/art/"));
}

TEST_F(GeneratorDialogue, NewestPageLinkingToItself) {
    Site site;
    fixtures::manyImagesComic(site, "/m/5.html");
    const std::string h = site.host();
    search.answer("Many Images", {h + "/"});

    // The reverse selector offers the newest page's own next link as previous.
    Outcome run = converse({"Many Images", "1", "n", "y", "3", h + "/m/1.html", ""});
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

    Outcome run = converse({"Many Images", "1", "n", "y", "y", "3", h + "/m/1.html", ""});
    ASSERT_EQ(run.written, "plugins/many_images.re") << run.log;
    EXPECT_TRUE(run.said("No it's not. Damnit."));
    EXPECT_TRUE(run.said("Does this URL look unique: " + h + "/m/coming-soon.html?from=5 [y/n]"));
    EXPECT_TRUE(run.said("Setting up empty frontpage with valid match"));
    std::string text = testsupport::readFile(run.written);
    EXPECT_NE(text.find("\nfrontpage_match=@/m/coming-soon\\.html\\?from=5$\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("\nfrontpage="), std::string::npos);
    EXPECT_EQ(crawl(run.written), site.strips("/img/comics/"));
}

TEST_F(GeneratorDialogue, EarlyEndsWriteNoFile) {
    Site many, arrows;
    fixtures::manyImagesComic(many, "/m/coming-soon.html");
    fixtures::arrowComic(arrows);
    const std::string h = arrows.host();
    search.answer("Many Images", {many.host() + "/"});
    search.answer("Arrow Comic", {h + "/q/5.html"});

    // A further next link that does not look unique.
    Outcome unsure = converse({"Many Images", "1", "n", "y", "n", ""});
    EXPECT_EQ(unsure.written, "");
    EXPECT_TRUE(unsure.allAnswersUsed) << unsure.log;
    EXPECT_TRUE(unsure.said("Cannot handle this case. Aborting."));
    EXPECT_TRUE(unsure.said("Please press return to continue."));

    // A typed label that is not on the page.
    Outcome unknown = converse({"Arrow Comic", "1", h + "/q/4.html", "arrow_up", ""});
    EXPECT_EQ(unknown.written, "");
    EXPECT_TRUE(unknown.allAnswersUsed);
    EXPECT_TRUE(unknown.said("An error has occured: Adaptive selector not adapted yet!"));

    // No label at all.
    Outcome none = converse({"Arrow Comic", "1", h + "/q/4.html", "", ""});
    EXPECT_EQ(none.written, "");
    EXPECT_TRUE(none.said("An error has occured: Adaptive selector not adapted yet!"));

    // A menu answer that is not a number.
    Outcome word = converse({"Arrow Comic", "first", ""});
    EXPECT_EQ(word.written, "");
    EXPECT_TRUE(word.said("An error has occured: Not a number: \"first\""));
    EXPECT_TRUE(word.said("Please press return to continue."));
    EXPECT_TRUE(noPlugins());
}

TEST_F(GeneratorDialogue, EndOfInputEndsEveryQuestion) {
    Site site;
    fixtures::plainComic(site, "My Comic");
    search.answer("My Comic", {site.host() + "/"});
    // Cut the answers short at every question of a whole run.
    const std::vector<std::string> full = {"My Comic", "1", "y", "1"};
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

TEST_F(GeneratorDialogue, NameIsKeptInsideThePluginDirectory) {
    Site site;
    fixtures::plainComic(site, "../My Comic");
    search.answer("../My Comic", {site.host() + "/"});
    Outcome run = converse({"../My Comic", "1", "y", "1", ""});
    ASSERT_EQ(run.written, "plugins/__my_comic.re") << run.log;
    EXPECT_EQ(testsupport::readFile(run.written).substr(0, 18), "name=../My Comic\ns");
    EXPECT_FALSE(fs::exists("my_comic.re"));
}

}  // namespace
