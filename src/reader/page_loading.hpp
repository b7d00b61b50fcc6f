#pragma once
// reader.page_loading: the window's background work: selecting and showing
// pages, paging with prefetches, updates and saves, each as a pool task.
//
// A load downloads a page's image (its progress bar joins downloads()), and
// when the page is still the one wanted, moves the comic's read position to it
// and shows the strip; a prefetch leaves the image in the download cache and
// decodes a near neighbour ahead. Updates crawl a comic on the update pool and
// mark its row changed when strips came; saves write every comic, then the
// storage.
//
// Threads: the operations are called on the loop's thread and only queue
// tasks (save and showPage also run inside tasks). Tasks read the selection,
// change a comic's read position and swap the strip view under the GUI lock;
// they never draw. Lock order: the GUI lock, then the comic list lock, then a
// comic's lock; comics::saveLock() before a comic's lock; nothing takes the GUI
// lock while holding a comic's lock.
#include <functional>
#include <string>

#include "reader/comic_tree.hpp"
#include "reader/downloads.hpp"
#include "reader/selection.hpp"
#include "reader/strip_area.hpp"
#include "tools/thread_pool.hpp"

namespace reader {

// The texts the strip view shows instead of a strip.
inline constexpr const char* emptyDownloadText = "Error: Download failed or image length is zero";
inline constexpr const char* notAnImageText = "404 Image not found";
// A strip that is not in the strip store while its site cannot be reached.
inline constexpr const char* notDownloadedText =
    "Not downloaded yet: this strip is not stored and its site cannot be reached";

// A page in task names and log lines: "#4 of Name" for index 3.
std::string pageLabel(const comics::Comic& c, int index);

class PageLoader {
public:
    using StoreAction = std::function<void()>;

    // repaint asks the window for a (not full) repaint from any thread.
    PageLoader(tools::ThreadPool& pagePool, tools::ThreadPool& updatePool, StoreAction storeToDisk,
               Selection& selection, ComicTree& tree, StripArea& strip,
               std::function<void()> repaint);
    PageLoader(const PageLoader&) = delete;
    PageLoader& operator=(const PageLoader&) = delete;

    // Holds both pools still: no task of this loader runs afterwards.
    void pausePools();

    // ---- selecting and showing ----
    // The comic at a page (-1: its read position), and a prefetch of the next.
    void selectComic(const ComicPtr& c, int page);
    void selectPage(const ComicPtr& c, int index, bool prefetch);
    void prefetch(int index);
    void showPage(bool set, int index);
    // The same for a given comic: a task carries the comic it was queued for and
    // moves nothing once another comic became the current one.
    void showPage(const ComicPtr& k, bool set, int index);

    // ---- paging ----
    // Paging to a strip decoded ahead shows it at once on the calling (the
    // loop's) thread, moving the read position; the queued load then finds
    // it shown. False when the strip was not decoded ahead.
    bool showDecodedAhead(const ComicPtr& c, int index);
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();

    // ---- saves and updates ----
    void save(const ComicPtr& c);  // null: every comic
    void queueSave(const ComicPtr& c);
    void globalUpdate();
    void selectiveUpdate(const ComicPtr& c);

    // Copies a text to the clipboard on the update pool: the helper program
    // is waited for there, never by the event loop holding the GUI lock.
    void copyToClipboardLater(std::string text);
    // Fetches the strips the store lacks of a comic that keeps its strips,
    // one at a time, with its progress in the comic's row (update tasks run it
    // after the crawl).
    void keepStrips(const ComicPtr& c);

private:
    void update(const ComicPtr& c, const std::string& taskName);

    tools::ThreadPool& pagePool_;
    tools::ThreadPool& updatePool_;
    StoreAction storeToDisk_;
    Selection& selection_;
    ComicTree& tree_;
    StripArea& strip_;
    std::function<void()> repaint_;
};

}  // namespace reader
