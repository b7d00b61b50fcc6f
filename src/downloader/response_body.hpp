#pragma once
// The body step of one exchange: receiving the body the header announced (a length,
// chunks, or everything up to the close), with progress reports for bodies of known
// length.
//
// Thread safety: works on the calling exchange's socket and buffer only; progress goes
// through the (thread-safe) progress registry.
#include <string>

#include "downloader/download_bounds.hpp"
#include "downloader/http_parts.hpp"
#include "downloader/limits.hpp"
#include "downloader/response_header.hpp"
#include "downloader/socket.hpp"

namespace downloader::detail {

struct ResponseBody {
    enum class End {
        complete,  // the whole body arrived
        failed,    // a receive failed or timed out
        cutShort,  // the peer closed before the announced end (logged)
    };
    End end = End::failed;
    std::string text;  // the body (complete only)
    // The peer kept the connection open and sent nothing beyond the body.
    bool connectionReusable = false;
};

// Receives the body after `header`, starting with the bytes already in the buffer.
// Progress of a body of known length goes to the URL's callbacks. Bodies over the
// limits raise "Response body over N bytes" (or the chunk decoder's errors).
// The bytes held count against the shared budget through `share`; receives go through
// the download's timer.
ResponseBody receiveBody(Socket& socket, ReceiveBuffer& buffer, const ResponseHeader& header,
                         const std::string& url, const Limits& limits, DownloadTimer& timer,
                         BudgetShare& share);

}  // namespace downloader::detail
