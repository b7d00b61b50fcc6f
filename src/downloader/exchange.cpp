#include "downloader/exchange.hpp"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "downloader/connection_pool.hpp"
#include "downloader/download_bounds.hpp"
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

std::string seconds(std::chrono::milliseconds span) {
    return std::to_string((span.count() + 999) / 1000) + " s";
}

Answer fetchChain(const std::string& url, std::string* redirectTarget, Chain& chain,
                  const Limits& limits, DownloadTimer& timer);

// An answer that asks to come back later (429, 5xx): the pause before the next attempt.
// A Retry-After beyond the cap gives up at once; the host is paused for every thread.
std::chrono::milliseconds pauseFor(const ResponseHeader& header, const Request& request,
                                   const std::string& url, const Limits& limits) {
    if (header.retryAfter && (header.status == 429 || header.status == 503)) {
        if (*header.retryAfter > limits.retryAfterCap)
            throw Abandoned("The server asks to wait " + seconds(*header.retryAfter) +
                            " before retrying, more than the " + seconds(limits.retryAfterCap) +
                            " allowed (status " + std::to_string(header.status) + "): " + url);
        auto pause = std::max(*header.retryAfter, limits.connectRetryWait);
        pauseHost(request.host, Clock::now() + pause);
        return pause;
    }
    return limits.connectRetryWait;
}

bool asksToRetry(int status) { return status == 429 || (status >= 500 && status <= 599); }

// Follows a redirect: reports it or fetches the target, forwarding progress.
Answer followRedirect(const std::string& url, const Request& request, std::string target,
                      std::string* redirectTarget, Chain& chain, const Limits& limits,
                      DownloadTimer& timer) {
    tools::logln("Following redirect");
    if (target.starts_with("/"))
        target = (request.tls ? "https://" : "") + request.host + ":" +
                 std::to_string(request.port) + target;
    if (redirectTarget) {
        *redirectTarget = target;
        return Answer{};
    }
    if (static_cast<int>(chain.size()) >= limits.maxRedirects)
        throw std::runtime_error("Too many redirects");
    // A chain that comes back to an address already forwarded adds no second forwarder,
    // so notify cannot go round in circles.
    bool alreadyForwarded =
        target == url || std::find(chain.begin(), chain.end(), target) != chain.end();
    Progress forward;
    if (!alreadyForwarded)
        forward = [url](float fraction) { progress_registry::notify(url, fraction); };
    Registration registration(target, forward);
    chain.push_back(url);
    struct Pop {
        Chain& chain;
        ~Pop() { chain.pop_back(); }
    } pop{chain};
    return fetchChain(target, nullptr, chain, limits, timer);
}

Answer exchange(const std::string& url, std::string* redirectTarget, Chain& chain,
                const Limits& limits, DownloadTimer& timer) {
    const Request request = parseUrl(url);
    const RequestBytes bytes = requestBytes(request);
    const std::string key = poolKey(request);

    int attemptsLeft = 3;
    bool staleRetryUsed = false;
    bool fresh = false;
    std::optional<Answer> retryAnswer;  // the last answer that asked to come back later
    std::chrono::milliseconds pause{0};
    for (;;) {
        if (attemptsLeft == 0) {
            if (retryAnswer) return std::move(*retryAnswer);
            throw std::runtime_error("Can't download page.");
        }
        --attemptsLeft;
        if (pause.count() > 0) timer.sleep(pause);
        pause = {};
        // Each attempt holds one of the few places its host has, given back before a
        // redirect is followed (which may lead to the same host).
        HostSlot slot(request.host, timer);
        BudgetShare share(url);
        bool pooled = false;
        Socket socket;
        try {
            socket = getConnection(request, bytes.line, fresh, pooled, limits, timer);
        } catch (const HandshakeStalled& e) {
            tools::logln(e.what());
            continue;
        }
        fresh = false;
        socket.setTimeouts(std::min(limits.receiveTimeout, timer.left()));
        sendHeaders(socket, bytes);

        ReceiveBuffer buffer;
        bool failedReceive = false;
        std::optional<std::string> text =
            receiveHeader(socket, buffer, limits, timer, failedReceive);
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
        if (header.location) {
            socket.reset();
            slot.release();
            return followRedirect(url, request, *header.location, redirectTarget, chain, limits,
                                  timer);
        }

        ResponseBody body = receiveBody(socket, buffer, header, url, limits, timer, share);
        if (body.end != ResponseBody::End::complete) continue;
        if (body.connectionReusable && !header.closes) putIdle(key, std::move(socket));
        if (asksToRetry(header.status)) {
            tools::logln("Status ", header.status, " from ", url,
                         attemptsLeft > 0 ? ", trying again" : "");
            pause = pauseFor(header, request, url, limits);
            retryAnswer = Answer{header.status, convertUtf16(std::move(body.text))};
            continue;
        }
        if (body.text.empty()) continue;
        return Answer{header.status, convertUtf16(std::move(body.text))};
    }
}

Answer fetchChain(const std::string& url, std::string* redirectTarget, Chain& chain,
                  const Limits& limits, DownloadTimer& timer) {
    if (url.empty()) throw std::runtime_error("URL empty");
    try {
        return exchange(url, redirectTarget, chain, limits, timer);
    } catch (...) {
        tools::logln("Download failed. This is bad.");
        throw;
    }
}

}  // namespace

Answer fetch(const std::string& url, std::string* redirectTarget, const Limits& limits) {
    Chain chain;
    DownloadTimer timer(limits, url);
    return fetchChain(url, redirectTarget, chain, limits, timer);
}

}  // namespace downloader::detail
