#pragma once
// What keeps downloads within bounds beyond one connection: the time of a whole download
// (overall deadline, silence limit), the connections open to each host together with the
// pause a host asked for (Retry-After), and the response bytes all downloads hold.
//
// Thread safety: a DownloadTimer and a BudgetShare belong to one exchange (one thread);
// the host slots and the byte budget behind them are process-wide and locked.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "downloader/limits.hpp"

namespace downloader::detail {

class Socket;
using Clock = std::chrono::steady_clock;

// The clock of one download, all attempts and redirects included.
class DownloadTimer {
public:
    DownloadTimer(const Limits& limits, std::string url);

    // One receive within the limits: near a deadline the socket's timeout shrinks to
    // it. -1 when the receive failed or the per-receive limit passed (an attempt lost);
    // raises Abandoned when the whole download's time or its silence is used up.
    ssize_t receive(Socket& socket, char* data, std::size_t length);
    // Time left before the deadline (or the silence limit while nothing arrived);
    // raises Abandoned when none is left.
    std::chrono::milliseconds left() const;
    // Sleeps; raises Abandoned instead when the sleep would pass the deadline.
    void sleep(std::chrono::milliseconds pause) const;
    Clock::time_point deadline() const { return deadline_; }
    const std::string& url() const { return url_; }
    [[noreturn]] void expire() const;

private:
    Clock::time_point effectiveEnd() const;

    const Limits& limits_;
    std::string url_;
    Clock::time_point deadline_;
    Clock::time_point silenceEnd_;
    bool heard_ = false;  // some byte arrived
};

// A connection's place among the few one host may have open at once.
class HostSlot {
public:
    HostSlot() = default;
    // Waits for a free place on the host, and for the end of a pause it asked for;
    // raises Abandoned when the timer's deadline comes first.
    HostSlot(const std::string& host, const DownloadTimer& timer);
    HostSlot(HostSlot&& other) noexcept : host_(std::move(other.host_)) { other.host_.clear(); }
    HostSlot& operator=(HostSlot&& other) noexcept;
    HostSlot(const HostSlot&) = delete;
    HostSlot& operator=(const HostSlot&) = delete;
    ~HostSlot() { release(); }
    void release();

private:
    std::string host_;
};
// No request to the host starts before `until` (a Retry-After answer).
void pauseHost(const std::string& host, Clock::time_point until);
// Connections to the host in use now (tests).
int busyConnections(const std::string& host);

// The part of the shared response-byte budget that one exchange holds; given back when
// it goes.
class BudgetShare {
public:
    explicit BudgetShare(std::string url) : url_(std::move(url)) {}
    ~BudgetShare();
    BudgetShare(const BudgetShare&) = delete;
    BudgetShare& operator=(const BudgetShare&) = delete;
    // Holds at least `bytes`; raises Abandoned when the budget has no room now.
    void cover(std::size_t bytes);
    // The same for a body of announced length: waits for room until the deadline.
    void coverWaiting(std::size_t bytes, const DownloadTimer& timer);
    std::size_t held() const { return held_; }

private:
    std::string url_;
    std::size_t held_ = 0;
};
// Bytes held by all exchanges now (tests).
std::size_t responseBytesHeld();

}  // namespace downloader::detail
