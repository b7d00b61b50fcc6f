// A server's answer fed through the client's receive path: the header step, the
// reading of the header and the body step (length, chunks or up to the close).
// The bytes come from the other end of a local socket pair that is closed after
// them, so the receive code runs unchanged and no network is involved.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "downloader/response_body.hpp"
#include "downloader/response_header.hpp"
#include "fuzz_support.hpp"

namespace {

// Small limits, so that the limit checks are reached by short inputs.
downloader::Limits fuzzLimits() {
    downloader::Limits limits;
    limits.receiveTimeout = std::chrono::milliseconds(2000);
    limits.overallDeadline = std::chrono::milliseconds(5000);
    limits.silenceLimit = std::chrono::milliseconds(3000);
    limits.maxHeader = 4096;
    limits.maxBody = 1 << 16;
    limits.maxChunk = 1 << 15;
    return limits;
}

// What a socket pair's send buffer surely takes without a reader.
constexpr std::size_t maxInput = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace downloader::detail;
    fuzz::silenceLog();
    if (size > maxInput) return 0;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 0;
    int buffer = 1 << 18;
    ::setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(ends[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    Socket socket(ends[0]);
    std::size_t sent = 0;
    while (sent < size) {
        ssize_t n = ::send(ends[1], data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    ::close(ends[1]);

    const downloader::Limits limits = fuzzLimits();
    socket.setTimeouts(limits.receiveTimeout);
    try {
        ReceiveBuffer received;
        DownloadTimer timer(limits, "fuzz.invalid/");
        BudgetShare budget("fuzz.invalid/");
        bool failed = false;
        std::optional<std::string> text = receiveHeader(socket, received, limits, timer, failed);
        if (!text) return 0;
        ResponseHeader header = parseResponseHeader(std::move(*text), limits);
        if (header.location) return 0;
        ResponseBody body =
            receiveBody(socket, received, header, "fuzz.invalid/", limits, timer, budget);
        if (body.end == ResponseBody::End::complete) convertUtf16(std::move(body.text));
    } catch (const std::exception&) {
    }
    return 0;
}
