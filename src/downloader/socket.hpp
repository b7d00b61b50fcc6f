#pragma once
// A TCP connection of the HTTP client, with a TLS session on top for "https://" addresses,
// and the connect that makes one.
//
// Thread safety: a socket is used by one thread at a time (the connection pool hands each
// one to a single exchange); connectTo may run on several threads at once.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "downloader/limits.hpp"
#include "downloader/tls.hpp"

namespace downloader {
class ActuallyWorkingInternetAddress;
}

namespace downloader::detail {

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    ~Socket() { reset(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Ends the TLS session and closes the connection.
    void reset();

    // The TLS handshake for `host`, within `timeout`; then the socket speaks TLS.
    void startTls(const std::string& host, std::chrono::milliseconds timeout);

    // One send; more=true lets the kernel join it with the sends that follow. With TLS
    // the pieces are gathered and written as one record when more=false.
    ssize_t send(const std::string& bytes, bool more);

    // Up to `length` bytes; 0 when the peer closed; -1 on an error or when nothing
    // arrived within the timeout set by setTimeouts.
    ssize_t receive(char* data, std::size_t length) const;

    // Silence longer than the timeout fails a receive or a send.
    void setTimeouts(std::chrono::milliseconds timeout);

    // An idle connection is usable when nothing (no close, no stray bytes) arrived on it.
    bool idleAndOpen() const;

private:
    int fd_ = -1;
    std::chrono::milliseconds timeout_{-1};
    SslPtr ssl_;
    std::string unsent_;  // TLS: request pieces not yet written
};

// A connected socket; with `tlsHost` also the TLS handshake, which shares the connect
// time-out with the TCP connect. Raises with the system's message on failure, "Connection
// timed out" when the connect does not complete in time, TlsError or HandshakeStalled.
Socket connectTo(const ActuallyWorkingInternetAddress& address, const Limits& limits,
                 const std::string* tlsHost);

}  // namespace downloader::detail
