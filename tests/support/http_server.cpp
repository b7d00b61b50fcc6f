#include "http_server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace testsupport {

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const char* reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// Content-Length of a request header (0 when absent).
std::size_t requestBodyLength(const std::string& header) {
    std::string low = lower(header);
    auto at = low.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return std::strtoul(low.c_str() + at + 17, nullptr, 10);
}

}  // namespace

HttpServer::HttpServer() {
    if (pipe(wakeFd_) != 0) throw std::runtime_error("pipe failed");
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket failed");
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 128) != 0)
        throw std::runtime_error("bind/listen failed");
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::stop() {
    if (stopping_.exchange(true)) return;
    char wake = 'x';
    (void)!write(wakeFd_[1], &wake, 1);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<Worker> workers;
    {
        std::lock_guard<std::mutex> hold(lock_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) worker.thread.join();
    close(listenFd_);
    close(wakeFd_[0]);
    close(wakeFd_[1]);
}

std::string HttpServer::url(const std::string& path) const {
    return "127.0.0.1:" + std::to_string(port_) + path;
}

std::string HttpServer::response(const std::string& body, int status,
                                 const std::string& contentType, const Headers& extraHeaders) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
    out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    for (const auto& [name, value] : extraHeaders) out += name + ": " + value + "\r\n";
    out += "\r\n";
    out += body;
    return out;
}

void HttpServer::route(const std::string& path, std::string body, std::string contentType,
                       int status, Headers extraHeaders) {
    bool closeAfter = false;
    for (const auto& [name, value] : extraHeaders)
        if (lower(name) == "connection" && lower(value).find("close") != std::string::npos)
            closeAfter = true;
    Reply reply(response(body, status, contentType, extraHeaders));
    reply.close = closeAfter;
    handle(path, [reply](const std::string&) { return reply; });
}

void HttpServer::routeChunked(const std::string& path, const std::string& body,
                              std::size_t chunkSize, std::string contentType) {
    std::string out = "HTTP/1.1 200 OK\r\nContent-Type: " + contentType +
                      "\r\nTransfer-Encoding: chunked\r\n\r\n";
    char size[32];
    for (std::size_t at = 0; at < body.size(); at += chunkSize) {
        std::size_t n = std::min(chunkSize, body.size() - at);
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        out += size;
        out.append(body, at, n);
        out += "\r\n";
    }
    out += "0\r\n\r\n";
    Reply reply(std::move(out));
    handle(path, [reply](const std::string&) { return reply; });
}

void HttpServer::redirect(const std::string& path, const std::string& location, int status) {
    route(path, "", "text/html", status, {{"Location", location}});
}

void HttpServer::handle(const std::string& path, Handler handler) {
    std::lock_guard<std::mutex> hold(lock_);
    routes_[path] = std::move(handler);
}

void HttpServer::fallback(Handler handler) {
    std::lock_guard<std::mutex> hold(lock_);
    fallback_ = std::move(handler);
}

void HttpServer::clearRoutes() {
    std::lock_guard<std::mutex> hold(lock_);
    routes_.clear();
    fallback_ = nullptr;
}

std::vector<std::string> HttpServer::requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

std::vector<std::string> HttpServer::paths() const {
    std::lock_guard<std::mutex> hold(lock_);
    return paths_;
}

std::size_t HttpServer::requestCount() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_.size();
}

void HttpServer::clearRecords() {
    std::lock_guard<std::mutex> hold(lock_);
    requests_.clear();
    paths_.clear();
}

void HttpServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (stopping_.load() || (fds[1].revents & POLLIN)) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        connections_.fetch_add(1);
        std::lock_guard<std::mutex> hold(lock_);
        auto stillRunning = std::partition(workers_.begin(), workers_.end(),
                                           [](const Worker& w) { return !w.done->load(); });
        for (auto it = stillRunning; it != workers_.end(); ++it) it->thread.join();
        workers_.erase(stillRunning, workers_.end());
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back({std::thread([this, fd, done] {
                                serve(fd);
                                done->store(true);
                            }),
                            done});
    }
}

// Waits until the server stops or the timeout passes; true when stopping.
bool HttpServer::waitStop(std::chrono::milliseconds timeout) {
    pollfd wake{wakeFd_[0], POLLIN, 0};
    int n = poll(&wake, 1, static_cast<int>(timeout.count()));
    return n > 0 || stopping_.load();
}

bool HttpServer::sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd_[0], POLLIN, 0}};
        poll(fds, 2, -1);
        if (fds[1].revents & POLLIN) return false;
    }
    return true;
}

HttpServer::Reply HttpServer::answer(const std::string& request, const std::string& path) {
    Handler handler;
    {
        std::lock_guard<std::mutex> hold(lock_);
        requests_.push_back(request);
        paths_.push_back(path);
        auto found = routes_.find(path);
        if (found != routes_.end())
            handler = found->second;
        else
            handler = fallback_;
    }
    if (!handler) return Reply(response("not found", 404));
    try {
        return handler(request);
    } catch (const std::exception& e) {  // a failing handler must not end the server thread
        Reply failed(response(std::string("handler failed: ") + e.what(), 500));
        failed.close = true;
        return failed;
    }
}

void HttpServer::serve(int fd) {
    std::string pending;
    char block[16384];
    bool open = true;
    while (open && !stopping_.load()) {
        // One request: the header up to the blank line, then Content-Length body bytes.
        std::size_t headerEnd;
        while ((headerEnd = pending.find("\r\n\r\n")) == std::string::npos ||
               pending.size() < headerEnd + 4 + requestBodyLength(pending.substr(0, headerEnd))) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) {
                open = false;
                break;
            }
            if (fds[1].revents & POLLIN) {
                open = false;
                break;
            }
            ssize_t n = recv(fd, block, sizeof block, 0);
            if (n > 0) {
                pending.append(block, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                open = false;
                break;
            }
        }
        if (!open) break;
        std::size_t total = headerEnd + 4 + requestBodyLength(pending.substr(0, headerEnd));
        std::string request = pending.substr(0, total);
        pending.erase(0, total);
        std::string path;
        auto firstSpace = request.find(' ');
        if (firstSpace != std::string::npos) {
            auto secondSpace = request.find(' ', firstSpace + 1);
            auto lineEnd = request.find("\r\n");
            path = request.substr(firstSpace + 1, std::min(secondSpace, lineEnd) - firstSpace - 1);
        }
        Reply reply = answer(request, path);
        for (std::size_t i = 0; i < reply.pieces.size() && open; ++i) {
            if (i > 0 && reply.gap.count() > 0 && waitStop(reply.gap)) open = false;
            if (open && !sendAll(fd, reply.pieces[i])) open = false;
        }
        if (reply.stall) {
            while (!waitStop(std::chrono::milliseconds(1000))) {
            }
            open = false;
        }
        if (reply.close) open = false;
        if (reply.reset) {
            // A close with SO_LINGER 0 sends a reset instead of an orderly end.
            linger abort{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            open = false;
        }
    }
    close(fd);
}

}  // namespace testsupport
