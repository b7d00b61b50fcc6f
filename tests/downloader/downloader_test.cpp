#include "downloader/downloader.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "downloader/download_bounds.hpp"
#include "downloader/name_resolution.hpp"
#include "log_counter.hpp"
#include "support/http_server.hpp"
#include "support/log_capture.hpp"
#include "tools/failure.hpp"

using namespace downloader;
using testsupport::HttpServer;
using Reply = testsupport::HttpServer::Reply;

namespace {

const std::string agent = "User-Agent: Mozilla/5.0 (TOVIK.2; tovik.example.org)\r\n";

using testsupport::errorOf;

class Client : public ::testing::Test {
protected:
    static Limits fastLimits() {
        Limits fast;
        fast.receiveTimeout = std::chrono::milliseconds(5000);
        fast.connectRetryWait = std::chrono::milliseconds(10);
        return fast;
    }
    void SetUp() override { dropIdleConnections(); }
    void TearDown() override { dropIdleConnections(); }
    void shortReceiveTimeout() {
        Limits l = client.limits();
        l.receiveTimeout = std::chrono::milliseconds(200);
        client = HttpClient(l);
    }
    HttpServer server;
    HttpClient client{fastLimits()};
};

}  // namespace

TEST_F(Client, RequestBytesForPlainAddresses) {
    server.route("/a%20b.html", "spaced");
    server.route("/", "root");
    EXPECT_EQ(client.fetchUrl("http://" + server.url("/a b.html")), "spaced");
    EXPECT_EQ(client.fetchUrl("127.0.0.1:" + std::to_string(server.port())), "root");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "GET /a%20b.html HTTP/1.1\r\nConnection: keep-alive\r\n" + agent +
                               "Accept: */*\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(requests[1].substr(0, 16), "GET / HTTP/1.1\r\n");
}

TEST_F(Client, RequestBytesForPostWithReferrerAndHttp10) {
    server.route("/form", "posted");
    EXPECT_EQ(
        client.fetchUrl("POST=a=1&b=2 REFER=ref/index.html 1.0 http://" + server.url("/form")),
        "posted");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0],
              "POST /form HTTP/1.0\r\nConnection: keep-alive\r\n" + agent +
                  "Accept: */*\r\nHost: 127.0.0.1\r\n"
                  "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 7\r\n"
                  "Referer: http://ref/index.html\r\n\r\na=1&b=2");
}

TEST_F(Client, PageTextCannotInjectHeaderLines) {
    server.fallback([](const std::string&) { return Reply(HttpServer::response("ok")); });
    EXPECT_EQ(client.fetchUrl("REFER=r/\r\nX-Evil:1 " + server.url("/a\r\nX-Evil: 2")), "ok");
    std::string request = server.requests().at(0);
    EXPECT_EQ(request.find("\r\nX-Evil"), std::string::npos);
    EXPECT_NE(request.find("GET /a%0D%0AX-Evil:%202 HTTP/1.1"), std::string::npos);
    EXPECT_NE(request.find("Referer: http://r/%0D%0AX-Evil:1\r\n"), std::string::npos);
}

TEST_F(Client, KeepAliveReusesOneConnection) {
    server.handle("/p", [](const std::string&) {
        return Reply("HTTP/1.1 200 OK\r\ncOnTeNt-LeNgTh: 5\r\n\r\nhello");
    });
    for (int i = 0; i < 5; ++i) EXPECT_EQ(client.fetchUrl(server.url("/p")), "hello");
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(idleConnectionCount(), 1u);
}

TEST_F(Client, ConnectionCloseHeaderIsMatchedAsWritten) {
    server.route("/close", "bye", "text/plain", 200, {{"Connection", "Close"}});
    EXPECT_EQ(client.fetchUrl(server.url("/close")), "bye");
    EXPECT_EQ(idleConnectionCount(), 0u);
    EXPECT_EQ(client.fetchUrl(server.url("/close")), "bye");
    EXPECT_EQ(server.connections(), 2);

    HttpServer other;
    other.handle("/lower", [](const std::string&) {
        return Reply("HTTP/1.1 200 OK\r\nconnection: close\r\nContent-Length: 2\r\n\r\nhi");
    });
    EXPECT_EQ(client.fetchUrl(other.url("/lower")), "hi");
    EXPECT_EQ(idleConnectionCount(), 1u);  // only "Connection: " as written counts
}

