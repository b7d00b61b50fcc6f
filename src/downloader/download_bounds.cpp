#include "downloader/download_bounds.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "downloader/socket.hpp"

namespace downloader {

namespace {

std::mutex defaultsLock;
Limits defaults;

std::string seconds(std::chrono::milliseconds span) {
    auto whole = span.count() / 1000;
    auto tenths = (span.count() % 1000) / 100;
    return std::to_string(whole) + (tenths ? "." + std::to_string(tenths) : "") + " s";
}

}  // namespace

void setDefaultLimits(const Limits& limits) {
    std::lock_guard<std::mutex> hold(defaultsLock);
    defaults = limits;
}

Limits defaultLimits() {
    std::lock_guard<std::mutex> hold(defaultsLock);
    return defaults;
}

namespace detail {

namespace {

using std::chrono::milliseconds;

milliseconds until(Clock::time_point end) {
    return std::chrono::duration_cast<milliseconds>(end - Clock::now());
}

struct Hosts {
    std::mutex lock;
    std::condition_variable freed;
    int perHost = defaultConnectionsPerHost;
    std::unordered_map<std::string, int> busy;
    std::unordered_map<std::string, Clock::time_point> pausedUntil;
};

Hosts& hosts() {
    static Hosts* instance = new Hosts;  // lives until the very end of the process
    return *instance;
}

struct Budget {
    std::mutex lock;
    std::condition_variable freed;
    std::size_t capacity = defaultResponseBudget;
    std::size_t used = 0;
};

Budget& budget() {
    static Budget* instance = new Budget;  // lives until the very end of the process
    return *instance;
}

std::string amount(std::size_t bytes) {
    if (bytes % (std::size_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// Budget is taken in steps of this size, so growing buffers take the lock rarely.
constexpr std::size_t budgetStep = std::size_t{64} << 10;

}  // namespace

DownloadTimer::DownloadTimer(const Limits& limits, std::string url)
    : limits_(limits),
      url_(std::move(url)),
      deadline_(Clock::now() + limits.overallDeadline),
      silenceEnd_(Clock::now() + limits.silenceLimit) {}

Clock::time_point DownloadTimer::effectiveEnd() const {
    return heard_ ? deadline_ : std::min(deadline_, silenceEnd_);
}

void DownloadTimer::expire() const {
    if (!heard_ && Clock::now() >= silenceEnd_ && silenceEnd_ <= deadline_)
        throw Abandoned("No answer from the server within " + seconds(limits_.silenceLimit) + ": " +
                        url_);
    throw Abandoned("Download not finished within " + seconds(limits_.overallDeadline) + ": " +
                    url_);
}

milliseconds DownloadTimer::left() const {
    milliseconds rest = until(effectiveEnd());
    if (rest.count() <= 0) expire();
    return rest;
}

ssize_t DownloadTimer::receive(Socket& socket, char* data, std::size_t length) {
    // Changing the socket's timeout costs a system call: only near a deadline.
    socket.setTimeouts(std::min(limits_.receiveTimeout, left()));
    ssize_t n = socket.receive(data, length);
    if (n > 0) heard_ = true;
    if (n < 0 && Clock::now() >= effectiveEnd()) expire();
    return n;
}

void DownloadTimer::sleep(milliseconds pause) const {
    if (Clock::now() + pause >= deadline_)
        throw Abandoned("Download not finished within " + seconds(limits_.overallDeadline) +
                        " (a retry would come after it): " + url_);
    std::this_thread::sleep_for(pause);
}

HostSlot::HostSlot(const std::string& host, const DownloadTimer& timer) {
    Hosts& h = hosts();
    std::unique_lock<std::mutex> hold(h.lock);
    for (;;) {
        auto paused = h.pausedUntil.find(host);
        Clock::time_point wakeAt = timer.deadline();
        bool wait = false;
        if (paused != h.pausedUntil.end()) {
            if (paused->second > Clock::now()) {
                wait = true;
                wakeAt = std::min(wakeAt, paused->second);
            } else {
                h.pausedUntil.erase(paused);
            }
        }
        if (!wait && h.busy[host] < h.perHost) break;
        if (Clock::now() >= timer.deadline()) {
            hold.unlock();
            timer.expire();
        }
        h.freed.wait_until(hold, wakeAt);
    }
    ++h.busy[host];
    host_ = host;
}

HostSlot& HostSlot::operator=(HostSlot&& other) noexcept {
    if (this != &other) {
        release();
        host_ = std::move(other.host_);
        other.host_.clear();
    }
    return *this;
}

void HostSlot::release() {
    if (host_.empty()) return;
    Hosts& h = hosts();
    {
        std::lock_guard<std::mutex> hold(h.lock);
        auto found = h.busy.find(host_);
        if (found != h.busy.end() && --found->second <= 0) h.busy.erase(found);
    }
    host_.clear();
    h.freed.notify_all();
}

void pauseHost(const std::string& host, Clock::time_point until) {
    Hosts& h = hosts();
    std::lock_guard<std::mutex> hold(h.lock);
    Clock::time_point& end = h.pausedUntil[host];
    end = std::max(end, until);
}

int busyConnections(const std::string& host) {
    Hosts& h = hosts();
    std::lock_guard<std::mutex> hold(h.lock);
    auto found = h.busy.find(host);
    return found == h.busy.end() ? 0 : found->second;
}

BudgetShare::~BudgetShare() {
    if (held_ == 0) return;
    Budget& b = budget();
    {
        std::lock_guard<std::mutex> hold(b.lock);
        b.used -= held_;
    }
    b.freed.notify_all();
}

void BudgetShare::cover(std::size_t bytes) {
    if (bytes <= held_) return;
    std::size_t more = (bytes - held_ + budgetStep - 1) / budgetStep * budgetStep;
    Budget& b = budget();
    std::lock_guard<std::mutex> hold(b.lock);
    if (b.used + more > b.capacity)
        throw Abandoned("Downloads in progress would hold more than the " + amount(b.capacity) +
                        " allowed for responses: " + url_);
    b.used += more;
    held_ += more;
}

void BudgetShare::coverWaiting(std::size_t bytes, const DownloadTimer& timer) {
    if (bytes <= held_) return;
    std::size_t more = bytes - held_;
    Budget& b = budget();
    std::unique_lock<std::mutex> hold(b.lock);
    if (bytes > b.capacity)
        throw Abandoned("A response of " + std::to_string(bytes) + " bytes is more than the " +
                        amount(b.capacity) + " allowed for responses: " + url_);
    while (b.used + more > b.capacity) {
        if (b.freed.wait_until(hold, timer.deadline()) == std::cv_status::timeout &&
            b.used + more > b.capacity)
            throw Abandoned("No room for a response of " + std::to_string(bytes) +
                            " bytes before the deadline: " + url_);
    }
    b.used += more;
    held_ += more;
}

std::size_t responseBytesHeld() {
    Budget& b = budget();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.used;
}

}  // namespace detail

void setConnectionsPerHost(int connections) {
    detail::Hosts& h = detail::hosts();
    {
        std::lock_guard<std::mutex> hold(h.lock);
        h.perHost = std::max(connections, 1);
    }
    h.freed.notify_all();
}

void setResponseBudget(std::size_t bytes) {
    detail::Budget& b = detail::budget();
    {
        std::lock_guard<std::mutex> hold(b.lock);
        b.capacity = std::max(bytes, detail::budgetStep);
    }
    b.freed.notify_all();
}

}  // namespace downloader
