#pragma once
// reader.page_loading: the background work behind the reader window.
//
// The operations of user_interface that queue or run pool tasks (selecting
// and showing pages, paging with prefetches, updates, saves) are defined in
// page_loading.cpp; this header holds what they share with the tree builder:
// the process-wide map of downloads in progress and the page cache query.
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "gui/widgets.hpp"
#include "reader/images.hpp"

namespace reader {

// Image reference -> the progress bar of the download that first asked for it.
// Every access takes the map's lock.
class downloadsInProgress {
public:
    // Enters ref with bar when absent; true when it did (the first requester).
    bool enterIfAbsent(const std::string& ref, std::shared_ptr<gui::ProgressBar> bar);
    // Enters ref with bar, replacing what was there.
    void enter(const std::string& ref, std::shared_ptr<gui::ProgressBar> bar);
    // Removes ref when present; true when it was.
    bool remove(const std::string& ref);
    // The bar of ref's download, or null.
    std::shared_ptr<gui::ProgressBar> find(const std::string& ref) const;
    std::size_t size() const;

private:
    mutable std::mutex lock_;
    std::map<std::string, std::shared_ptr<gui::ProgressBar>> bars_;
};
downloadsInProgress& downloads();

// Strips that prefetches decoded ahead of need (the neighbours of the page
// shown), so that paging to them only converts and draws. A few at most: the
// oldest goes when a new one comes. The load that shows a strip takes it out.
class decodedAhead {
public:
    static constexpr std::size_t capacity = 3;
    // The decoded strip of ref, removed from the store; null when absent.
    libgd::Image take(const std::string& ref);
    void put(const std::string& ref, libgd::Image image);
    bool has(const std::string& ref) const;
    std::size_t size() const;

private:
    mutable std::mutex lock_;
    std::deque<std::pair<std::string, libgd::Image>> items_;
};
decodedAhead& ahead();

// Whether the image reference's body is in the download cache.
bool isCached(const std::string& ref);

// The texts the strip view shows instead of a strip.
inline constexpr const char* emptyDownloadText = "Error: Download failed or image length is zero";
inline constexpr const char* notAnImageText = "404 Image not found";

}  // namespace reader