TEST_F(Client, PoolIsKeyedByHostAndPort) {
    HttpServer other;
    server.route("/x", "first");
    other.route("/x", "second");
    EXPECT_EQ(client.fetchUrl(server.url("/x")), "first");
    EXPECT_EQ(client.fetchUrl(other.url("/x")), "second");
    EXPECT_EQ(client.fetchUrl(server.url("/x")), "first");
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(other.requestCount(), 1u);
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(Client, ChunkedBodies) {
    server.handle("/whole", [](const std::string&) {
        return Reply(
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    });
    server.handle("/split", [](const std::string&) {
        Reply r;
        r.pieces = {"HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n1A;ext=1\r\nabcdefghij",
                    "klmnopqrstuvwxyz\r\n", "3\r\n!!!\r", "\n0\r\n\r\n"};
        r.gap = std::chrono::milliseconds(20);
        return r;
    });
    std::string big(300000, 'q');
    for (std::size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
    server.routeChunked("/big", big, 4096);
    EXPECT_EQ(client.fetchUrl(server.url("/whole")), "hello");
    EXPECT_EQ(client.fetchUrl(server.url("/split")), "abcdefghijklmnopqrstuvwxyz!!!");
    EXPECT_EQ(client.fetchUrl(server.url("/big")), big);
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(Client, BadChunkSize) {
    server.handle("/bad", [](const std::string&) {
        return Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1g\r\nx\r\n0\r\n\r\n");
    });
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/bad")); }),
              "Invalid character 'g' in hex string");
    LogCounter log;
    EXPECT_EQ(client.download(server.url("/bad")), "");
    EXPECT_EQ(log.count("Downloading " + server.url("/bad") +
                        " failed: Invalid character 'g' in hex string"),
              1);
    EXPECT_EQ(log.count("Download failed. This is bad."), 1);
}

TEST_F(Client, RedirectsAreFollowedWithProgressForwarded) {
    std::string body(5000, 'b');
    server.handle("/new.html", [body](const std::string&) {
        Reply r;
        std::string all = HttpServer::response(body);
        r.pieces = {all.substr(0, 2000), all.substr(2000)};
        r.gap = std::chrono::milliseconds(20);
        return r;
    });
    server.redirect("/old.html", "/new.html");
    server.redirect("/abs.html", "http://" + server.url("/old.html"));
    std::vector<float> seen;
    std::mutex seenLock;
    auto progress = [&](float f) {
        std::lock_guard<std::mutex> hold(seenLock);
        seen.push_back(f);
    };
    EXPECT_EQ(client.download(server.url("/abs.html"), progress), body);
    ASSERT_FALSE(seen.empty());
    EXPECT_FLOAT_EQ(seen.back(), 1.0f);
    EXPECT_EQ(server.paths(), (std::vector<std::string>{"/abs.html", "/old.html", "/new.html"}));

    std::string target = "unchanged";
    EXPECT_EQ(client.fetchUrl(server.url("/old.html"), &target), "");
    EXPECT_EQ(target, server.url("/new.html"));
}

TEST_F(Client, RedirectChainsAreBounded) {
    server.fallback([this](const std::string& request) {
        int n = std::stoi(request.substr(5, request.find(' ', 5) - 5));
        return Reply(HttpServer::response("", 302, "text/html",
                                          {{"Location", "/" + std::to_string(n + 1)}}));
    });
    LogCounter log;
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/0")); }), "Too many redirects");
    EXPECT_EQ(server.requestCount(), 11u);  // the first request and ten redirects
    server.clearRecords();
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/1")); }), "Too many redirects");
}

TEST_F(Client, RedirectBackToAnEarlierAddressDoesNotLoopProgress) {
    std::atomic<int> visits{0};
    server.handle("/a", [&](const std::string&) {
        if (visits++ == 0)
            return Reply(HttpServer::response("", 302, "text/html", {{"Location", "/b"}}));
        Reply r;
        std::string all = HttpServer::response(std::string(3000, 'a'));
        r.pieces = {all.substr(0, 1500), all.substr(1500)};
        r.gap = std::chrono::milliseconds(20);
        return r;
    });
    server.redirect("/b", "/a");
    std::atomic<int> calls{0};
    EXPECT_EQ(client.download(server.url("/a"), [&](float) { ++calls; }).size(), 3000u);
    EXPECT_GT(calls, 0);
}

TEST_F(Client, Utf16BodiesBecomeUtf8) {
    server.route("/le", std::string("\xFF\xFE\x41\x00", 4));
    server.route("/be", std::string("\xFE\xFF\x00\x41\x00\x42", 6));
    EXPECT_EQ(client.fetchUrl(server.url("/le")), "\xEF\xBB\xBF\x41");
    EXPECT_EQ(client.fetchUrl(server.url("/be")), "\xEF\xBB\xBF\x41\x42");
}

TEST_F(Client, BodyUntilThePeerCloses) {
    server.handle("/old", [](const std::string&) {
        Reply r("HTTP/1.0 200 OK\r\n\r\nno length here");
        r.close = true;
        return r;
    });
    LogCounter log;
    EXPECT_EQ(client.fetchUrl(server.url("/old")), "no length here");
    EXPECT_EQ(log.count("Connection closed at 14"), 1);
    EXPECT_EQ(idleConnectionCount(), 0u);
}

TEST_F(Client, ServerClosingWithoutAnswerCostsThreeAttempts) {
    server.fallback([](const std::string&) { return Reply::drop(); });
    LogCounter log;
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/x")); }), "Can't download page.");
    EXPECT_EQ(log.count("Connection closed, but no body found. Presuming invalid persistant "
                        "connection; retrying ... "),
              3);
    EXPECT_EQ(server.connections(), 3);
}

TEST_F(Client, StalePooledConnectionIsRetriedForFree) {
    // First request answered; the next three requests are dropped unanswered, the fifth works.
    std::atomic<int> count{0};
    server.fallback([&](const std::string&) {
        int n = count++;
        if (n >= 1 && n <= 3) return Reply::drop();
        return Reply(HttpServer::response("fine"));
    });
    EXPECT_EQ(client.fetchUrl(server.url("/1")), "fine");
    EXPECT_EQ(idleConnectionCount(), 1u);
    // Pooled try (free) + three attempts on new connections, the last of which succeeds.
    EXPECT_EQ(client.fetchUrl(server.url("/2")), "fine");
    EXPECT_EQ(count, 5);
}

TEST_F(Client, ConnectionClosedWhileIdleIsNotUsed) {
    server.handle("/once", [](const std::string&) {
        Reply r(HttpServer::response("x"));
        r.close = true;  // closes without saying so
        return r;
    });
    EXPECT_EQ(client.fetchUrl(server.url("/once")), "x");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    LogCounter log;
    EXPECT_EQ(client.fetchUrl(server.url("/once")), "x");
    EXPECT_EQ(log.count("no body found"), 0);
    EXPECT_EQ(server.connections(), 2);
}

TEST_F(Client, TruncatedResponsesAreFailures) {
    server.handle("/short", [](const std::string&) {
        Reply r("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten..");
        r.close = true;
        return r;
    });
    server.handle("/shortchunks", [](const std::string&) {
        Reply r("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n5\r\nde");
        r.close = true;
        return r;
    });
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/short")); }), "Can't download page.");
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/shortchunks")); }),
              "Can't download page.");
    EXPECT_EQ(server.requestCount(), 6u);
}

TEST_F(Client, ZeroContentLengthDoesNotWaitForClose) {
    server.route("/empty", "");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/empty")); }), "Can't download page.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(server.connections(), 1);  // each attempt reused the kept-alive connection
}

TEST_F(Client, SilentServerTimesOut) {
    shortReceiveTimeout();
    server.fallback([](const std::string&) { return Reply::silence(); });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/x")); }), "Can't download page.");
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(600));
    EXPECT_LT(took, std::chrono::seconds(3));
}

TEST_F(Client, HostileSizesEndWithAnError) {
    Limits l = client.limits();
    l.maxHeader = 4096;
    l.maxBody = 10000;
    l.maxChunk = 1000;
    client = HttpClient(l);
    server.handle("/overflow", [](const std::string&) {
        return Reply("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n");
    });
    server.handle("/long", [](const std::string&) {
        return Reply("HTTP/1.1 200 OK\r\nContent-Length: 10001\r\n\r\n");
    });
    server.handle("/header", [](const std::string&) {
        return Reply("HTTP/1.1 200 OK\r\nX: " + std::string(5000, 'h'));
    });
    server.handle("/endless", [](const std::string&) {
        Reply r("HTTP/1.1 200 OK\r\n\r\n" + std::string(20000, 'e'));
        r.stall = true;
        return r;
    });
    server.handle("/chunk", [](const std::string&) {
        return Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3e9\r\n");
    });
    server.handle("/chunks", [](const std::string&) {
        std::string out = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (int i = 0; i < 20; ++i) out += "3e8\r\n" + std::string(1000, 'c') + "\r\n";
        return Reply(out + "0\r\n\r\n");
    });
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/overflow")); }), "Invalid Content-Length");
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/long")); }),
              "Response body over 10000 bytes");
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/header")); }),
              "Response header over 4096 bytes");
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/endless")); }),
              "Response body over 10000 bytes");
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/chunk")); }),
              "Chunk size over 1000 bytes");
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/chunks")); }),
              "Response body over 10000 bytes");
}

