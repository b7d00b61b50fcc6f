#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "downloader/downloader.hpp"
#include "downloader/follow_link.hpp"
#include "log_counter.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/tls_server.hpp"

using namespace downloader;
using testsupport::HttpServer;
using testsupport::TestCertificates;
using testsupport::TlsFront;
using Reply = testsupport::HttpServer::Reply;

namespace {

const std::string agent = "User-Agent: Mozilla/5.0 (TOVIK.2; tovik.example.org)\r\n";

using testsupport::errorOf;

class Https : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::haveProgram("openssl")) return;
        directory = new testsupport::TempDir;
        certificates = new TestCertificates(directory->path().string());
    }
    static void TearDownTestSuite() {
        delete certificates;
        delete directory;
        certificates = nullptr;
        directory = nullptr;
    }
    void SetUp() override {
        if (!certificates) GTEST_SKIP() << "no openssl command";
        dropIdleConnections();
        Limits fast;
        fast.receiveTimeout = std::chrono::milliseconds(5000);
        fast.connectRetryWait = std::chrono::milliseconds(10);
        client = HttpClient(fast);
        setExtraCaFile(certificates->caFile);
    }
    void TearDown() override {
        dropIdleConnections();
        setExtraCaFile("");
    }
    // A TLS front with the given certificate before `server`.
    TlsFront& front(const TestCertificates::Pair& pair, bool stall = false) {
        fronts.push_back(std::make_unique<TlsFront>(server, pair, stall));
        return *fronts.back();
    }

    static testsupport::TempDir* directory;
    static TestCertificates* certificates;
    HttpClient client;
    HttpServer server;
    std::vector<std::unique_ptr<TlsFront>> fronts;
};

testsupport::TempDir* Https::directory = nullptr;
TestCertificates* Https::certificates = nullptr;

}  // namespace

TEST_F(Https, RequestBytesInsideTlsAreThoseOfPlainHttp) {
    TlsFront& tls = front(certificates->good);
    server.route("/a%20b.html", "spaced");
    server.route("/form", "posted");
    EXPECT_EQ(client.fetchUrl(tls.url("/a b.html")), "spaced");
    EXPECT_EQ(client.fetchUrl("POST=a=1&b=2 REFER=https://ref/index.html 1.0 " + tls.url("/form")),
              "posted");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "GET /a%20b.html HTTP/1.1\r\nConnection: keep-alive\r\n" + agent +
                               "Accept: */*\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(requests[1],
              "POST /form HTTP/1.0\r\nConnection: keep-alive\r\n" + agent +
                  "Accept: */*\r\nHost: localhost\r\n"
                  "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 7\r\n"
                  "Referer: https://ref/index.html\r\n\r\na=1&b=2");
}

