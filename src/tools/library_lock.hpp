#pragma once
// One process per comic library: an exclusive advisory lock (flock) on a lock
// file in the library's directory. The kernel drops the lock when the process
// ends in any way, so a killed process never blocks the next start; the file
// itself stays (removing it would let two processes lock two different files).
// The descriptor is close-on-exec: programs the reader starts (a browser, the
// clipboard tool) never inherit the lock.
// Thread safety: a LibraryLock is owned by one thread; busy() may run anywhere.
#include <chrono>
#include <memory>
#include <string>

namespace tools {

// The lock file of the library in the working directory.
inline constexpr const char* libraryLockFile = "tovik.lock";

class LibraryLock {
public:
    // Takes the lock on path, trying again until wait has passed (zero: one
    // try). Null when another process still holds it; raises an error when the
    // lock file cannot be opened.
    static std::unique_ptr<LibraryLock> acquire(const std::string& path,
                                                std::chrono::milliseconds wait);
    ~LibraryLock();  // releases the lock
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;

    // Whether another process holds the lock on path now (false when there is
    // no lock file). Does not keep the lock.
    static bool busy(const std::string& path);

private:
    struct Key {
        explicit Key() = default;
    };

public:
    LibraryLock(Key, int fd) : fd_(fd) {}  // adopts fd; made by acquire only

private:
    int fd_;
};

}  // namespace tools
