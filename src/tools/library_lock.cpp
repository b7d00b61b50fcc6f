#include "tools/library_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace tools {
namespace {

// Tries the lock once: true when taken, false when someone else has it.
bool tryLock(int fd) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return false;
        throw std::runtime_error(std::string("Cannot lock the library: ") + std::strerror(errno));
    }
}

}  // namespace

std::unique_ptr<LibraryLock> LibraryLock::acquire(const std::string& path,
                                                  std::chrono::milliseconds wait) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("Cannot open the lock file " + path + ": " + std::strerror(errno));
    auto lock = std::make_unique<LibraryLock>(Key(), fd);  // owns fd from here
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (tryLock(fd)) return lock;
        if (std::chrono::steady_clock::now() >= until) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

LibraryLock::~LibraryLock() { ::close(fd_); }

bool LibraryLock::busy(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool taken = false;
    try {
        taken = tryLock(fd);
    } catch (...) {
    }
    ::close(fd);  // also releases a lock taken just now
    return !taken;
}

}  // namespace tools
