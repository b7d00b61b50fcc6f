#pragma once
// An owned POSIX file descriptor, and whole reads and writes on one.
// Thread safety: a descriptor belongs to one thread at a time.
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace tools {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // Gives the descriptor up without closing it.
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Reads exactly n bytes (retrying interrupted and short reads); false on an
// error or an end of file first (errno tells which when it is set).
inline bool readFully(int fd, char* at, std::size_t n) {
    while (n > 0) {
        ssize_t got = ::read(fd, at, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// Writes all n bytes (retrying interrupted and short writes); false on an error.
inline bool writeFully(int fd, const char* at, std::size_t n) {
    while (n > 0) {
        ssize_t put = ::write(fd, at, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace tools
