// Page loading, prefetching, updates and saves: the pool tasks of the reader
// window.
#include "reader/page_loading.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "comics/storage.hpp"
#include "comics/strip_source.hpp"
#include "comics/strip_store.hpp"
#include "downloader/downloader.hpp"
#include "gui/sdl_bridge.hpp"
#include "reader/clipboard.hpp"
#include "reader/images.hpp"
#include "tools/ini.hpp"
#include "tools/log.hpp"

namespace reader {

std::string pageLabel(const comics::Comic& c, int index) {
    return "#" + std::to_string(index + 1) + " of " + c.name();
}

PageLoader::PageLoader(tools::ThreadPool& pagePool, tools::ThreadPool& updatePool,
                       StoreAction storeToDisk, Selection& selection, ComicTree& tree,
                       StripArea& strip, std::function<void()> repaint)
    : pagePool_(pagePool),
      updatePool_(updatePool),
      storeToDisk_(std::move(storeToDisk)),
      selection_(selection),
      tree_(tree),
      strip_(strip),
      repaint_(std::move(repaint)) {}

void PageLoader::pausePools() {
    pagePool_.pause();
    updatePool_.pause();
}

// ---- selecting and showing pages ----

void PageLoader::selectComic(const ComicPtr& c, int page) {
    if (!c) return;
    tools::logln("Clicked on comic ", c->name(), ", file ", c->id(), ", type ", c->typeName(), "!");
    if (page == -1) page = c->position();
    selectPage(c, std::max(page, 0), false);
    // A damaged stored position below -1 must not prefetch a negative index.
    if (page + 1 >= 0) selectPage(c, page + 1, true);
    repaint_();
}

void PageLoader::selectPage(const ComicPtr& c, int index, bool prefetching) {
    if (!c) return;
    tools::logln("Selecting page ", index, " of ", c->name());
    selection_.setCurrentComic(c);
    tree_.row(*c).changed = false;
    pagePool_.addTask(
        "Switch to " + pageLabel(*c, index) + (prefetching ? ", prefetching" : ", live"),
        [this, c, index, prefetching] { showPage(c, !prefetching, index); });
}

void PageLoader::showPage(bool set, int index) { showPage(selection_.currentComic(), set, index); }

void PageLoader::showPage(const ComicPtr& k, bool set, int i) {
    tools::logln("SwitchImage to ", i, ", set is ", set);
    if (!k) return;
    if (set && selection_.currentComic() == k) selection_.setCurrentIndex(i);
    // A negative index (an empty comic's position) shows nothing.
    if (i < 0) return;
    comics::Page p;
    if (!k->pageAt(static_cast<std::size_t>(i), p)) return;

    auto bar = std::make_shared<gui::ProgressBar>();
    bar->colourOf = [this, i] {
        return selection_.currentIndex() == i ? gui::Rgba(144, 160, 192, 255)
                                              : gui::Rgba(128, 128, 192, 255);
    };
    const std::string ref(p.image());
    tools::logln("Downloading ", ref);
    const bool first = downloads().enterIfAbsent(ref, bar);
    if (first) repaint_();

    comics::StripData strip;
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
                repaint_();
            };
        // The strip store first: a stored strip shows without any request. A
        // failed download is shown in the strip area; selecting the page
        // again retries.
        strip = comics::loadStrip(ref, std::move(progress));
        if (!strip.error.empty())
            tools::logln("Downloading ", ref, " failed: ", strip.error);
        else if (strip.fromStore)
            tools::logln("From the strip store");
        tools::logln("Done downloading ", strip.data.size());
    }
    const std::string& data = strip.data;
    bar->setChanged();
    repaint_();

    if (selection_.currentComic() != k || selection_.currentIndex() != i) {
        // Not shown: the data stays in the download cache. A near neighbour of
        // the page shown is decoded now, so that paging to it only draws.
        const int shown = selection_.currentIndex();
        if (selection_.currentComic() == k && !data.empty() && i != shown &&
            std::abs(i - shown) <= 2 && !ahead().has(ref)) {
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
    // Whatever is shown for the page, strip or error, the caption names it.
    const std::string caption = "tovik [" + k->name() + "] - " + std::string(p.title());
    // A failed download: offline or the site gone ("not downloaded yet", said
    // at once, never waited for), or the site's own error.
    auto showFailure = [&] {
        if (!strip.reached) {
            tools::logln(notDownloadedText);
            strip_.showError(std::string(notDownloadedText), caption);
        } else {
            strip_.showError(
                strip.error.empty() ? std::string(emptyDownloadText) : "Error: " + strip.error,
                caption);
        }
    };
    if (!strip.reached || data.empty()) {
        showFailure();
        return;
    }
    if (strip_.showsStrip(ref)) {  // shown by the key that asked for it
        repaint_();
        return;
    }
    libgd::Image image = ahead().take(ref);
    if (!image && strip.fromStore) {
        // Stored bytes that do not decode are a damaged file: dropped and
        // fetched again.
        try {
            std::lock_guard<std::recursive_mutex> decoding(libgd::decodingLock());
            image = libgd::toImage(data);
        } catch (const std::exception& e) {
            tools::logln("The stored strip does not decode: ", e);
        }
        if (!image) {
            comics::stripStore()->drop(ref);
            strip = comics::loadStrip(ref);
            if (!strip.reached || data.empty()) {
                showFailure();
                return;
            }
        }
    }
    if (!image) {
        try {
            std::lock_guard<std::recursive_mutex> decoding(libgd::decodingLock());
            image = libgd::toImage(data);
        } catch (const std::exception& e) {
            tools::logln("Decoding ", ref, " failed: ", e);
            strip_.showError(std::string("Error: ") + e.what(), caption);
            return;
        }
    }
    if (!image) {
        const std::string_view format = libgd::imageFormat(data);
        strip_.showError(format.empty() ? std::string(notAnImageText)
                                        : "Error: Damaged " + std::string(format) + " image",
                         caption);
        return;
    }
    {
        // Keys change the selection under the GUI lock: checking that the page
        // is still the one wanted and swapping the view are one step, so a
        // strip decoded while the user paged on never replaces a later one.
        gui::GuiLock hold;
        if (selection_.currentComic() != k || selection_.currentIndex() != i) return;
        strip_.showStrip(std::move(image), caption, ref);
    }
    repaint_();
}

bool PageLoader::showDecodedAhead(const ComicPtr& c, int i) {
    comics::Page p;
    if (i < 0 || !c->pageAt(static_cast<std::size_t>(i), p)) return false;
    libgd::Image image = ahead().take(std::string(p.image()));
    if (!image) return false;
    tools::logln("Showing ", pageLabel(*c, i), ", decoded ahead");
    c->setPosition(i);
    strip_.showStrip(std::move(image), "tovik [" + c->name() + "] - " + std::string(p.title()),
                     std::string(p.image()));
    repaint_();
    return true;
}

void PageLoader::prefetch(int j) {
    const ComicPtr c = selection_.currentComic();
    if (!c || j < 0 || j >= static_cast<int>(c->pageCount())) return;
    showPage(c, false, j);
}

// ---- paging ----

void PageLoader::firstPage() {
    const ComicPtr c = selection_.currentComic();
    if (!c) return;
    selection_.setCurrentIndex(0);
    pagePool_.addTask("Load " + pageLabel(*c, 0), [this, c] {
        const int i = selection_.currentIndex();
        if (i >= 0) showPage(c, false, i);
    });
}

void PageLoader::lastPage() {
    const ComicPtr c = selection_.currentComic();
    if (!c) return;
    const int last = static_cast<int>(c->pageCount()) - 1;
    if (last < 0) return;
    selection_.setCurrentIndex(last);
    pagePool_.addTask("Load " + pageLabel(*c, last), [this, c] {
        const int i = selection_.currentIndex();
        if (i >= 0) showPage(c, false, i);
    });
}

namespace {

// Queues the load of the page just stepped to and the prefetches of the two
// pages beyond it, in this order.
void queuePaging(tools::ThreadPool& pool, const ComicPtr& c, int index, int step,
                 const std::function<void(int)>& prefetchOf,
                 const std::function<void()>& loadCurrent) {
    pool.addTask("Load " + pageLabel(*c, index), loadCurrent);
    for (int k = 1; k <= 2; ++k) {
        const int j = index + k * step;
        pool.addTask("Prefetch " + pageLabel(*c, j), [prefetchOf, j] { prefetchOf(j); });
    }
}

}  // namespace

void PageLoader::nextPage() {
    const ComicPtr c = selection_.currentComic();
    if (!c) return;
    const int index = selection_.currentIndex();
    if (index + 1 >= static_cast<int>(c->pageCount())) return;
    selection_.setCurrentIndex(index + 1);
    showDecodedAhead(c, index + 1);
    auto prefetchOf = [this, c](int j) {
        if (j >= 0 && j < static_cast<int>(c->pageCount())) showPage(c, false, j);
    };
    queuePaging(pagePool_, c, index + 1, 1, prefetchOf, [this, c] {
        const int i = selection_.currentIndex();
        if (i >= 0) showPage(c, false, i);
    });
}

void PageLoader::previousPage() {
    const ComicPtr c = selection_.currentComic();
    if (!c) return;
    const int index = selection_.currentIndex();
    if (index <= 0) return;
    selection_.setCurrentIndex(index - 1);
    showDecodedAhead(c, index - 1);
    auto prefetchOf = [this, c](int j) {
        if (j >= 0 && j < static_cast<int>(c->pageCount())) showPage(c, false, j);
    };
    queuePaging(pagePool_, c, index - 1, -1, prefetchOf, [this, c] {
        const int i = selection_.currentIndex();
        if (i >= 0) showPage(c, false, i);
    });
}

// ---- saves ----

void PageLoader::save(const ComicPtr& c) {
    std::lock_guard<std::recursive_mutex> saving(comics::saveLock());
    tools::logln("Saving comics ...");
    const ComicList list = c ? ComicList{c} : tree_.comicList();
    {
        // The built-in comics' flags go into "tovik.ini" in one write.
        tools::IniFile::DeferredWrites once(tools::config());
        for (const auto& each : list) {
            try {
                each->save();
            } catch (const std::exception& e) {
                tools::logln("Saving ", each->id(), " failed: ", e);
            }
        }
    }
    tools::logln("Storing to Drive");
    if (storeToDisk_) storeToDisk_();
}

void PageLoader::queueSave(const ComicPtr& c) {
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

void PageLoader::update(const ComicPtr& c, const std::string& taskName) {
    // Marked queued from here until the task ends, so a second request while
    // it waits for a worker does not crawl the comic twice.
    bool idle = false;
    if (!c->queued.compare_exchange_strong(idle, true)) return;
    updatePool_.addTask(taskName, [this, c] {
        lowerPriority();
        struct Done {
            comics::Comic& c;
            ~Done() { c.queued = false; }
        } done{*c};
        c->update([this] { repaint_(); }, [this, c] { tree_.row(*c).changed = true; });
        if (c->keepsStrips() && !c->failed) keepStrips(c);
    });
}

void PageLoader::keepStrips(const ComicPtr& c) {
    RowState& row = tree_.row(*c);
    struct Done {
        RowState& row;
        ~Done() { row.keeping = -1; }
    } done{row};
    tools::logln("Keeping the strips of ", c->name());
    const auto count = comics::fetchMissingStrips(
        *c, *comics::stripStore(), [this, &row](std::size_t looked, std::size_t total) {
            row.keeping = static_cast<std::int32_t>(looked);
            row.keepingOf = static_cast<std::int32_t>(total);
            repaint_();
        });
    tools::logln("Strips of ", c->name(), ": ", count.present, " stored before, ", count.stored,
                 " fetched, ", count.missing.size(), " missing");
    repaint_();
}

void PageLoader::globalUpdate() {
    tree_.sortComics();
    for (const auto& c : tree_.comicList()) {
        if (!c->active || c->updating || c->queued) continue;
        update(c, "Global update for " + c->toString());
    }
}

void PageLoader::selectiveUpdate(const ComicPtr& c) {
    tools::logln("rescan called");
    if (!c || c->updating || c->queued) return;
    c->failed = false;
    tools::logln("Add update task for ", c->name());
    update(c, "Selective update for " + c->toString());
}

}  // namespace reader

namespace reader {

void PageLoader::copyToClipboardLater(std::string text) {
    updatePool_.addTask("Copy to clipboard", [text = std::move(text)] { copyToClipboard(text); });
}

}  // namespace reader
