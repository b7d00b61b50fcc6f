// A plugin comic on a TLS site: the crawler keeps "https://" in its addresses, referrers
// and stored image references.
#include <gtest/gtest.h>

#include <filesystem>

#include "comic_site.hpp"
#include "comics/next_link_crawler.hpp"
#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "support/temp_dir.hpp"
#include "support/tls_server.hpp"

TEST(HttpsCrawl, PluginWithHttpsStartCrawlsTheWholeComic) {
    if (!testsupport::haveProgram("openssl")) GTEST_SKIP() << "no openssl command";
    testsupport::TempDir certificateDir;
    testsupport::TestCertificates certificates(certificateDir.path().string());
    downloader::setExtraCaFile(certificates.caFile);

    testsupport::ComicSite site(4);
    for (int n = 1; n <= 4; ++n)
        site.server.route(testsupport::ComicSite::stripPath(n), "strip " + std::to_string(n),
                          "image/png");
    testsupport::TlsFront tls(site.server, certificates.good);
    std::string plugin = site.plugin();
    plugin.replace(plugin.find(site.pageUrl(1)), site.pageUrl(1).size(),
                   tls.url(testsupport::ComicSite::pagePath(1)));

    testsupport::TempDir work(true);
    std::filesystem::create_directories("plugins");
    testsupport::writeFile("plugins/fixture.re", plugin);
    comics::FileStorage storage;
    auto comic = comics::makePlugin(storage, "plugins/fixture.re", "");
    comic->update([] {}, [] {});

    auto pages = comic->pagesCopy();
    ASSERT_EQ(pages.size(), 4u);
    for (int n = 1; n <= 4; ++n) {
        std::string page = tls.url(testsupport::ComicSite::pagePath(n));
        std::string strip = tls.url(testsupport::ComicSite::stripPath(n));
        EXPECT_EQ(pages[n - 1].image(), "REFER=" + page + " " + strip);
        EXPECT_EQ(pages[n - 1].title(), "Strip " + std::to_string(n));
    }
    EXPECT_EQ(comics::decodeCrawlState(comic->stateCopy().custom).nextURL,
              tls.url(testsupport::ComicSite::pagePath(4)));

    // The reader fetches a stored reference through the cache, referrer included.
    site.server.clearRecords();
    EXPECT_EQ(downloader::download(std::string(pages[2].image()), {}, true), "strip 3");
    ASSERT_EQ(site.server.requestCount(), 1u);
    EXPECT_NE(site.server.requests()[0].find(
                  "\r\nReferer: " + tls.url(testsupport::ComicSite::pagePath(3)) + "\r\n"),
              std::string::npos);
    EXPECT_TRUE(downloader::isCached(std::string(pages[2].image())));

    downloader::dropIdleConnections();
    downloader::setExtraCaFile("");
}
