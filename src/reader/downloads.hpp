#pragma once
// reader.downloads: strips on their way to the screen, shared by the page
// tasks and the comic tree.
//
// downloads() maps an image reference to the progress bar of the download
// that first asked for it (the tree draws the bar behind the page's row);
// ahead() holds a few strips that prefetches decoded ahead of need; isCached
// tells whether an image's bytes are at hand without the network (in the
// download cache or the strip store).
//
// Threads: both stores are process-wide, outlive every worker and take their
// own lock on every access (a leaf lock).
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "gui/leaves.hpp"
#include "reader/images.hpp"

namespace reader {

// Image reference -> the progress bar of the download that first asked for it.
class DownloadsInProgress {
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
DownloadsInProgress& downloads();

// Strips that prefetches decoded ahead of need (the neighbours of the page
// shown), so that paging to them only converts and draws. A few at most: the
// oldest goes when a new one comes. The load that shows a strip takes it out.
class DecodedAhead {
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
DecodedAhead& ahead();

// Whether the image reference's body is in the download cache or the strip store.
bool isCached(const std::string& ref);

}  // namespace reader
