// The generator against loopback sites shaped like today's comic sites: the
// dialogue answered as a user who knows the site, the plugin it writes crawled
// by the reader's own plugin code, then the site grows by three strips and one
// more update must append exactly those.
#include <gtest/gtest.h>

#include <sstream>

#include "comic_shapes.hpp"
#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "fixture_sites.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "wendle/dialogue.hpp"

namespace {

std::vector<std::string> stripsOf(const comics::Comic& comic) {
    std::vector<std::string> images;
    for (const auto& page : comic.pagesCopy())
        images.emplace_back(page.image().substr(page.image().rfind(' ') + 1));
    return images;
}

class CommonSites : public testing::TestWithParam<shapes::Shape> {};

TEST_P(CommonSites, PluginFollowsTheComicAndItsGrowth) {
    const shapes::Shape& shape = GetParam();
    testsupport::TempDir dir{true};
    fixtures::Search search;
    shapes::ShapeSite site(shape, 8);
    search.answer(shape.name, {site.hosts().site + shape.searchResult});

    std::vector<std::string> answers{shape.name, "1"};
    for (const std::string& answer : shape.answers(site.hosts())) answers.push_back(answer);
    answers.push_back("");
    std::string script;
    for (const auto& answer : answers) script += answer + "\n";
    std::istringstream in(script);
    std::string written, log;
    {
        testsupport::LogCapture capture;
        wendle::Dialogue dialogue(in, {search.endpoint(), "plugins"});
        written = dialogue.run();
        log = capture.text();
    }
    ASSERT_EQ(written, "plugins/" + wendle::pluginBaseName(shape.name) + ".re") << log;
    EXPECT_EQ(in.peek(), std::char_traits<char>::eof()) << "answers left over\n" << log;
    // Polite: one connection (a redirect costs the client its connection), a
    // bounded number of pages.
    EXPECT_EQ(site.server.connections(), 1 + static_cast<int>(shape.redirects.size())) << log;
    EXPECT_LE(site.server.requestCount(), 12u) << log;
    const std::string plugin = testsupport::readFile(written);
    // Addresses that redirect are written in their final form.
    for (const auto& [from, to] : shape.redirects)
        EXPECT_EQ(plugin.find(site.hosts().site + from), std::string::npos) << plugin;
    // Only the shapes noted as needing help take more than the usual answers.
    EXPECT_EQ(shape.answers(site.hosts()).size() > 1, !shape.help.empty());

    comics::FileStorage storage;
    auto comic = comics::makePlugin(storage, written, "");
    comic->update({}, {});
    EXPECT_EQ(stripsOf(*comic), site.strips()) << plugin << log;
    auto pages = comic->pagesCopy();
    ASSERT_FALSE(pages.empty());
    EXPECT_NE(pages.front().title(), pages.back().title()) << plugin;
    for (const auto& page : pages) EXPECT_NE(page.title(), "No title found") << plugin;

    site.grow(3);
    comic->update({}, {});
    EXPECT_EQ(stripsOf(*comic), site.strips()) << plugin;
}

INSTANTIATE_TEST_SUITE_P(Shapes, CommonSites, testing::ValuesIn(shapes::allShapes()),
                         [](const auto& info) { return info.param.title; });

}  // namespace
