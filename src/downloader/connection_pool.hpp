#pragma once
// The connection pool: idle keep-alive connections per scheme, host and port, and the
// way an exchange gets a connection (an idle one that still works, else a new one).
// dropIdleConnections and idleConnectionCount (downloader.hpp) look into it.
//
// Thread safety: all functions may run on several threads at once. A connection is taken
// out of the pool before anything is sent on it, so no two threads share a socket.
#include <string>

#include "downloader/download_bounds.hpp"
#include "downloader/http_parts.hpp"
#include "downloader/limits.hpp"
#include "downloader/socket.hpp"

namespace downloader::detail {

// "host:port", or "https://host:port" for TLS.
std::string poolKey(const Request& request);

// Puts a connection back as idle under the key.
void putIdle(const std::string& key, Socket socket);

// A connection to the request's host and port on which the request line has been sent:
// an idle pooled one when one works (unless `fresh`), else a new one (4 connect attempts,
// each failure logged, "Cannot connect to target" after the last). `pooled` tells which.
// Connects and waits within the timer's deadline.
Socket getConnection(const Request& request, const std::string& requestLine, bool fresh,
                     bool& pooled, const Limits& limits, const DownloadTimer& timer);

}  // namespace downloader::detail
