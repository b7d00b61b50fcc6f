// The generator against a search engine and a comic that both speak only TLS: the plugin
// it writes keeps "https://", and the reader's crawler follows it.
#include <gtest/gtest.h>

#include <sstream>

#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "fixture_sites.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/tls_server.hpp"
#include "wendle/dialogue.hpp"

TEST(HttpsDialogue, SearchAndComicOverTls) {
    if (!testsupport::haveProgram("openssl")) GTEST_SKIP() << "no openssl command";
    testsupport::TempDir certificateDir;
    testsupport::TestCertificates certificates(certificateDir.path().string());
    downloader::setExtraCaFile(certificates.caFile);

    fixtures::Site site;
    fixtures::plainComic(site, "My Comic");
    testsupport::TlsFront siteTls(site.server, certificates.good);
    const std::string h = siteTls.url("");

    testsupport::HttpServer search;
    testsupport::TlsFront searchTls(search, certificates.good);
    search.route("/search?q=" + wendle::searchQuery("My Comic"),
                 "<html><body><a href=\"" + searchTls.url("/about") + "\">About</a>\n" +
                     "<li><a class=\"title\" href=\"" + h + "/\">front</a></li>\n" +
                     "<li><a class=\"title\" href=\"" + h + "/comic/3.html\">3</a></li>\n" +
                     "</body></html>\n");

    testsupport::TempDir work(true);
    std::istringstream in("My Comic\n1\ny\n1\n\n");
    testsupport::LogCapture log;
    std::string written;
    {
        wendle::Dialogue dialogue(in, {searchTls.url("/search"), "plugins"});
        written = dialogue.run();
    }
    ASSERT_EQ(written, "plugins/my_comic.re") << log.text();
    EXPECT_NE(log.text().find("1) " + h + "/\n"), std::string::npos) << log.text();
    std::string plugin = testsupport::readFile(written);
    EXPECT_NE(plugin.find("\nstart=" + h + "/comic/1.html\n"), std::string::npos) << plugin;

    comics::FileStorage storage;
    auto comic = comics::makePlugin(storage, written, "");
    comic->update({}, {});
    auto pages = comic->pagesCopy();
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_EQ(pages[0].image(), "REFER=" + h + "/comic/1.html " + h + "/strips/1.png");
    EXPECT_EQ(pages[4].image(), "REFER=" + h + "/comic/5.html " + h + "/strips/5.png");

    downloader::dropIdleConnections();
    downloader::setExtraCaFile("");
}
