#pragma once
// The header step of one exchange: receiving the response header and reading what it
// says about the body and the connection.
//
// Thread safety: works on the calling exchange's socket and buffer only.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "downloader/download_bounds.hpp"
#include "downloader/http_parts.hpp"
#include "downloader/limits.hpp"
#include "downloader/socket.hpp"

namespace downloader::detail {

// Receives until the blank line that ends the header; returns the header with that line,
// leaving the bytes after it in the buffer. Nothing when the peer closed first (logged as
// "Connection closed at " + bytes so far) or a receive failed or timed out (`failed` set).
// A header longer than limits.maxHeader raises "Response header over N bytes".
// Receives go through the download's timer, which raises Abandoned at its deadlines.
std::optional<std::string> receiveHeader(Socket& socket, ReceiveBuffer& buffer,
                                         const Limits& limits, DownloadTimer& timer, bool& failed);

struct ResponseHeader {
    std::string text;  // through the blank line
    int status = 0;    // from the status line; 0 when it has none
    // Retry-After in seconds or as an HTTP date, as a wait from now (not below 0).
    std::optional<std::chrono::milliseconds> retryAfter;
    bool hasLength = false;
    std::uint64_t length = 0;  // Content-Length (the name in any letter case)
    bool chunked = false;      // "transfer-encoding: chunked" in any letter case, without length
    std::optional<std::string> location;  // the value of the first "Location: " line
    bool closes = false;  // a "Connection: " line (as written) whose value holds "close"
};
// Reads a received header. A Content-Length that overflows raises "Invalid Content-Length",
// one over limits.maxBody "Response body over N bytes"; chunked mode logs "Recognize
// chunked mode".
ResponseHeader parseResponseHeader(std::string text, const Limits& limits);

}  // namespace downloader::detail
