#include "downloader/downloader.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "downloader/http_parts.hpp"
#include "downloader/tls.hpp"
#include "tools/buffer.hpp"
#include "tools/failure.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

namespace downloader {

using tools::lowered;

namespace {

using detail::ChunkState;
using detail::ReceiveBuffer;
using detail::Request;

const char* const webHost = "tovik.example.org";

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// ---------------------------------------------------------------------------------------
// Limits

std::mutex limitsLock;
Limits currentLimits;  // guarded by limitsLock

// ---------------------------------------------------------------------------------------
// Sockets

// A TCP connection, with a TLS session on top for "https://" addresses.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)),
          timeout_(other.timeout_),
          ssl_(std::move(other.ssl_)),
          unsent_(std::move(other.unsent_)) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
            timeout_ = other.timeout_;
            ssl_ = std::move(other.ssl_);
            unsent_ = std::move(other.unsent_);
        }
        return *this;
    }
    ~Socket() { reset(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        ssl_.reset();
        unsent_.clear();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // The TLS handshake for `host`, within `timeout`; then the socket speaks TLS.
    void startTls(const std::string& host, std::chrono::milliseconds timeout) {
        ssl_ = detail::startTls(fd_, host, timeout);
        timeout_ = timeout;
    }

    // One send; more=true lets the kernel join it with the sends that follow. With TLS
    // the pieces are gathered and written as one record when more=false.
    ssize_t send(const std::string& bytes, bool more) {
        if (ssl_) {
            unsent_ += bytes;
            if (more) return static_cast<ssize_t>(bytes.size());
            std::string whole = std::move(unsent_);
            unsent_.clear();
            return detail::tlsSend(ssl_.get(), whole) > 0 ? static_cast<ssize_t>(bytes.size()) : -1;
        }
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | (more ? MSG_MORE : 0));
    }

    // Up to `length` bytes; 0 when the peer closed; -1 on an error or when nothing
    // arrived within the timeout set by setTimeouts.
    ssize_t receive(char* data, std::size_t length) const {
        if (ssl_) return detail::tlsReceive(ssl_.get(), data, length);
        for (;;) {
            ssize_t n = ::recv(fd_, data, length, 0);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    }

    // Silence longer than the timeout fails a receive or a send.
    void setTimeouts(std::chrono::milliseconds timeout) {
        if (timeout == timeout_) return;
        timeout_ = timeout;
        timeval limit{};
        limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
        limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }

    // An idle connection is usable when nothing (no close, no stray bytes) arrived on it.
    bool idleAndOpen() const {
        if (ssl_ && detail::tlsPending(ssl_.get())) return false;
        pollfd wait{fd_, POLLIN, 0};
        return ::poll(&wait, 1, 0) == 0;
    }

private:
    int fd_ = -1;
    std::chrono::milliseconds timeout_{-1};
    detail::SslPtr ssl_;
    std::string unsent_;  // TLS: request pieces not yet written
};

// A connected socket; with `tlsHost` also the TLS handshake, which shares the connect
// time-out with the TCP connect.
Socket connectTo(const ActuallyWorkingInternetAddress& address, const Limits& limits,
                 const std::string* tlsHost) {
    const auto started = std::chrono::steady_clock::now();
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket) throw std::runtime_error(errnoText(errno));
    int result = ::connect(socket.fd(), address.socketAddress(), address.length());
    if (result != 0 && errno != EINPROGRESS) throw std::runtime_error(errnoText(errno));
    if (result != 0) {
        pollfd wait{socket.fd(), POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&wait, 1, static_cast<int>(limits.connectTimeout.count()));
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) throw std::runtime_error("Connection timed out");
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (ready < 0 || error != 0) throw std::runtime_error(errnoText(error ? error : errno));
    }
    int flags = ::fcntl(socket.fd(), F_GETFL);
    ::fcntl(socket.fd(), F_SETFL, flags & ~O_NONBLOCK);
    int one = 1;
    ::setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (tlsHost) {
        auto left = limits.connectTimeout - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - started);
        socket.startTls(*tlsHost, std::max(left, std::chrono::milliseconds(1)));
    }
    socket.setTimeouts(limits.receiveTimeout);
    return socket;
}

