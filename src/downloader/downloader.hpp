#pragma once
// The HTTP/1.1 client over TCP, with TLS for "https://" addresses: keep-alive connection
// pool per scheme, host and port, retries, chunked bodies, redirects, progress callbacks,
// UTF-16 to UTF-8 conversion and a 32 MiB page cache. This header is the layer's public
// face; the modules behind it are the socket, the connection pool, one exchange (request,
// header and body steps), the progress registry and name resolution.
//
// URLs may carry annotations in front, in this order: "POST=" + form data + " ",
// "REFER=" + referrer + " ", "1.0 " (HTTP/1.0 request line). Then an optional "http://"
// (plain, port 80) or "https://" (TLS, port 443), the host, an optional ":" + port and
// the path.
//
// Thread safety: everything here may be used from several threads at once.
#include <cstddef>
#include <string>

#include "downloader/limits.hpp"
#include "downloader/progress.hpp"

namespace downloader {

// The final answer to a request: its status (0 when a redirect was reported) and body.
struct Response {
    int status = 0;
    std::string body;
};

// A client with limits of its own (the process's defaults when none are given). All
// clients share the process's connection pool, host slots, response-byte budget, page
// cache and progress registry.
class HttpClient {
public:
    HttpClient() : limits_(defaultLimits()) {}
    explicit HttpClient(Limits limits) : limits_(limits) {}
    const Limits& limits() const { return limits_; }

    // Without cache: failures give "" and a log line. With cache: errors reach the caller.
    std::string download(const std::string& url, Progress progress = {}, bool useCache = false,
                         std::string* redirectTarget = nullptr) const;

    // One HTTP exchange with all its retries. Returns the body, or "" when a redirect was
    // reported through `redirectTarget`. Raises on failure.
    std::string fetchUrl(const std::string& url, std::string* redirectTarget = nullptr) const;
    // The same with the final status.
    Response fetchResponse(const std::string& url, std::string* redirectTarget = nullptr) const;

    // A page a crawler follows, without cache. An error status (400 and up, after the
    // retries) and Abandoned raise Abandoned naming the status or the limit; other
    // failures give "" and a log line, as with download.
    std::string downloadPage(const std::string& url) const;

private:
    Limits limits_;
};

// The same with a client of the default limits.
std::string download(const std::string& url, Progress progress = {}, bool useCache = false,
                     std::string* redirectTarget = nullptr);
std::string fetchUrl(const std::string& url, std::string* redirectTarget = nullptr);
std::string downloadPage(const std::string& url);

// Whether download(url, ..., useCache = true) would answer from the page cache.
bool isCached(const std::string& url);

// One more CA certificate file (PEM) that TLS connections trust beside the system's store;
// "" for none. Without it the environment variable TOVIK_EXTRA_CA names the file.
void setExtraCaFile(const std::string& path);
// TLS handshakes made so far by this process (tests, benchmarks).
std::size_t tlsHandshakeCount();

// Closes every idle pooled connection; the number of idle ones (tests, benchmarks).
void dropIdleConnections();
std::size_t idleConnectionCount();

}  // namespace downloader