TEST_F(Client, BadAddresses) {
    EXPECT_EQ(errorOf([&] { client.fetchUrl(""); }), "URL empty");
    EXPECT_EQ(errorOf([&] { client.fetchUrl("http://:80/"); }), "No address found");
    EXPECT_EQ(errorOf([&] { client.fetchUrl("127.0.0.1:0/"); }), "Invalid port '0'");
    EXPECT_EQ(errorOf([&] { client.fetchUrl("127.0.0.1:65536/"); }), "Invalid port '65536'");
    LogCounter log;
    EXPECT_EQ(errorOf([&] { client.fetchUrl("no-such-host.invalid/x"); }),
              "Cannot connect to target");
    EXPECT_EQ(log.count("Socket exception Unable to resolve host 'no-such-host.invalid' "
                        "occured; tries 0"),
              1);
    EXPECT_EQ(log.count("Download failed. This is bad."), 1);
}

TEST_F(Client, ManyShortConnections) {
    server.route("/c", "closing", "text/plain", 200, {{"Connection", "close"}});
    for (int i = 0; i < 50; ++i) ASSERT_EQ(client.fetchUrl(server.url("/c")), "closing");
    EXPECT_EQ(server.connections(), 50);
    EXPECT_EQ(idleConnectionCount(), 0u);
}

