// The process-wide stores of strips in transit.
#include "reader/downloads.hpp"

#include "comics/strip_store.hpp"
#include "downloader/downloader.hpp"

namespace reader {

// ---- downloads in progress ----

bool DownloadsInProgress::enterIfAbsent(const std::string& ref,
                                        std::shared_ptr<gui::ProgressBar> bar) {
    std::lock_guard<std::mutex> hold(lock_);
    return bars_.emplace(ref, std::move(bar)).second;
}

void DownloadsInProgress::enter(const std::string& ref, std::shared_ptr<gui::ProgressBar> bar) {
    std::lock_guard<std::mutex> hold(lock_);
    bars_[ref] = std::move(bar);
}

bool DownloadsInProgress::remove(const std::string& ref) {
    std::lock_guard<std::mutex> hold(lock_);
    return bars_.erase(ref) != 0;
}

std::shared_ptr<gui::ProgressBar> DownloadsInProgress::find(const std::string& ref) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = bars_.find(ref);
    return found == bars_.end() ? nullptr : found->second;
}

std::size_t DownloadsInProgress::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bars_.size();
}

DownloadsInProgress& downloads() {
    static DownloadsInProgress* map = new DownloadsInProgress;  // outlives every worker
    return *map;
}

bool isCached(const std::string& ref) {
    return downloader::isCached(ref) || comics::stripStore()->listed(ref);
}

// ---- strips decoded ahead ----

libgd::Image DecodedAhead::take(const std::string& ref) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->first == ref) {
            libgd::Image image = std::move(it->second);
            items_.erase(it);
            return image;
        }
    return nullptr;
}

void DecodedAhead::put(const std::string& ref, libgd::Image image) {
    if (!image) return;
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& item : items_)
        if (item.first == ref) return;
    items_.emplace_back(ref, std::move(image));
    while (items_.size() > capacity) items_.pop_front();
}

bool DecodedAhead::has(const std::string& ref) const {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& item : items_)
        if (item.first == ref) return true;
    return false;
}

std::size_t DecodedAhead::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return items_.size();
}

DecodedAhead& ahead() {
    static DecodedAhead* store = new DecodedAhead;  // outlives every worker
    return *store;
}

}  // namespace reader
