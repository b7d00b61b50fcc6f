#include "downloader/exchange.hpp"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "downloader/connection_pool.hpp"
#include "downloader/http_parts.hpp"
#include "downloader/progress.hpp"
#include "downloader/request.hpp"
#include "downloader/response_body.hpp"
#include "downloader/response_header.hpp"
#include "tools/log.hpp"

namespace downloader::detail {

namespace {

// The URLs whose redirects led to the one being fetched, oldest first.
using Chain = std::vector<std::string>;

std::string fetchChain(const std::string& url, std::string* redirectTarget, Chain& chain,
                       const Limits& limits);

// Follows a redirect: reports it or fetches the target, forwarding progress.
std::string followRedirect(const std::string& url, const Request& request, std::string target,
                           std::string* redirectTarget, Chain& chain, const Limits& limits) {
    tools::logln("Following redirect");
    if (target.starts_with("/"))
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
        Chain& chain;
        ~Pop() { chain.pop_back(); }
    } pop{chain};
    return fetchChain(target, nullptr, chain, limits);
}

std::string exchange(const std::string& url, std::string* redirectTarget, Chain& chain,
                     const Limits& limits) {
    const Request request = parseUrl(url);
    const RequestBytes bytes = requestBytes(request);
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
            socket = getConnection(request, bytes.line, fresh, pooled, limits);
        } catch (const HandshakeStalled& e) {
            tools::logln(e.what());
            continue;
        }
        fresh = false;
        socket.setTimeouts(limits.receiveTimeout);  // a pooled one may predate other limits
        sendHeaders(socket, bytes);

        ReceiveBuffer buffer;
        bool failedReceive = false;
        std::optional<std::string> text = receiveHeader(socket, buffer, limits, failedReceive);
        if (!text) {
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
        const ResponseHeader header = parseResponseHeader(std::move(*text), limits);
        if (header.location)
            return followRedirect(url, request, *header.location, redirectTarget, chain, limits);

        ResponseBody body = receiveBody(socket, buffer, header, url, limits);
        if (body.end != ResponseBody::End::complete) continue;
        if (body.connectionReusable && !header.closes) putIdle(key, std::move(socket));
        if (body.text.empty()) continue;
        return convertUtf16(std::move(body.text));
    }
}

std::string fetchChain(const std::string& url, std::string* redirectTarget, Chain& chain,
                       const Limits& limits) {
    if (url.empty()) throw std::runtime_error("URL empty");
    try {
        return exchange(url, redirectTarget, chain, limits);
    } catch (...) {
        tools::logln("Download failed. This is bad.");
        throw;
    }
}

}  // namespace

std::string fetch(const std::string& url, std::string* redirectTarget, const Limits& limits) {
    Chain chain;
    return fetchChain(url, redirectTarget, chain, limits);
}

}  // namespace downloader::detail
