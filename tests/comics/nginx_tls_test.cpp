// nginx with TLS on loopback serving a comic as static files: a plugin with an "https://"
// start crawls all of it through the reader's crawler over one kept-alive connection.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "comic_site.hpp"
#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/tls_server.hpp"

namespace {

using testsupport::ComicSite;
using testsupport::readFile;
using testsupport::writeFile;

using testsupport::freePort;
using testsupport::Process;
using testsupport::waitForListener;

}  // namespace

TEST(NginxTls, PluginWithHttpsStartCrawlsTheComic) {
    const std::string nginx = "/usr/sbin/nginx";
    if (access(nginx.c_str(), X_OK) != 0) GTEST_SKIP() << "nginx not installed";
    if (!testsupport::haveProgram("openssl")) GTEST_SKIP() << "no openssl command";
    testsupport::TempDir dir;
    const std::string d = dir.path().string();
    testsupport::TestCertificates certificates(d);
    const int pages = 6;
    std::filesystem::create_directories(dir.path() / "www" / "comic");
    std::filesystem::create_directories(dir.path() / "www" / "strips");
    std::filesystem::create_directories(dir.path() / "tmp");
    for (int n = 1; n <= pages; ++n) {
        writeFile(d + "/www" + ComicSite::pagePath(n),
                  ComicSite::pageText(n, n < pages ? std::to_string(n + 1) + ".html" : ""));
        writeFile(d + "/www" + ComicSite::stripPath(n), "strip " + std::to_string(n));
    }
    const std::uint16_t port = freePort();
    writeFile(d + "/nginx.conf",
              "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + d +
                  "/nginx.pid;\nerror_log " + d +
                  "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
                  "  log_format conn '$connection $connection_requests $request_uri $status';\n"
                  "  access_log " +
                  d + "/access.log conn;\n  client_body_temp_path " + d +
                  "/tmp;\n  types { text/html html; image/png png; }\n  keepalive_timeout 60;\n"
                  "  server {\n    listen 127.0.0.1:" +
                  std::to_string(port) + " ssl;\n    ssl_certificate " +
                  certificates.good.certificate + ";\n    ssl_certificate_key " +
                  certificates.good.key + ";\n    root " + d + "/www;\n  }\n}\n");
    Process server({nginx, "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"});
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(waitForListener(port)) << readFile(d + "/error.log");

    downloader::dropIdleConnections();
    downloader::setExtraCaFile(certificates.caFile);
    const std::string base = "https://localhost:" + std::to_string(port);
    testsupport::TempDir work(true);
    std::filesystem::create_directories("plugins");
    writeFile("plugins/fixture.re", "name=Fixture\nstart=" + base + ComicSite::pagePath(1) +
                                        "\nnext=@<a href=\"([^\"]*)\" rel=\"next\">@$1\n"
                                        "images=@<img src=\"([^\"]*)\" class=\"strip\">@$1\n"
                                        "title=@<h1 class=\"title\">([^<]*)</h1>@$1\n");
    comics::FileStorage storage;
    auto comic = comics::makePlugin(storage, "plugins/fixture.re", "");
    comic->update([] {}, [] {});

    auto found = comic->pagesCopy();
    ASSERT_EQ(found.size(), static_cast<std::size_t>(pages)) << readFile(d + "/error.log");
    for (int n = 1; n <= pages; ++n)
        EXPECT_EQ(found[n - 1].image(),
                  "REFER=" + base + ComicSite::pagePath(n) + " " + base + ComicSite::stripPath(n));
    EXPECT_EQ(downloader::download(std::string(found[pages - 1].image())),
              "strip " + std::to_string(pages));

    // Every page and the strip on one TLS connection (nginx logs after answering).
    std::string lines;
    for (int i = 0; i < 200; ++i) {
        lines = readFile(d + "/access.log");
        if (std::count(lines.begin(), lines.end(), '\n') >= pages + 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::istringstream log(lines);
    std::set<std::string> connections;
    int requests = 0;
    for (std::string connection, count, uri, status; log >> connection >> count >> uri >> status;) {
        connections.insert(connection);
        ++requests;
        EXPECT_EQ(status, "200") << uri;
    }
    EXPECT_EQ(requests, pages + 1);
    EXPECT_EQ(connections.size(), 1u);

    downloader::dropIdleConnections();
    downloader::setExtraCaFile("");
}
