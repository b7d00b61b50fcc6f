#include "downloader/socket.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "downloader/name_resolution.hpp"

namespace downloader::detail {

namespace {

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace

Socket::Socket(Socket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      timeout_(other.timeout_),
      ssl_(std::move(other.ssl_)),
      unsent_(std::move(other.unsent_)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        timeout_ = other.timeout_;
        ssl_ = std::move(other.ssl_);
        unsent_ = std::move(other.unsent_);
    }
    return *this;
}

void Socket::reset() {
    ssl_.reset();
    unsent_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void Socket::startTls(const std::string& host, std::chrono::milliseconds timeout) {
    ssl_ = detail::startTls(fd_, host, timeout);
    timeout_ = timeout;
}

ssize_t Socket::send(const std::string& bytes, bool more) {
    if (ssl_) {
        unsent_ += bytes;
        if (more) return static_cast<ssize_t>(bytes.size());
        std::string whole = std::move(unsent_);
        unsent_.clear();
        return tlsSend(ssl_.get(), whole) > 0 ? static_cast<ssize_t>(bytes.size()) : -1;
    }
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | (more ? MSG_MORE : 0));
}

ssize_t Socket::receive(char* data, std::size_t length) const {
    if (ssl_) return tlsReceive(ssl_.get(), data, length);
    for (;;) {
        ssize_t n = ::recv(fd_, data, length, 0);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

void Socket::setTimeouts(std::chrono::milliseconds timeout) {
    if (timeout == timeout_) return;
    timeout_ = timeout;
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

bool Socket::idleAndOpen() const {
    if (ssl_ && tlsPending(ssl_.get())) return false;
    pollfd wait{fd_, POLLIN, 0};
    return ::poll(&wait, 1, 0) == 0;
}

Socket connectTo(const ActuallyWorkingInternetAddress& address, const Limits& limits,
                 const std::string* tlsHost) {
    const auto started = std::chrono::steady_clock::now();
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket) throw std::runtime_error(errnoText(errno));
    int result = ::connect(socket.fd(), address.socketAddress(), address.length());
    if (result != 0 && errno != EINPROGRESS) throw std::runtime_error(errnoText(errno));
    if (result != 0) {
        pollfd wait{socket.fd(), POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&wait, 1, static_cast<int>(limits.connectTimeout.count()));
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) throw std::runtime_error("Connection timed out");
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (ready < 0 || error != 0) throw std::runtime_error(errnoText(error ? error : errno));
    }
    int flags = ::fcntl(socket.fd(), F_GETFL);
    ::fcntl(socket.fd(), F_SETFL, flags & ~O_NONBLOCK);
    int one = 1;
    ::setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (tlsHost) {
        auto left = limits.connectTimeout - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - started);
        socket.startTls(*tlsHost, std::max(left, std::chrono::milliseconds(1)));
    }
    socket.setTimeouts(limits.receiveTimeout);
    return socket;
}

}  // namespace downloader::detail
