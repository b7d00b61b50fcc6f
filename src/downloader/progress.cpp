#include "downloader/progress.hpp"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "tools/failure.hpp"

namespace downloader {

namespace {

struct Registry {
    std::recursive_mutex lock;  // notify runs callbacks that may notify again
    std::map<std::string, std::vector<std::pair<cbs::Token, Progress>>> callbacks;
    cbs::Token next = 1;
};

Registry& registry() {
    static Registry* instance = new Registry;  // lives until the very end of the process
    return *instance;
}

}  // namespace

namespace cbs {

Token add(const std::string& url, Progress cb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    Token token = r.next++;
    r.callbacks[url].emplace_back(token, std::move(cb));
    return token;
}

void remove(const std::string& url, Token t) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    auto found = r.callbacks.find(url);
    tools::check(found != r.callbacks.end(), "no progress callbacks for " + url);
    auto& list = found->second;
    auto it = std::find_if(list.begin(), list.end(), [t](const auto& e) { return e.first == t; });
    tools::check(it != list.end(), "progress callback not registered for " + url);
    if (list.size() == 1) {
        r.callbacks.erase(found);
        return;
    }
    *it = std::move(list.back());
    list.pop_back();
}

void notify(const std::string& url, float fraction) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    auto found = r.callbacks.find(url);
    if (found == r.callbacks.end()) return;
    // A copy: a callback may add or remove callbacks of this URL.
    std::vector<Progress> calls;
    for (const auto& entry : found->second) calls.push_back(entry.second);
    for (const auto& call : calls) call(fraction);
}

}  // namespace cbs

namespace detail {

Registration::Registration(const std::string& url, Progress callback) : url_(url) {
    if (callback) token_ = cbs::add(url, std::move(callback));
}

Registration::~Registration() {
    if (token_) cbs::remove(url_, token_);
}

}  // namespace detail

}  // namespace downloader
