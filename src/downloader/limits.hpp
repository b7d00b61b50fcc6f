#pragma once
// The limits of one HTTP client: they keep a hostile or broken server from hanging or
// exhausting it. A plain value; each client (see downloader.hpp) holds its own copy, and
// clients made without one take the process's defaults (setDefaultLimits).
// Thread safety: copied, never shared; the process's defaults are read and set under a lock.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace downloader {

struct Limits {
    std::chrono::milliseconds connectTimeout{15000};
    std::chrono::milliseconds receiveTimeout{30000};   // silence that fails an attempt
    std::chrono::milliseconds connectRetryWait{1000};  // also the pause before a retry
    // A whole download, all attempts and redirects included.
    std::chrono::milliseconds overallDeadline{120000};
    // A server that has sent nothing at all by then fails the download.
    std::chrono::milliseconds silenceLimit{60000};
    // The longest Retry-After waited for; a longer one fails the download.
    std::chrono::milliseconds retryAfterCap{120000};
    std::size_t maxHeader = std::size_t{1} << 20;
    std::size_t maxBody = std::size_t{256} << 20;
    std::uint64_t maxChunk = std::uint64_t{256} << 20;
    int maxRedirects = 10;
};

// A download given up for good because a limit or the server's answer says so (overall
// deadline, silence, a Retry-After beyond the cap, the byte budget, an error status for a
// crawled page). Crawlers pass it on instead of reading it as an empty page.
class Abandoned : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The limits of clients made without limits of their own.
void setDefaultLimits(const Limits& limits);
Limits defaultLimits();

// Limits shared by every download of the process.
inline constexpr int defaultConnectionsPerHost = 2;
inline constexpr std::size_t defaultResponseBudget = std::size_t{512} << 20;
// Connections open to one host at the same time, over all threads (at least 1).
void setConnectionsPerHost(int connections);
// Response bytes all downloads in progress may hold together (at least 64 KiB).
void setResponseBudget(std::size_t bytes);

}  // namespace downloader