// ---------------------------------------------------------------------------------------
// Connection pool: idle keep-alive connections per scheme, host and port.

struct Pool {
    std::mutex lock;
    // "host:port" or "https://host:port" -> oldest first
    std::unordered_map<std::string, std::deque<Socket>> idle;
};

Pool& pool() {
    static Pool* instance = new Pool;  // lives until the very end of the process
    return *instance;
}

std::string poolKey(const Request& request) {
    return (request.tls ? "https://" : "") + request.host + ":" + std::to_string(request.port);
}

Socket takeIdle(const std::string& key) {
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    auto found = p.idle.find(key);
    if (found == p.idle.end()) return Socket();
    Socket socket = std::move(found->second.front());
    found->second.pop_front();
    if (found->second.empty()) p.idle.erase(found);
    return socket;
}

void putIdle(const std::string& key, Socket socket) {
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    p.idle[key].push_back(std::move(socket));
}

// A connection to host:port on which the request line has been sent: an idle pooled one
// when one works, else a new one (4 connect attempts).
Socket getConnection(const Request& request, const std::string& requestLine, bool fresh,
                     bool& pooled, const Limits& limits) {
    std::string key = poolKey(request);
    if (!fresh) {
        // Taken out of the pool before anything is sent: no two threads share a socket.
        while (Socket socket = takeIdle(key)) {
            if (!socket.idleAndOpen()) continue;
            if (socket.send(requestLine, true) > 0) {
                pooled = true;
                return socket;
            }
        }
    }
    pooled = false;
    for (int remaining = 3;; --remaining) {
        std::string problem;
        try {
            ActuallyWorkingInternetAddress address(request.port, request.host);
            Socket socket = connectTo(address, limits, request.tls ? &request.host : nullptr);
            socket.send(requestLine, true);
            return socket;
        } catch (const detail::TlsError&) {
            throw;  // a certificate that fails now fails again
        } catch (const detail::HandshakeStalled&) {
            throw;  // costs a request attempt
        } catch (const std::exception& e) {
            problem = e.what();
        } catch (...) {
            problem = "[INVALID EXCEPTION]";
        }
        tools::logln("Socket exception ", problem, " occured; tries ", remaining);
        if (remaining == 0) throw std::runtime_error("Cannot connect to target");
        tools::logln("Waiting 1s before retry");
        std::this_thread::sleep_for(limits.connectRetryWait);
    }
}

// ---------------------------------------------------------------------------------------
// Progress registry

struct Registry {
    std::recursive_mutex lock;  // notify runs callbacks that may notify again
    std::map<std::string, std::vector<std::pair<cbs::Token, Progress>>> callbacks;
    cbs::Token next = 1;
};

Registry& registry() {
    static Registry* instance = new Registry;  // lives until the very end of the process
    return *instance;
}

// Removes a progress callback when the scope ends (also on errors).
class Registration {
public:
    Registration(const std::string& url, Progress callback) : url_(url) {
        if (callback) token_ = cbs::add(url, std::move(callback));
    }
    ~Registration() {
        if (token_) cbs::remove(url_, token_);
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    std::string url_;
    cbs::Token token_ = 0;
};

// ---------------------------------------------------------------------------------------
// One exchange

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string> headerLines(const std::string& header) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = header.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(header.substr(at, end - at));
    if (at < header.size()) lines.push_back(header.substr(at));
    return lines;
}

// The Content-Length value: digits after optional blanks, up to the first non-digit.
std::uint64_t contentLength(const std::string& text, const Limits& limits) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::uint64_t value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        if (value > (UINT64_MAX - 9) / 10) throw std::runtime_error("Invalid Content-Length");
        value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    }
    if (value > limits.maxBody)
        throw std::runtime_error("Response body over " + std::to_string(limits.maxBody) + " bytes");
    return value;
}

std::string fetchChain(const std::string& url, std::string* redirectTarget,
                       std::vector<std::string>& chain);

