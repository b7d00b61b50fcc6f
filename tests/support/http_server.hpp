#pragma once
// A scriptable loopback HTTP/1.1 server for tests.
//
//   testsupport::HttpServer server;                       // listens on 127.0.0.1:<ephemeral>
//   server.route("/a.html", "<html>hi</html>");           // 200, text/html, Content-Length
//   server.route("/p?id=2", "x", "text/plain", 404, {{"X-Extra", "1"}});
//   server.redirect("/old", "/new.html");                 // 302 + "Location: /new.html"
//   server.routeChunked("/big", body, 4096);              // Transfer-Encoding: chunked
//   server.handle("/raw", [](const std::string& request) {   // raw bytes, any framing
//       return testsupport::HttpServer::Reply{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"};
//   });
//   server.fallback([](const std::string&) { return testsupport::HttpServer::Reply::drop(); });
//   std::string url = server.url("/a.html");              // "127.0.0.1:PORT/a.html"
//   server.paths(), server.requests(), server.connections()  // what was received
//
// Paths are matched exactly as sent in the request line (query included). Unknown paths get
// a 404 unless a fallback handler is set. Connections are kept alive until the client closes,
// a reply asks to close, or the server stops (destructor). Each connection has its own thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

class HttpServer {
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    // Raw bytes to answer a request with, and what to do with the connection afterwards.
    struct Reply {
        Reply() = default;
        Reply(std::string bytes) : pieces{std::move(bytes)} {}  // NOLINT: implicit on purpose
        // Sent one write each, `gap` apart (to split a response across the client's reads).
        std::vector<std::string> pieces;
        std::chrono::milliseconds gap{0};
        bool close = false;  // close the connection after sending
        bool stall = false;  // after sending, keep the connection open and silent until stop
        bool reset = false;  // after sending, reset the connection (TCP RST)

        static Reply drop() {  // close without answering
            Reply r;
            r.close = true;
            return r;
        }
        static Reply silence() {  // never answer (until the server stops)
            Reply r;
            r.stall = true;
            return r;
        }
    };
    using Handler = std::function<Reply(const std::string& request)>;

    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "127.0.0.1:" + port + path, the form the downloader takes.
    std::string url(const std::string& path = "/") const;

    void route(const std::string& path, std::string body, std::string contentType = "text/html",
               int status = 200, Headers extraHeaders = {});
    void routeChunked(const std::string& path, const std::string& body, std::size_t chunkSize,
                      std::string contentType = "text/html");
    void redirect(const std::string& path, const std::string& location, int status = 302);
    void handle(const std::string& path, Handler handler);
    void fallback(Handler handler);  // for paths without a route
    void clearRoutes();

    // What was received, in order of arrival (thread-safe copies).
    std::vector<std::string> requests() const;  // raw request text, header and body
    std::vector<std::string> paths() const;     // the request line's target
    std::size_t requestCount() const;
    int connections() const { return connections_.load(); }  // accepted so far
    void clearRecords();

    // Builds a complete response with Content-Length (helpers for handlers).
    static std::string response(const std::string& body, int status = 200,
                                const std::string& contentType = "text/html",
                                const Headers& extraHeaders = {});

    // Stops accepting, closes every connection and joins the threads (the destructor does it).
    void stop();

private:
    void acceptLoop();
    void serve(int fd);
    bool sendAll(int fd, const std::string& bytes);
    bool waitStop(std::chrono::milliseconds timeout);
    Reply answer(const std::string& request, const std::string& path);

    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};  // a pipe whose read end becomes readable at stop
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};

    mutable std::mutex lock_;  // guards everything below
    std::map<std::string, Handler> routes_;
    Handler fallback_;
    std::vector<std::string> requests_;
    std::vector<std::string> paths_;
    std::vector<int> openFds_;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;  // finished ones are joined at the next accept
    std::thread acceptor_;
};

}  // namespace testsupport