TEST_F(Client, RefusedConnectionTriesFourTimes) {
    std::string url;
    {
        HttpServer gone;  // a port that nobody listens on any more
        url = gone.url("/x");
    }
    LogCounter log;
    EXPECT_EQ(errorOf([&] { client.fetchUrl(url); }), "Cannot connect to target");
    for (int tries = 3; tries >= 0; --tries)
        EXPECT_EQ(log.count("Socket exception Connection refused occured; tries " +
                            std::to_string(tries)),
                  1);
    EXPECT_EQ(log.count("Waiting 1s before retry"), 3);
}

TEST_F(Client, ConnectThatNeverCompletesTimesOut) {
    // A listener that accepts nothing with a full queue drops further handshakes.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }
    Limits l = client.limits();
    l.connectTimeout = std::chrono::milliseconds(200);
    client = HttpClient(l);
    LogCounter log;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf([&] {
                  client.fetchUrl("127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/");
              }),
              "Cannot connect to target");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(log.count("Socket exception Connection timed out occured; tries 0"), 1);
    for (int fd : fillers) close(fd);
    close(listener);
}

TEST_F(Client, DownloadWithAndWithoutTheCache) {
    server.route("/cached", "body");
    EXPECT_EQ(client.download(server.url("/cached"), {}, true), "body");
    EXPECT_EQ(client.download(server.url("/cached"), {}, true), "body");
    EXPECT_EQ(server.requestCount(), 1u);

    std::string target;
    EXPECT_EQ(errorOf([&] { client.download(server.url("/cached"), {}, true, &target); }),
              "Caching precludes redirect info!");

    server.fallback([](const std::string&) { return Reply::drop(); });
    EXPECT_EQ(errorOf([&] { client.download(server.url("/missing"), {}, true); }),
              "Can't download page.");
    EXPECT_EQ(client.download(server.url("/missing")), "");
}

TEST_F(Client, CachedDownloadsKeepTheClientsLimits) {
    server.route("/eleven", std::string(11, 'x'));
    Limits small = client.limits();
    small.maxBody = 10;
    EXPECT_EQ(errorOf([&] { HttpClient(small).download(server.url("/eleven"), {}, true); }),
              "Response body over 10 bytes");
    EXPECT_FALSE(isCached(server.url("/eleven")));
    EXPECT_EQ(client.download(server.url("/eleven"), {}, true), std::string(11, 'x'));
    EXPECT_TRUE(isCached(server.url("/eleven")));
}

