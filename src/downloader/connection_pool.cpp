#include "downloader/connection_pool.hpp"

#include <algorithm>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "downloader/downloader.hpp"
#include "downloader/name_resolution.hpp"
#include "tools/log.hpp"

namespace downloader {

namespace detail {

namespace {

struct Pool {
    std::mutex lock;
    // "host:port" or "https://host:port" -> oldest first
    std::unordered_map<std::string, std::deque<Socket>> idle;
};

Pool& pool() {
    static Pool* instance = new Pool;  // lives until the very end of the process
    return *instance;
}

Socket takeIdle(const std::string& key) {
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    auto found = p.idle.find(key);
    if (found == p.idle.end()) return Socket();
    Socket socket = std::move(found->second.front());
    found->second.pop_front();
    if (found->second.empty()) p.idle.erase(found);
    return socket;
}

}  // namespace

std::string poolKey(const Request& request) {
    return (request.tls ? "https://" : "") + request.host + ":" + std::to_string(request.port);
}

void putIdle(const std::string& key, Socket socket) {
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    p.idle[key].push_back(std::move(socket));
}

Socket getConnection(const Request& request, const std::string& requestLine, bool fresh,
                     bool& pooled, const Limits& limits, const DownloadTimer& timer) {
    std::string key = poolKey(request);
    if (!fresh) {
        // Taken out of the pool before anything is sent: no two threads share a socket.
        while (Socket socket = takeIdle(key)) {
            if (!socket.idleAndOpen()) continue;
            if (socket.send(requestLine, true) > 0) {
                pooled = true;
                return socket;
            }
        }
    }
    pooled = false;
    for (int remaining = 3;; --remaining) {
        std::string problem;
        try {
            Ipv4SocketAddress address(request.port, request.host);
            Limits bounded = limits;
            bounded.connectTimeout = std::min(limits.connectTimeout, timer.left());
            Socket socket = connectTo(address, bounded, request.tls ? &request.host : nullptr);
            socket.send(requestLine, true);
            return socket;
        } catch (const TlsError&) {
            throw;  // a certificate that fails now fails again
        } catch (const HandshakeStalled&) {
            throw;  // costs a request attempt
        } catch (const Abandoned&) {
            throw;
        } catch (const std::exception& e) {
            problem = e.what();
        } catch (...) {
            problem = "[INVALID EXCEPTION]";
        }
        tools::logln("Socket exception ", problem, " occured; tries ", remaining);
        if (remaining == 0) throw std::runtime_error("Cannot connect to target");
        tools::logln("Waiting 1s before retry");
        timer.sleep(limits.connectRetryWait);
    }
}

}  // namespace detail

void dropIdleConnections() {
    detail::Pool& p = detail::pool();
    std::lock_guard<std::mutex> hold(p.lock);
    p.idle.clear();
}

std::size_t idleConnectionCount() {
    detail::Pool& p = detail::pool();
    std::lock_guard<std::mutex> hold(p.lock);
    std::size_t count = 0;
    for (const auto& [key, list] : p.idle) count += list.size();
    return count;
}

}  // namespace downloader