// Follows a redirect: reports it or fetches the target, forwarding progress.
std::string followRedirect(const std::string& url, const Request& request, std::string target,
                           std::string* redirectTarget, std::vector<std::string>& chain,
                           const Limits& limits) {
    tools::logln("Following redirect");
    if (startsWith(target, "/"))
        target = (request.tls ? "https://" : "") + request.host + ":" +
                 std::to_string(request.port) + target;
    if (redirectTarget) {
        *redirectTarget = target;
        return {};
    }
    if (static_cast<int>(chain.size()) >= limits.maxRedirects)
        throw std::runtime_error("Too many redirects");
    // A chain that comes back to an address already forwarded adds no second forwarder,
    // so notify cannot go round in circles.
    bool alreadyForwarded =
        target == url || std::find(chain.begin(), chain.end(), target) != chain.end();
    Progress forward;
    if (!alreadyForwarded) forward = [url](float fraction) { cbs::notify(url, fraction); };
    Registration registration(target, forward);
    chain.push_back(url);
    struct Pop {
        std::vector<std::string>& chain;
        ~Pop() { chain.pop_back(); }
    } pop{chain};
    return fetchChain(target, nullptr, chain);
}

std::string exchange(const std::string& url, std::string* redirectTarget,
                     std::vector<std::string>& chain) {
    const Limits limits = downloader::limits();
    Request request = detail::parseUrl(url);
    std::string requestLine = std::string(request.post ? "POST " : "GET ") + request.path +
                              " HTTP/" + (request.http10 ? "1.0" : "1.1") + "\r\n";
    std::vector<std::string> headers = {
        "Connection: keep-alive\r\n",
        std::string("User-Agent: Mozilla/5.0 (TOVIK.2; ") + webHost + ")\r\n",
        "Accept: */*\r\n",
        "Host: " + request.host + "\r\n",
    };
    if (request.post)
        headers.push_back("Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                          std::to_string(request.form.size()) + "\r\n");
    if (!request.referrer.empty()) headers.push_back("Referer: " + request.referrer + "\r\n");
    headers.push_back("\r\n" + request.form);
    const std::string key = poolKey(request);

    int attemptsLeft = 3;
    bool staleRetryUsed = false;
    bool fresh = false;
    for (;;) {
        if (attemptsLeft == 0) throw std::runtime_error("Can't download page.");
        --attemptsLeft;
        bool pooled = false;
        Socket socket;
        try {
            socket = getConnection(request, requestLine, fresh, pooled, limits);
        } catch (const detail::HandshakeStalled& e) {
            tools::logln(e.what());
            continue;
        }
        fresh = false;
        socket.setTimeouts(limits.receiveTimeout);  // a pooled one may predate a change
        for (std::size_t i = 0; i < headers.size(); ++i)
            socket.send(headers[i], i + 1 < headers.size());

        ReceiveBuffer buffer;
        std::string header;
        std::string body;
        bool headerSeen = false;
        bool hasLength = false;
        std::uint64_t expected = 0;
        bool chunked = false;
        bool keepAlive = true;
        bool complete = false;
        bool failedReceive = false;
        std::size_t searchFrom = 0;  // where "\r\n\r\n" may still start
        char block[1024];
        for (;;) {
            ssize_t n = socket.receive(block, sizeof block);
            if (n < 0) {
                failedReceive = true;
                break;
            }
            if (n == 0) {
                keepAlive = false;
                tools::logln("Connection closed at ", buffer.length());
                break;
            }
            buffer.append(block, static_cast<std::size_t>(n));
            if (chunked) {
                if (detail::decodeChunks(buffer, body, false, limits) == ChunkState::complete) {
                    complete = true;
                    break;
                }
                continue;
            }
            if (!headerSeen) {
                std::string_view data = buffer.contents();
                std::size_t end = data.find("\r\n\r\n", searchFrom);
                if (end == std::string_view::npos) {
                    if (data.size() > limits.maxHeader)
                        throw std::runtime_error("Response header over " +
                                                 std::to_string(limits.maxHeader) + " bytes");
                    searchFrom = data.size() >= 3 ? data.size() - 3 : 0;
                    continue;
                }
                header.assign(data.substr(0, end + 4));
                buffer.cut(end + 4);
                headerSeen = true;
                std::string lowHeader = lowered(header);
                std::size_t at = lowHeader.find("\r\ncontent-length:");
                if (at != std::string::npos) {
                    std::size_t valueAt = at + 17;
                    std::size_t valueEnd = header.find("\r\n", valueAt);
                    expected = contentLength(header.substr(valueAt, valueEnd - valueAt), limits);
                    hasLength = true;
                } else if (lowHeader.find("\r\ntransfer-encoding: chunked") != std::string::npos) {
                    tools::logln("Recognize chunked mode");
                    chunked = true;
                }
                for (const std::string& line : headerLines(header))
                    if (startsWith(line, "Location: "))
                        return followRedirect(url, request, line.substr(10), redirectTarget, chain,
                                              limits);
                if (chunked) {
                    if (detail::decodeChunks(buffer, body, false, limits) == ChunkState::complete) {
                        complete = true;
                        break;
                    }
                    continue;
                }
            } else if (hasLength && expected > 0) {
                cbs::notify(url, std::min(1.0f, static_cast<float>(buffer.length()) /
                                                    static_cast<float>(expected)));
            }
            if (hasLength) {
                // A present zero length is complete with the header.
                if (buffer.length() >= expected) {
                    tools::logln("Received all data");
                    complete = true;
                    break;
                }
            } else if (buffer.length() > limits.maxBody) {
                throw std::runtime_error("Response body over " + std::to_string(limits.maxBody) +
                                         " bytes");
            }
        }

        if (!headerSeen) {
            // A pooled connection the server closed while it lay idle: once per request,
            // try again on a new connection without spending an attempt.
            if (pooled && !staleRetryUsed) {
                staleRetryUsed = true;
                fresh = true;
                ++attemptsLeft;
            }
            if (!failedReceive)
                tools::logln(
                    "Connection closed, but no body found. Presuming invalid persistant "
                    "connection; retrying ... ");
            continue;
        }
        if (failedReceive) continue;
        if (!hasLength && !chunked) complete = true;  // the body ends where the peer closed
        if (!complete) {
            tools::logln("Response cut short after ", chunked ? body.size() : buffer.length(),
                         " body bytes");
            continue;
        }

        for (const std::string& line : headerLines(header))
            if (startsWith(line, "Connection: ") &&
                lowered(line).find("close") != std::string::npos)
                keepAlive = false;
        if (hasLength && buffer.length() > expected) keepAlive = false;  // stray bytes follow
        if (keepAlive) putIdle(key, std::move(socket));

        std::string result;
        if (chunked) {
            result = std::move(body);
        } else {
            std::string_view data = buffer.contents();
            if (hasLength) data = data.substr(0, expected);
            result.assign(data);
        }
        if (result.empty()) continue;
        return detail::convertUtf16(std::move(result));
    }
}

std::string fetchChain(const std::string& url, std::string* redirectTarget,
                       std::vector<std::string>& chain) {
    if (url.empty()) throw std::runtime_error("URL empty");
    try {
        return exchange(url, redirectTarget, chain);
    } catch (...) {
        tools::logln("Download failed. This is bad.");
        throw;
    }
}

using PageCache = tools::Buffer<std::string, std::string>;

PageCache& pageCache() {
    static PageCache cache([](const std::string& url) { return fetchUrl(url); },
                           [](const std::string& body) { return body.size(); }, 33554432);
    return cache;
}

}  // namespace

