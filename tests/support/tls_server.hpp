#pragma once
// TLS for the loopback test server: certificates made at test time with the `openssl`
// command, and a TLS front that decrypts connections and hands them to an HttpServer.
//
//   testsupport::TestCertificates certs(dir.path().string());   // needs `openssl`
//   testsupport::HttpServer server;
//   testsupport::TlsFront front(server, certs.good);
//   std::string url = front.url("/a.html");    // "https://localhost:PORT/a.html"
//   downloader::setExtraCaFile(certs.caFile);
//
// Each TLS connection becomes one plain connection to the server, so the server's routes,
// request records and connection count work as for plain clients.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http_server.hpp"

namespace testsupport {

class TestCertificates {
public:
    struct Pair {
        std::string certificate;  // PEM files
        std::string key;
    };
    // Writes into `directory`: a CA, a certificate it signed for "localhost" and 127.0.0.1
    // (good), one for "other.example" only (otherName), an expired one (expired) and one
    // signed by a CA nobody trusts (unknownCa). Raises when `openssl` fails.
    explicit TestCertificates(const std::string& directory);

    std::string caFile;
    Pair good, otherName, expired, unknownCa;
};

class TlsFront {
public:
    // stallHandshake: accept connections but never answer the client's hello.
    TlsFront(HttpServer& backend, const TestCertificates::Pair& pair, bool stallHandshake = false);
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    std::uint16_t port() const { return port_; }
    // "https://" + host + ":" + port + path.
    std::string url(const std::string& path = "/", const std::string& host = "localhost") const;
    int handshakes() const { return handshakes_.load(); }  // completed ones
    void stop();

private:
    struct Context;
    void acceptLoop();
    void serve(int fd);

    HttpServer& backend_;
    std::shared_ptr<Context> context_;
    bool stallHandshake_;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> handshakes_{0};
    std::mutex lock_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace testsupport
