#include "tools/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tools {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }

private:
    int fd_;
};

std::string systemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("Cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) throw std::runtime_error("Cannot read " + path);
    return s.str();
}

void writeFileAtomically(const std::string& path, const std::string& data) {
    std::filesystem::path target(path);
    std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
    std::string pattern = (dir / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
    Fd fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) throw std::runtime_error(systemError("Cannot create", pattern));
    struct Cleanup {
        std::string path;
        bool armed = true;
        ~Cleanup() {
            if (armed) ::unlink(path.c_str());
        }
    } cleanup{pattern};
    const char* at = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd.get(), at, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(systemError("Cannot write", pattern));
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    ::fchmod(fd.get(), 0644);
    if (::fsync(fd.get()) != 0) throw std::runtime_error(systemError("Cannot sync", pattern));
    if (::close(fd.release()) != 0) throw std::runtime_error(systemError("Cannot close", pattern));
    if (::rename(pattern.c_str(), path.c_str()) != 0)
        throw std::runtime_error(systemError("Cannot replace", path));
    cleanup.armed = false;
    Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY));
    if (dirFd.get() >= 0) ::fsync(dirFd.get());
}

}  // namespace tools
