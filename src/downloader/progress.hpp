#pragma once
// The progress registry: callbacks per URL, told the fraction of the body received (0..1).
//
// Thread safety: every function may be called from any thread; notify may also be called
// from inside a callback (a redirect forwards its progress that way), and a callback may
// add or remove callbacks.
#include <cstdint>
#include <functional>
#include <string>

namespace downloader {

using Progress = std::function<void(float)>;

namespace cbs {
using Token = std::uint64_t;
// Registers a callback for the URL; the token removes it again.
Token add(const std::string& url, Progress cb);
// A token that is not registered for the URL raises tools::Failure.
void remove(const std::string& url, Token t);
void notify(const std::string& url, float fraction);
}  // namespace cbs

namespace detail {

// Registers a progress callback (none when empty) for the scope; removes it when the
// scope ends, also on errors.
class Registration {
public:
    Registration(const std::string& url, Progress callback);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    std::string url_;
    cbs::Token token_ = 0;
};

}  // namespace detail

}  // namespace downloader