TEST_F(Https, KeepAliveReusesOneConnectionAndHandshake) {
    TlsFront& tls = front(certificates->good);
    server.handle("/p", [](const std::string&) {
        return Reply("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    });
    std::size_t before = tlsHandshakeCount();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(client.fetchUrl(tls.url("/p")), "hello");
    EXPECT_EQ(tlsHandshakeCount() - before, 1u);
    EXPECT_EQ(tls.handshakes(), 1);
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(idleConnectionCount(), 1u);

    // The same host and port over plain HTTP is another pool entry.
    server.route("/plain", "plain");
    EXPECT_EQ(client.fetchUrl(server.url("/plain")), "plain");
    EXPECT_EQ(idleConnectionCount(), 2u);
    EXPECT_EQ(client.fetchUrl(tls.url("/p", "127.0.0.1")),
              "hello");  // an address in the certificate
}

TEST_F(Https, ChunkedAndLargeBodies) {
    TlsFront& tls = front(certificates->good);
    std::string big;
    for (int i = 0; i < 100000; ++i) big += static_cast<char>('a' + i % 26);
    server.routeChunked("/chunked", big, 3000);
    server.route("/big", big);
    server.route("/closed", "until close", "text/plain", 200, {{"Connection", "close"}});
    float last = 0;
    EXPECT_EQ(client.download(tls.url("/chunked")), big);
    EXPECT_EQ(client.download(tls.url("/big"), [&](float f) { last = f; }), big);
    EXPECT_FLOAT_EQ(last, 1.0f);
    EXPECT_EQ(client.fetchUrl(tls.url("/closed")), "until close");
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(idleConnectionCount(), 0u);
}

TEST_F(Https, RedirectsBetweenPlainAndTls) {
    TlsFront& tls = front(certificates->good);
    server.redirect("/old", tls.url("/new.html"));
    server.route("/new.html", "secure page");
    server.redirect("/moved", "/new.html");
    server.redirect("/down", "http://" + server.url("/plain.html"));
    server.route("/plain.html", "plain page");

    EXPECT_EQ(client.download(server.url("/old")), "secure page");
    std::string target;
    EXPECT_EQ(client.fetchUrl(tls.url("/moved"), &target), "");
    EXPECT_EQ(target, tls.url("/new.html"));  // a host-absolute Location stays on TLS
    EXPECT_EQ(client.download(tls.url("/moved")), "secure page");
    EXPECT_EQ(client.download(tls.url("/down")), "plain page");
}

TEST_F(Https, LinksOnTlsPagesStayTls) {
    TlsFront& tls = front(certificates->good);
    server.route("/comic/2.html", "two");
    server.route("/archive.html", "archive");
    std::string page = tls.url("/comic/1.html");
    EXPECT_EQ(client.download(followLink(page, "2.html")), "two");
    EXPECT_EQ(client.download(followLink(page, "/archive.html")), "archive");
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(Https, BadCertificatesFailWithoutFetching) {
    struct Case {
        const TestCertificates::Pair* pair;
        std::string reason;
    };
    for (const Case& c :
         {Case{&certificates->otherName, "hostname mismatch"},
          Case{&certificates->expired, "certificate has expired"},
          Case{&certificates->unknownCa, "unable to get local issuer certificate"}}) {
        SCOPED_TRACE(c.reason);
        TlsFront& tls = front(*c.pair);
        LogCounter log;
        EXPECT_EQ(errorOf([&] { client.fetchUrl(tls.url("/a.html")); }),
                  "TLS handshake with localhost failed: " + c.reason);
        EXPECT_EQ(client.download(tls.url("/a.html")), "");
        EXPECT_EQ(log.count("Downloading " + tls.url("/a.html") +
                            " failed: TLS handshake with localhost failed: " + c.reason),
                  1);
        EXPECT_EQ(log.count("Socket exception"), 0);  // not retried
        EXPECT_EQ(tls.handshakes(), 0);
    }
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(idleConnectionCount(), 0u);
}

TEST_F(Https, ExtraCaIsNeededAndCanComeFromTheEnvironment) {
    TlsFront& tls = front(certificates->good);
    server.route("/a.html", "a");
    setExtraCaFile("");
    ::unsetenv("TOVIK_EXTRA_CA");
    EXPECT_EQ(errorOf([&] { client.fetchUrl(tls.url("/a.html")); }),
              "TLS handshake with localhost failed: unable to get local issuer certificate");
    ::setenv("TOVIK_EXTRA_CA", certificates->caFile.c_str(), 1);
    EXPECT_EQ(client.fetchUrl(tls.url("/a.html")), "a");
    ::unsetenv("TOVIK_EXTRA_CA");
    dropIdleConnections();
    setExtraCaFile(directory->file("missing.pem"));
    EXPECT_NE(errorOf([&] { client.fetchUrl(tls.url("/a.html")); }).find("Cannot read CA file '"),
              std::string::npos);
}

TEST_F(Https, HandshakeStallCostsAnAttempt) {
    TlsFront& tls = front(certificates->good, true);
    Limits l = client.limits();
    l.connectTimeout = std::chrono::milliseconds(200);
    client = HttpClient(l);
    LogCounter log;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf([&] { client.fetchUrl(tls.url("/a.html")); }), "Can't download page.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_EQ(log.count("TLS handshake with localhost timed out"), 3);
    EXPECT_EQ(server.requestCount(), 0u);
}
