#pragma once
// The request step of one exchange: the bytes the client sends for a request.
//
// Thread safety: pure functions of their arguments; sendHeaders uses the socket of the
// calling exchange only.
#include <string>
#include <vector>

#include "downloader/http_parts.hpp"
#include "downloader/socket.hpp"

namespace downloader::detail {

struct RequestBytes {
    // "GET /path HTTP/1.1\r\n" (or POST, or HTTP/1.0): sent when the connection is taken,
    // so that a dead pooled connection shows before the rest goes out.
    std::string line;
    // The header lines in order; the last one is the blank line and the form data.
    std::vector<std::string> headers;
};
RequestBytes requestBytes(const Request& request);

// Sends the header lines after the request line, the last one completing the request.
void sendHeaders(Socket& socket, const RequestBytes& bytes);

}  // namespace downloader::detail