TEST_F(Client, ProgressIsReportedAndUnregistered) {
    std::string body(10000, 'p');
    server.handle("/slow", [body](const std::string&) {
        Reply r;
        std::string all = HttpServer::response(body);
        r.pieces = {all.substr(0, 3000), all.substr(3000, 4000), all.substr(7000)};
        r.gap = std::chrono::milliseconds(20);
        return r;
    });
    std::vector<float> seen;
    EXPECT_EQ(client.download(server.url("/slow"), [&](float f) { seen.push_back(f); }), body);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(seen.front(), 0.0f);
    EXPECT_FLOAT_EQ(seen.back(), 1.0f);
    std::size_t calls = seen.size();
    progress_registry::notify(server.url("/slow"), 0.5f);  // removed when download returned
    EXPECT_EQ(seen.size(), calls);
}

TEST(ProgressRegistry, TokensAndReentrantNotify) {
    std::vector<std::string> calls;
    auto a = progress_registry::add("u", [&](float) { calls.push_back("a"); });
    auto b = progress_registry::add("u", [&](float f) {
        calls.push_back("b");
        progress_registry::notify("v", f);  // a forwarder notifying from inside notify
    });
    auto c = progress_registry::add("v", [&](float) { calls.push_back("c"); });
    progress_registry::notify("u", 0.5f);
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b", "c"}));
    progress_registry::remove("u", a);
    EXPECT_THROW(progress_registry::remove("u", a), tools::Failure);
    EXPECT_THROW(progress_registry::remove("nobody", a), tools::Failure);
    calls.clear();
    progress_registry::notify("u", 1.0f);
    EXPECT_EQ(calls, (std::vector<std::string>{"b", "c"}));
    progress_registry::remove("u", b);
    progress_registry::remove("v", c);
    calls.clear();
    progress_registry::notify("u", 1.0f);
    EXPECT_TRUE(calls.empty());
}

TEST(NameResolution, AddressesAndHosts) {
    Ipv4SocketAddress dotted(8080, "127.0.0.1");
    EXPECT_EQ(dotted.toString(), "127.0.0.1:8080");
    EXPECT_EQ(dotted.address(), 0x7F000001u);
    EXPECT_EQ(dotted.port(), 8080);
    EXPECT_EQ(dotted.length(), 16u);
    EXPECT_EQ(dotted.family(), 2);
    Ipv4SocketAddress named(80, "localhost");
    EXPECT_EQ(named.addressText(), "127.0.0.1");
    EXPECT_EQ(named.portText(), "80");
    EXPECT_EQ(errorOf([] { Ipv4SocketAddress(80, "no-such-host.invalid"); }),
              "Unable to resolve host 'no-such-host.invalid'");
    EXPECT_THROW(Ipv4SocketAddress(80, "no-such-host.invalid"), AddressError);

    HostLookup host;
    ASSERT_TRUE(host.lookupByName("localhost"));
    EXPECT_EQ(host.addresses.at(0), 0x7F000001u);
    EXPECT_FALSE(host.lookupByDottedAddress("not dotted"));
}

TEST_F(Client, SixteenThreadsShareOneCacheAndOnePool) {
    for (int i = 0; i < 40; ++i)
        server.route("/page" + std::to_string(i),
                     std::string(2000 + i, static_cast<char>('A' + i % 26)));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < 20; ++k) {
                int i = (t * 7 + k) % 40;
                std::string expected(2000 + i, static_cast<char>('A' + i % 26));
                bool cached = (t + k) % 2 == 0;
                if (client.download(
                        server.url("/page" + std::to_string(i)), [](float) {}, cached) != expected)
                    ++wrong;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_LE(server.connections(), 16);
}

