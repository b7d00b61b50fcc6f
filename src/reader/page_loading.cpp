// Page loading, prefetching, updates and saves: the pool tasks of the reader
// window.
#include "reader/page_loading.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "reader/images.hpp"
#include "reader/window.hpp"
#include "tools/log.hpp"

namespace reader {

// ---- downloads in progress ----

bool downloadsInProgress::enterIfAbsent(const std::string& ref,
                                        std::shared_ptr<gui::ProgressBar> bar) {
    std::lock_guard<std::mutex> hold(lock_);
    return bars_.emplace(ref, std::move(bar)).second;
}

void downloadsInProgress::enter(const std::string& ref, std::shared_ptr<gui::ProgressBar> bar) {
    std::lock_guard<std::mutex> hold(lock_);
    bars_[ref] = std::move(bar);
}

bool downloadsInProgress::remove(const std::string& ref) {
    std::lock_guard<std::mutex> hold(lock_);
    return bars_.erase(ref) != 0;
}

std::shared_ptr<gui::ProgressBar> downloadsInProgress::find(const std::string& ref) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = bars_.find(ref);
    return found == bars_.end() ? nullptr : found->second;
}

std::size_t downloadsInProgress::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bars_.size();
}

downloadsInProgress& downloads() {
    static downloadsInProgress* map = new downloadsInProgress;  // outlives every worker
    return *map;
}

bool isCached(const std::string& ref) { return downloader::isCached(ref); }

// ---- strips decoded ahead ----

libgd::Image decodedAhead::take(const std::string& ref) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->first == ref) {
            libgd::Image image = std::move(it->second);
            items_.erase(it);
            return image;
        }
    return nullptr;
}

void decodedAhead::put(const std::string& ref, libgd::Image image) {
    if (!image) return;
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& item : items_)
        if (item.first == ref) return;
    items_.emplace_back(ref, std::move(image));
    while (items_.size() > capacity) items_.pop_front();
}

bool decodedAhead::has(const std::string& ref) const {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& item : items_)
        if (item.first == ref) return true;
    return false;
}

std::size_t decodedAhead::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return items_.size();
}

decodedAhead& ahead() {
    static decodedAhead* store = new decodedAhead;  // outlives every worker
    return *store;
}

// ---- selecting and showing pages ----

void user_interface::selectPage(const ComicPtr& c, int index, bool prefetching) {
    if (!c) return;
    tools::logln("Selecting page ", index, " of ", c->name());
    setCurrentComic(c);
    c->changed = false;
    pagePool_.addTask(
        "Switch to " + pageLabel(*c, index) + (prefetching ? ", prefetching" : ", live"),
        [this, c, index, prefetching] { showPage(c, !prefetching, index); });
}

void user_interface::showPage(bool set, int index) { showPage(currentComic(), set, index); }

void user_interface::showPage(const ComicPtr& k, bool set, int i) {
    tools::logln("SwitchImage to ", i, ", set is ", set);
    if (!k) return;
    if (set && currentComic() == k) currentIndex_ = i;
    // A negative index (an empty comic's position) shows nothing.
    if (i < 0) return;
    comics::page p;
    if (!k->pageAt(static_cast<std::size_t>(i), p)) return;

    auto bar = std::make_shared<gui::ProgressBar>();
    bar->colourOf = [this, i] {
        return currentIndex_.load() == i ? gui::rgba(144, 160, 192, 255)
                                         : gui::rgba(128, 128, 192, 255);
    };
    const std::string& ref = p.image;
    tools::logln("Downloading ", ref);
    const bool first = downloads().enterIfAbsent(ref, bar);
    if (first) requestRepaint();

    std::string data;
    {
        // Whatever happens to the download, its bar leaves the map.
        struct Leave {
            bool first;
            const std::string& ref;
            ~Leave() {
                if (first) downloads().remove(ref);
            }
        } leave{first, ref};
        downloader::Progress progress;
        if (first)
            progress = [this, ref, bar](float fraction) {
                downloads().enter(ref, bar);
                bar->progress.set(fraction);
                bar->setChanged();
                requestRepaint();
            };
        try {
            data = downloader::download(ref, std::move(progress), true);
        } catch (const std::exception& e) {
            // Shown as a failed download; selecting the page again retries.
            tools::logln("Downloading ", ref, " failed: ", e);
        }
        tools::logln("Done downloading ", data.size());
    }
    bar->setChanged();
    requestRepaint();

    if (currentComic() != k || currentIndex_.load() != i) {
        // Not shown: the data stays in the download cache. A near neighbour of
        // the page shown is decoded now, so that paging to it only draws.
        const int shown = currentIndex_.load();
        if (currentComic() == k && !data.empty() && i != shown && std::abs(i - shown) <= 2 &&
            !ahead().has(ref)) {
            try {
                ahead().put(ref, libgd::toImage(data));
            } catch (const std::exception&) {
                // The load that shows the page decodes again and reports it.
            }
        }
        return;
    }
    k->setPosition(i);
    tools::logln("Image length: ", data.size());
    if (data.empty()) {
        setStripView(std::make_shared<gui::textbox>(emptyDownloadText));
        return;
    }
    libgd::Image image = ahead().take(ref);
    if (!image) {
        std::lock_guard<std::recursive_mutex> decoding(libgd::decodingLock());
        image = libgd::toImage(data);
    }
    if (!image) {
        setStripView(std::make_shared<gui::textbox>(notAnImageText));
        return;
    }
    setStripView(std::make_shared<stripImage>(std::move(image),
                                              "tovik [" + k->name() + "] - " + p.title,
                                              [this] { return centered.get(); }));
    requestRepaint();
}