// ---------------------------------------------------------------------------------------

Limits limits() {
    std::lock_guard<std::mutex> hold(limitsLock);
    return currentLimits;
}

void setLimits(const Limits& limits) {
    std::lock_guard<std::mutex> hold(limitsLock);
    currentLimits = limits;
}

void dropIdleConnections() {
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    p.idle.clear();
}

std::size_t idleConnectionCount() {
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    std::size_t count = 0;
    for (const auto& [key, list] : p.idle) count += list.size();
    return count;
}

std::string fetchUrl(const std::string& url, std::string* redirectTarget) {
    std::vector<std::string> chain;
    return fetchChain(url, redirectTarget, chain);
}

std::string download(const std::string& url, Progress progress, bool useCache,
                     std::string* redirectTarget) {
    if (useCache && redirectTarget) throw std::runtime_error("Caching precludes redirect info!");
    PageCache& cache = pageCache();
    Registration registration(url, std::move(progress));
    if (useCache) return cache.get(url);
    try {
        return fetchUrl(url, redirectTarget);
    } catch (const std::exception& e) {
        tools::logln("Downloading ", url, " failed: ", e.what());
    }
    return {};
}

bool isCached(const std::string& url) { return pageCache().has(url); }

namespace cbs {

Token add(const std::string& url, Progress cb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    Token token = r.next++;
    r.callbacks[url].emplace_back(token, std::move(cb));
    return token;
}

void remove(const std::string& url, Token t) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    auto found = r.callbacks.find(url);
    tools::check(found != r.callbacks.end(), "no progress callbacks for " + url);
    auto& list = found->second;
    auto it = std::find_if(list.begin(), list.end(), [t](const auto& e) { return e.first == t; });
    tools::check(it != list.end(), "progress callback not registered for " + url);
    if (list.size() == 1) {
        r.callbacks.erase(found);
        return;
    }
    *it = std::move(list.back());
    list.pop_back();
}

