#pragma once
// The HTTP/1.1 client over TCP, with TLS for "https://" addresses: keep-alive connection
// pool per scheme, host and port, retries, chunked bodies, redirects, progress callbacks,
// UTF-16 to UTF-8 conversion and a 32 MiB page cache.
//
// URLs may carry annotations in front, in this order: "POST=" + form data + " ",
// "REFER=" + referrer + " ", "1.0 " (HTTP/1.0 request line). Then an optional "http://"
// (plain, port 80) or "https://" (TLS, port 443), the host, an optional ":" + port and
// the path.
#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace downloader {

using Progress = std::function<void(float)>;

// Without cache: failures give "" and a log line. With cache: errors reach the caller.
std::string download(const std::string& url, Progress progress = {}, bool useCache = false,
                     std::string* redirectTarget = nullptr);

// Whether download(url, ..., useCache = true) would answer from the page cache.
bool isCached(const std::string& url);

// One HTTP exchange with all its retries. Returns the body, or "" when a redirect was
// reported through `redirectTarget`. Raises on failure.
std::string fetchUrl(const std::string& url, std::string* redirectTarget = nullptr);

// Progress registry: callbacks per URL, told the fraction of the body received (0..1).
// add returns a token; remove takes the token. notify may be called from a callback.
namespace cbs {
using Token = std::uint64_t;
Token add(const std::string& url, Progress cb);
void remove(const std::string& url, Token t);
void notify(const std::string& url, float fraction);
}  // namespace cbs

// Limits that keep a hostile or broken server from hanging or exhausting the client.
struct Limits {
    std::chrono::milliseconds connectTimeout{15000};
    std::chrono::milliseconds receiveTimeout{30000};  // silence that fails an attempt
    std::chrono::milliseconds connectRetryWait{1000};
    std::size_t maxHeader = std::size_t{1} << 20;
    std::size_t maxBody = std::size_t{256} << 20;
    std::uint64_t maxChunk = std::uint64_t{256} << 20;
    int maxRedirects = 10;
};
Limits limits();
void setLimits(const Limits& limits);  // tests lower the timeouts

// One more CA certificate file (PEM) that TLS connections trust beside the system's store;
// "" for none. Without it the environment variable TOVIK_EXTRA_CA names the file.
void setExtraCaFile(const std::string& path);
// TLS handshakes made so far by this process (tests, benchmarks).
std::size_t tlsHandshakeCount();

// Closes every idle pooled connection; the number of idle ones (tests, benchmarks).
void dropIdleConnections();
std::size_t idleConnectionCount();

// Name resolution errors.
class AddressError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};
class HostError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The answer of one IPv4 lookup, copied out of the resolver at once.
class ActuallyThreadsafeInternetHost {
public:
    virtual ~ActuallyThreadsafeInternetHost() = default;
    virtual bool lookupByName(const std::string& name);
    virtual bool lookupByAddress(std::uint32_t address);  // host order
    virtual bool lookupByDottedAddress(const std::string& dotted);

    std::string name;
    std::vector<std::string> aliases;
    std::vector<std::uint32_t> addresses;  // host order
};

// An IPv4 socket address: dotted text used directly, anything else resolved by name.
class ActuallyWorkingInternetAddress {
public:
    ActuallyWorkingInternetAddress(std::uint16_t port, const std::string& host);
    virtual ~ActuallyWorkingInternetAddress() = default;
    virtual std::string toString() const;  // "1.2.3.4:80"
    virtual const sockaddr* socketAddress() const;
    virtual socklen_t length() const { return sizeof(address_); }
    virtual int family() const { return AF_INET; }
    virtual std::uint16_t port() const;
    virtual std::uint32_t address() const;
    virtual std::string addressText() const;
    virtual std::string portText() const;

private:
    sockaddr_in address_{};
};

}  // namespace downloader