// Six threads fetching slow pages of one host: never more than two connections at once,
// over all threads; the others wait for a free one.
TEST_F(Client, AtMostTwoConnectionsPerHost) {
    std::atomic<int> open{0}, most{0};
    server.fallback([&](const std::string&) {
        int now = ++open;
        for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        --open;
        Reply r(HttpServer::response("slow"));
        r.close = true;
        return r;
    });
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            if (client.fetchUrl(server.url("/p" + std::to_string(t))) != "slow") ++wrong;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(most.load(), 2);
    EXPECT_EQ(downloader::detail::busyConnections("127.0.0.1"), 0);

    setConnectionsPerHost(1);
    most = 0;
    threads.clear();
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] { client.fetchUrl(server.url("/q" + std::to_string(t))); });
    for (auto& thread : threads) thread.join();
    setConnectionsPerHost(defaultConnectionsPerHost);
    EXPECT_EQ(most.load(), 1);
}

// A Retry-After pauses the host for every thread, not only the one that was told.
TEST_F(Client, RetryAfterPausesTheHostForEveryThread) {
    std::atomic<int> asked{0};
    std::mutex lock;
    std::vector<std::chrono::steady_clock::time_point> times;
    server.fallback([&](const std::string&) {
        {
            std::lock_guard<std::mutex> hold(lock);
            times.push_back(std::chrono::steady_clock::now());
        }
        if (++asked == 1)
            return Reply(HttpServer::response("wait", 429, "text/plain", {{"Retry-After", "1"}}));
        return Reply(HttpServer::response("ok"));
    });
    testsupport::LogCapture log;
    std::thread told([&] { EXPECT_EQ(client.fetchResponse(server.url("/a")).status, 200); });
    // The pause begins once that thread's client has read the 429, a moment
    // after the server sent it.
    for (int i = 0; i < 1000 && !log.contains("Status 429 from " + server.url("/a")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(client.fetchUrl(server.url("/b")), "ok");
    told.join();
    ASSERT_EQ(times.size(), 3u);
    EXPECT_GE(times[1] - times[0], std::chrono::milliseconds(900));
    EXPECT_GE(times[2] - times[0], std::chrono::milliseconds(900));

    // Without Retry-After a 429 costs attempts with pauses and ends as the answer.
    asked = 100;
    server.fallback([&](const std::string&) {
        ++asked;
        return Reply(HttpServer::response("busy", 429, "text/plain"));
    });
    Response last = client.fetchResponse(server.url("/c"));
    EXPECT_EQ(last.status, 429);
    EXPECT_EQ(last.body, "busy");
    EXPECT_EQ(asked.load(), 103);
    // A crawled page with an error status fails; the same body as a strip is shown.
    EXPECT_EQ(errorOf([&] { client.downloadPage(server.url("/d")); }),
              "Status 429 from " + server.url("/d"));
    EXPECT_EQ(client.download(server.url("/e")), "busy");
}

// The overall deadline covers every attempt and redirect; the silence limit a server
// that sends nothing at all.
TEST_F(Client, DeadlinesCoverTheWholeDownload) {
    Limits l = client.limits();
    l.receiveTimeout = std::chrono::milliseconds(300);
    l.silenceLimit = std::chrono::milliseconds(500);
    l.overallDeadline = std::chrono::milliseconds(1200);
    client = HttpClient(l);
    server.fallback([](const std::string&) { return Reply::silence(); });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/quiet")); }),
              "No answer from the server within 0.5 s: " + server.url("/quiet"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));

    // One byte every 100 ms never trips the per-receive limit; the deadline ends it.
    server.fallback([](const std::string&) {
        Reply r;
        for (char c : HttpServer::response(std::string(100, 'd'))) r.pieces.emplace_back(1, c);
        r.gap = std::chrono::milliseconds(100);
        return r;
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/drip")); }),
              "Download not finished within 1.2 s: " + server.url("/drip"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800));
}

// The response bytes of all downloads together stay within the shared budget: a body of
// announced length waits for room, and one larger than the whole budget fails at once.
TEST_F(Client, SharedResponseBudget) {
    setResponseBudget(std::size_t{1} << 20);
    struct Restore {
        ~Restore() { setResponseBudget(defaultResponseBudget); }
    } restore;
    const std::string big(700 << 10, 'b');
    server.route("/big", big);
    server.route("/huge", std::string(1200 << 10, 'h'));
    EXPECT_EQ(errorOf([&] { client.fetchUrl(server.url("/huge")); }),
              "A response of " + std::to_string((1200 << 10) + 1024) +
                  " bytes is more than the 1 MiB allowed for responses: " + server.url("/huge"));
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            if (client.fetchUrl(server.url("/big")) != big) ++wrong;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(downloader::detail::responseBytesHeld(), 0u);
}