void notify(const std::string& url, float fraction) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    auto found = r.callbacks.find(url);
    if (found == r.callbacks.end()) return;
    // A copy: a callback may add or remove callbacks of this URL.
    std::vector<Progress> calls;
    for (const auto& entry : found->second) calls.push_back(entry.second);
    for (const auto& call : calls) call(fraction);
}

}  // namespace cbs

// ---------------------------------------------------------------------------------------
// Name resolution

namespace {

// Copies one getaddrinfo answer (IPv4 only) into the host's fields.
void fillFromAnswer(ActuallyThreadsafeInternetHost& host, const addrinfo* answer) {
    host.name.clear();
    host.aliases.clear();
    host.addresses.clear();
    for (const addrinfo* entry = answer; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen != sizeof(sockaddr_in))
            throw HostError("Address family mismatch");
        if (host.name.empty() && entry->ai_canonname) host.name = entry->ai_canonname;
        std::uint32_t address =
            ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
        if (std::find(host.addresses.begin(), host.addresses.end(), address) ==
            host.addresses.end())
            host.addresses.push_back(address);
    }
}

struct AnswerDeleter {
    void operator()(addrinfo* answer) const { freeaddrinfo(answer); }
};

}  // namespace

bool ActuallyThreadsafeInternetHost::lookupByName(const std::string& hostName) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* raw = nullptr;
    if (getaddrinfo(hostName.c_str(), nullptr, &hints, &raw) != 0 || !raw) return false;
    std::unique_ptr<addrinfo, AnswerDeleter> answer(raw);
    fillFromAnswer(*this, answer.get());
    if (name.empty()) name = hostName;
    return !addresses.empty();
}

bool ActuallyThreadsafeInternetHost::lookupByAddress(std::uint32_t address) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    char text[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, text,
                    sizeof text, nullptr, 0, NI_NAMEREQD) != 0)
        return false;
    name = text;
    aliases.clear();
    addresses = {address};
    return true;
}

bool ActuallyThreadsafeInternetHost::lookupByDottedAddress(const std::string& dotted) {
    in_addr parsed{};
    if (inet_pton(AF_INET, dotted.c_str(), &parsed) != 1) return false;
    return lookupByAddress(ntohl(parsed.s_addr));
}

ActuallyWorkingInternetAddress::ActuallyWorkingInternetAddress(std::uint16_t port,
                                                               const std::string& host) {
    address_.sin_family = AF_INET;
    address_.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address_.sin_addr) == 1) return;
    ActuallyThreadsafeInternetHost resolved;
    if (!resolved.lookupByName(host)) throw AddressError("Unable to resolve host '" + host + "'");
    address_.sin_addr.s_addr = htonl(resolved.addresses.front());
}

std::string ActuallyWorkingInternetAddress::toString() const {
    return addressText() + ":" + portText();
}
const sockaddr* ActuallyWorkingInternetAddress::socketAddress() const {
    return reinterpret_cast<const sockaddr*>(&address_);
}
std::uint16_t ActuallyWorkingInternetAddress::port() const { return ntohs(address_.sin_port); }
std::uint32_t ActuallyWorkingInternetAddress::address() const {
    return ntohl(address_.sin_addr.s_addr);
}
std::string ActuallyWorkingInternetAddress::addressText() const {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address_.sin_addr, text, sizeof text);
    return text;
}
std::string ActuallyWorkingInternetAddress::portText() const { return std::to_string(port()); }

}  // namespace downloader