void user_interface::showCurrentPageAgain() {
    const int i = currentIndex();
    if (i >= 0) showPage(false, i);
}

void user_interface::prefetch(int j) {
    const ComicPtr c = currentComic();
    if (!c || j < 0 || j >= static_cast<int>(c->pageCount())) return;
    showPage(c, false, j);
}

// ---- paging ----

void user_interface::firstPage() {
    const ComicPtr c = currentComic();
    if (!c) return;
    currentIndex_ = 0;
    pagePool_.addTask("Load " + pageLabel(*c, 0), [this, c] {
        const int i = currentIndex();
        if (i >= 0) showPage(c, false, i);
    });
}

void user_interface::lastPage() {
    const ComicPtr c = currentComic();
    if (!c) return;
    const int last = static_cast<int>(c->pageCount()) - 1;
    if (last < 0) return;
    currentIndex_ = last;
    pagePool_.addTask("Load " + pageLabel(*c, last), [this, c] {
        const int i = currentIndex();
        if (i >= 0) showPage(c, false, i);
    });
}

namespace {

// Queues the load of the page just stepped to and the prefetches of the two
// pages beyond it, in this order.
void queuePaging(user_interface& ui, tools::pool& pool, const ComicPtr& c, int index, int step,
                 const std::function<void(int)>& prefetchOf,
                 const std::function<void()>& loadCurrent) {
    pool.addTask("Load " + ui.pageLabel(*c, index), loadCurrent);
    for (int k = 1; k <= 2; ++k) {
        const int j = index + k * step;
        pool.addTask("Prefetch " + ui.pageLabel(*c, j), [prefetchOf, j] { prefetchOf(j); });
    }
}

}  // namespace

void user_interface::nextPage() {
    const ComicPtr c = currentComic();
    if (!c) return;
    const int index = currentIndex();
    if (index + 1 >= static_cast<int>(c->pageCount())) return;
    currentIndex_ = index + 1;
    auto prefetchOf = [this, c](int j) {
        if (j >= 0 && j < static_cast<int>(c->pageCount())) showPage(c, false, j);
    };
    queuePaging(*this, pagePool_, c, index + 1, 1, prefetchOf, [this, c] {
        const int i = currentIndex();
        if (i >= 0) showPage(c, false, i);
    });
}

void user_interface::previousPage() {
    const ComicPtr c = currentComic();
    if (!c) return;
    const int index = currentIndex();
    if (index <= 0) return;
    currentIndex_ = index - 1;
    auto prefetchOf = [this, c](int j) {
        if (j >= 0 && j < static_cast<int>(c->pageCount())) showPage(c, false, j);
    };
    queuePaging(*this, pagePool_, c, index - 1, -1, prefetchOf, [this, c] {
        const int i = currentIndex();
        if (i >= 0) showPage(c, false, i);
    });
}

// ---- saves ----

void user_interface::save(const ComicPtr& c) {
    std::lock_guard<std::recursive_mutex> saving(comics::saveLock());
    tools::logln("Saving comics ...");
    const ComicList list = c ? ComicList{c} : comicList();
    for (const auto& each : list) {
        try {
            each->save();
        } catch (const std::exception& e) {
            tools::logln("Saving ", each->id(), " failed: ", e);
        }
    }
    tools::logln("Storing to Drive");
    if (storeToDisk_) storeToDisk_();
}

void user_interface::queueSave(const ComicPtr& c) {
    pagePool_.addTask("Save files", [this, c] { save(c); });
}

// ---- updates ----

namespace {

// Update workers yield the processor to the window: dozens of crawls at once
// must not starve the event loop (on Linux a thread has its own nice value).
void lowerPriority() {
    thread_local const bool lowered = [] {
        return ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10) == 0;
    }();
    (void)lowered;
}

}  // namespace

void user_interface::update(const ComicPtr& c, const std::string& taskName) {
    // Marked queued from here until the task ends, so a second request while
    // it waits for a worker does not crawl the comic twice.
    bool idle = false;
    if (!c->queued.compare_exchange_strong(idle, true)) return;
    updatePool_.addTask(taskName, [this, c] {
        lowerPriority();
        struct Done {
            comics::comic& c;
            ~Done() { c.queued = false; }
        } done{*c};
        c->update([this] { requestRepaint(); }, [c] { c->changed = true; });
    });
}

void user_interface::globalUpdate() {
    sortComics();
    for (const auto& c : comicList()) {
        if (!c->active || c->updating || c->queued) continue;
        update(c, "Global update for " + c->toString());
    }
}

void user_interface::selectiveUpdate(const ComicPtr& c) {
    tools::logln("rescan called");
    if (!c || c->updating || c->queued) return;
    c->failed = false;
    tools::logln("Add update task for ", c->name());
    update(c, "Selective update for " + c->toString());
}

}  // namespace reader
