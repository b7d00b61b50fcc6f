#include "downloader/downloader.hpp"

#include <stdexcept>

#include "downloader/exchange.hpp"
#include "tools/bounded_cache.hpp"
#include "tools/log.hpp"

namespace downloader {

namespace {

using PageCache = tools::BoundedCache<std::string, std::string>;

PageCache& pageCache() {
    static PageCache cache([](const std::string& url) { return downloader::fetchUrl(url); },
                           [](const std::string& body) { return body.size(); }, 33554432);
    return cache;
}

}  // namespace

std::string HttpClient::fetchUrl(const std::string& url, std::string* redirectTarget) const {
    return detail::fetch(url, redirectTarget, limits_).body;
}

Response HttpClient::fetchResponse(const std::string& url, std::string* redirectTarget) const {
    detail::Answer answer = detail::fetch(url, redirectTarget, limits_);
    return Response{answer.status, std::move(answer.body)};
}

std::string HttpClient::downloadPage(const std::string& url) const {
    try {
        Response response = fetchResponse(url);
        if (response.status >= 400)
            throw Abandoned("Status " + std::to_string(response.status) + " from " + url);
        return std::move(response.body);
    } catch (const std::exception& e) {
        tools::logln("Downloading ", url, " failed: ", e.what());
        if (dynamic_cast<const Abandoned*>(&e)) throw;
    }
    return {};
}

std::string HttpClient::download(const std::string& url, Progress progress, bool useCache,
                                 std::string* redirectTarget) const {
    if (useCache && redirectTarget) throw std::runtime_error("Caching precludes redirect info!");
    PageCache& cache = pageCache();
    detail::Registration registration(url, std::move(progress));
    if (useCache) return cache.get(url, [this](const std::string& key) { return fetchUrl(key); });
    try {
        return fetchUrl(url, redirectTarget);
    } catch (const std::exception& e) {
        tools::logln("Downloading ", url, " failed: ", e.what());
    }
    return {};
}

std::string download(const std::string& url, Progress progress, bool useCache,
                     std::string* redirectTarget) {
    return HttpClient().download(url, std::move(progress), useCache, redirectTarget);
}

std::string fetchUrl(const std::string& url, std::string* redirectTarget) {
    return HttpClient().fetchUrl(url, redirectTarget);
}

std::string downloadPage(const std::string& url) { return HttpClient().downloadPage(url); }

bool isCached(const std::string& url) { return pageCache().has(url); }

}  // namespace downloader
