#include "tools/files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>

#include "tools/file_descriptor.hpp"
#include "tools/log.hpp"

namespace tools {
namespace {

using Fd = FileDescriptor;

std::string systemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string readWholeFile(const std::string& path) {
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) throw std::runtime_error("Cannot read " + path);
    // Straight into a string of the file's size; on past it should the file
    // have grown (or have no size, as a pipe). A directory reads as empty; a
    // failing read raises rather than hand over part of the file as all of it.
    std::string data;
    struct stat info {};
    if (::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        data.resize(static_cast<std::size_t>(info.st_size));
    std::size_t filled = 0;
    char block[16384];
    for (;;) {
        const bool intoData = filled < data.size();
        char* to = intoData ? data.data() + filled : block;
        const std::size_t room = intoData ? data.size() - filled : sizeof block;
        const ssize_t n = ::read(file.get(), to, room);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EISDIR) throw std::runtime_error("Cannot read " + path);
        if (n <= 0) break;
        if (intoData) {
            filled += static_cast<std::size_t>(n);
        } else {
            data.resize(filled);
            data.append(block, static_cast<std::size_t>(n));
            filled = data.size();
        }
    }
    data.resize(filled);
    return data;
}

namespace {

// A locked temporary file beside path holding data, not yet flushed. The
// caller owns the descriptor; the file is removed when writing fails.
std::pair<int, std::string> writeTemporary(const std::string& path, const std::string& data) {
    std::filesystem::path target(path);
    std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
    std::string pattern = (dir / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
    Fd fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) throw std::runtime_error(systemError("Cannot create", pattern));
    // Tells removeStaleTemporaries that this one is still being written; the
    // lock goes with the descriptor, also when the process is killed.
    ::flock(fd.get(), LOCK_EX | LOCK_NB);
    struct Cleanup {
        std::string path;
        bool armed = true;
        ~Cleanup() {
            if (armed) ::unlink(path.c_str());
        }
    } cleanup{pattern};
    if (!writeFully(fd.get(), data.data(), data.size()))
        throw std::runtime_error(systemError("Cannot write", pattern));
    ::fchmod(fd.get(), 0644);
    cleanup.armed = false;
    return {fd.release(), pattern};
}

void syncDirectory(const std::string& path) {
    std::filesystem::path target(path);
    std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
    Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY));
    if (dirFd.get() >= 0) ::fsync(dirFd.get());
}

}  // namespace

void writeFileAtomically(const std::string& path, const std::string& data) {
    auto [descriptor, temporary] = writeTemporary(path, data);
    Fd fd(descriptor);
    struct Cleanup {
        const std::string& path;
        bool armed = true;
        ~Cleanup() {
            if (armed) ::unlink(path.c_str());
        }
    } cleanup{temporary};
    if (::fsync(fd.get()) != 0) throw std::runtime_error(systemError("Cannot sync", temporary));
    if (::close(fd.release()) != 0)
        throw std::runtime_error(systemError("Cannot close", temporary));
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        throw std::runtime_error(systemError("Cannot replace", path));
    cleanup.armed = false;
    syncDirectory(path);
}

WriteBatch::WriteBatch(std::size_t maxPending) : maxPending_(maxPending > 0 ? maxPending : 1) {}

WriteBatch::~WriteBatch() { discard(); }

void WriteBatch::discard() {
    for (const Pending& p : pending_) {
        ::unlink(p.temporary.c_str());
        ::close(p.fd);
    }
    pending_.clear();
}

void WriteBatch::add(const std::string& path, const std::string& data, std::function<void()> then) {
    if (pending_.size() >= maxPending_) commit();
    pending_.reserve(pending_.size() + 1);
    auto [fd, temporary] = writeTemporary(path, data);
    pending_.push_back({fd, std::move(temporary), path, std::move(then)});
}

void WriteBatch::commit() {
    if (pending_.empty()) return;
    std::vector<Pending> batch = std::move(pending_);
    pending_.clear();
    auto drop = [&batch](std::size_t from) {
        for (std::size_t i = from; i < batch.size(); ++i) {
            if (batch[i].fd >= 0) ::close(batch[i].fd);
            ::unlink(batch[i].temporary.c_str());
        }
    };
    // One sync of the whole file system costs about what a single fsync does;
    // where it is refused, every file is flushed on its own.
    if (::syncfs(batch.front().fd) != 0) {
        for (const Pending& p : batch) {
            if (::fsync(p.fd) == 0) continue;
            std::runtime_error error(systemError("Cannot sync", p.temporary));
            drop(0);
            throw error;
        }
    }
    std::optional<std::runtime_error> failure;
    std::size_t renamed = 0;
    for (; renamed < batch.size(); ++renamed) {
        Pending& p = batch[renamed];
        const int closed = ::close(p.fd);
        p.fd = -1;
        if (closed != 0 || ::rename(p.temporary.c_str(), p.target.c_str()) != 0) {
            failure.emplace(systemError("Cannot replace", p.target));
            break;
        }
    }
    if (failure) drop(renamed);
    std::set<std::string> directories;
    for (std::size_t i = 0; i < renamed; ++i) {
        std::filesystem::path target(batch[i].target);
        directories.insert(target.has_parent_path() ? target.parent_path().string() : ".");
    }
    for (const std::string& dir : directories) {
        Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY));
        if (dirFd.get() >= 0) ::fsync(dirFd.get());
    }
    for (std::size_t i = 0; i < renamed; ++i)
        if (batch[i].then) batch[i].then();
    if (failure) throw *failure;
}

int removeStaleTemporaries(const std::string& dir) {
    namespace fs = std::filesystem;
    int removed = 0;
    std::error_code error;
    fs::directory_iterator it(dir, error);
    if (error) return 0;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        const std::size_t mark = name.rfind(".tmp-");
        if (name.size() < 2 || name[0] != '.' || mark == std::string::npos ||
            name.size() - mark != 11 || !entry.is_regular_file(error))
            continue;
        const std::string path = entry.path().string();
        Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // being written
        if (::unlink(path.c_str()) == 0) {
            logln("Removed ", path, ", left by a write that did not finish");
            ++removed;
        }
    }
    return removed;
}

}  // namespace tools
