#include "downloader/response_body.hpp"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "downloader/progress.hpp"
#include "tools/log.hpp"

namespace downloader::detail {

ResponseBody receiveBody(Socket& socket, ReceiveBuffer& buffer, const ResponseHeader& header,
                         const std::string& url, const Limits& limits, DownloadTimer& timer,
                         BudgetShare& share) {
    // A body of announced length waits for room in the budget before it arrives, and is
    // received into a buffer of its size; others take room as they grow.
    if (header.hasLength && !header.chunked) {
        const std::size_t total = static_cast<std::size_t>(header.length) + 1024;
        share.coverWaiting(std::max(total, buffer.held()), timer);
        buffer.reserve(total);
    }
    std::string decoded;  // a chunked body so far
    // Whether what the buffer holds completes the body.
    auto completed = [&] {
        if (header.chunked)
            return decodeChunks(buffer, decoded, false, limits) == ChunkState::complete;
        if (header.hasLength) {
            // A present zero length is complete with the header.
            if (buffer.length() >= header.length) {
                tools::logln("Received all data");
                return true;
            }
        } else if (buffer.length() > limits.maxBody) {
            throw std::runtime_error("Response body over " + std::to_string(limits.maxBody) +
                                     " bytes");
        }
        return false;
    };

    bool complete = completed();  // the bytes that came with the header
    bool closed = false;
    char block[1024];
    while (!complete) {
        ssize_t n = timer.receive(socket, block, sizeof block);
        if (n < 0) return ResponseBody{};
        if (n == 0) {
            closed = true;
            tools::logln("Connection closed at ", buffer.length());
            break;
        }
        buffer.append(block, static_cast<std::size_t>(n));
        share.cover(buffer.held() + decoded.size());
        if (!header.chunked && header.hasLength && header.length > 0)
            progress_registry::notify(url, std::min(1.0f, static_cast<float>(buffer.length()) /
                                                              static_cast<float>(header.length)));
        complete = completed();
    }

    ResponseBody body;
    if (!header.hasLength && !header.chunked) complete = true;  // the body ends at the close
    if (!complete) {
        tools::logln("Response cut short after ", header.chunked ? decoded.size() : buffer.length(),
                     " body bytes");
        body.end = ResponseBody::End::cutShort;
        return body;
    }
    body.end = ResponseBody::End::complete;
    // Bytes beyond the announced length: the connection is out of step.
    body.connectionReusable = !closed && !(header.hasLength && buffer.length() > header.length);
    if (header.chunked) {
        body.text = std::move(decoded);
    } else {
        body.text = buffer.take(header.hasLength ? static_cast<std::size_t>(header.length)
                                                 : buffer.length());
    }
    return body;
}

}  // namespace downloader::detail
