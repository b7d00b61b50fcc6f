// "-update": the comics crawled on a pool without a window, then saved once.
#include "reader/headless_update.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "comics/base.hpp"
#include "comics/storage.hpp"
#include "comics/strip_source.hpp"
#include "comics/strip_store.hpp"
#include "tools/log.hpp"
#include "tools/thread_pool.hpp"

namespace reader {
namespace {

using ComicPtr = std::shared_ptr<comics::Comic>;

struct Outcome {
    ComicPtr comic;
    long newStrips = 0;
    bool failed = false;
    std::string failure;
    // A comic that keeps its strips: the pages whose strip is still not in
    // the store (-1: not looked at).
    long stripsMissing = -1;
};

// What the workers report, in the order the comics end.
class Outcomes {
public:
    void add(Outcome o) {
        std::lock_guard<std::mutex> hold(lock_);
        list_.push_back(std::move(o));
    }
    // The outcomes from index from on.
    std::vector<Outcome> since(std::size_t from) const {
        std::lock_guard<std::mutex> hold(lock_);
        if (from >= list_.size()) return {};
        return {list_.begin() + static_cast<std::ptrdiff_t>(from), list_.end()};
    }

private:
    mutable std::mutex lock_;
    std::vector<Outcome> list_;
};

// The strips of a comic that keeps them, fetched after its crawl one at a
// time (the downloader's per-host limits hold); stop ends it early.
long keepStrips(const comics::Comic& c, const std::atomic<bool>& stop) {
    tools::logln("Keeping the strips of ", c.name());
    const comics::FetchCount count = comics::fetchMissingStrips(
        c, *comics::stripStore(),
        [&c](std::size_t done, std::size_t all) {
            if (done % 50 == 0 || done == all)
                tools::logln("Strips of ", c.name(), " looked at: ", done, " of ", all);
        },
        &stop);
    tools::logln("Strips of ", c.name(), ": ", count.present, " stored before, ", count.stored,
                 " fetched, ", count.missing.size(), " missing");
    return static_cast<long>(count.missing.size());
}

Outcome updateOne(const ComicPtr& c, const std::atomic<bool>& stop) {
    Outcome o{c, 0, false, {}, -1};
    if (comics::crawlStopRequested()) {
        o.failed = true;
        o.failure = "Update interrupted";
        return o;
    }
    const auto before = static_cast<long>(c->pageCount());
    try {
        c->update([] {}, [] {});
    } catch (const std::exception& e) {
        o.failed = true;
        o.failure = e.what();
    } catch (...) {
        o.failed = true;
        o.failure = "unknown error";
    }
    if (c->failed) {
        o.failed = true;
        // The comic's own account of the failure says more than the exception.
        if (std::string own = c->failure(); !own.empty()) o.failure = own;
    }
    if (o.failed && o.failure.empty()) o.failure = "unknown error";
    o.newStrips = static_cast<long>(c->pageCount()) - before;
    if (!o.failed && c->keepsStrips()) {
        try {
            o.stripsMissing = keepStrips(*c, stop);
        } catch (const std::exception& e) {
            tools::logln("Keeping the strips of ", c->name(), " failed: ", e);
            o.stripsMissing = static_cast<long>(c->pageCount());
        }
    }
    return o;
}

void put(std::FILE* out, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

}  // namespace

std::string updateLine(const std::string& id, long newStrips, const std::string& failure) {
    std::string line = id + ": ";
    if (!failure.empty()) return line + "failed: " + failure;
    if (newStrips == 0) return line + "no new strips";
    return line + std::to_string(newStrips) + (newStrips == 1 ? " new strip" : " new strips");
}

std::string keptStripsNote(long missing) {
    if (missing < 0) return {};
    if (missing == 0) return ", all strips kept";
    return ", " + std::to_string(missing) + (missing == 1 ? " strip" : " strips") +
           " not downloaded yet";
}

std::string progressBar(std::size_t done, std::size_t total, std::size_t width) {
    const std::size_t filled = total == 0 ? width : done * width / total;
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "] " +
           std::to_string(done) + "/" + std::to_string(total) + " comics";
}

namespace {

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void blockStopSignals() {
    const sigset_t set = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int headlessUpdate(const HeadlessUpdateSettings& settings) {
    // The workers inherit the blocked signals; only this thread takes them.
    blockStopSignals();
    const sigset_t stopSignals = stopSignalSet();

    std::vector<ComicPtr> list;
    for (const auto& c : comics::registry().snapshot())
        if (c->active) list.push_back(c);
    tools::logln("Updating ", list.size(), " comics without a window");

    Outcomes outcomes;
    // Set with the crawl stop: the strip fetches of kept comics end too.
    std::atomic<bool> stopFetching{false};
    std::mutex doneLock;
    std::condition_variable doneSignal;
    std::size_t finished = 0;  // guarded by doneLock
    {
        tools::ThreadPool pool(settings.workers);
        for (const auto& c : list) {
            pool.addTask("Headless update for " + c->toString(), [&, c] {
                outcomes.add(updateOne(c, stopFetching));
                std::lock_guard<std::mutex> hold(doneLock);
                ++finished;
                doneSignal.notify_all();
            });
        }

        std::size_t shown = 0;
        std::size_t drawn = list.size() + 1;  // the bar shows nothing yet
        bool stopping = false;
        const std::string clear = settings.progress ? "\r\033[K" : "";
        for (;;) {
            for (const Outcome& o : outcomes.since(shown)) {
                put(settings.out, clear + updateLine(o.comic->id(), o.newStrips, o.failure) +
                                      keptStripsNote(o.stripsMissing) + "\n");
                ++shown;
            }
            if (shown == list.size()) break;
            if (settings.progress && drawn != shown) {
                put(settings.out, clear + progressBar(shown, list.size()));
                drawn = shown;
            }
            const timespec step{0, 200 * 1000 * 1000};
            const int signal = ::sigtimedwait(&stopSignals, nullptr, &step);
            if (signal == SIGINT || signal == SIGTERM) {
                if (stopping) {
                    // Asked twice: leave at once, the storage file as it was.
                    put(settings.out, clear + "Stopped without saving\n");
                    tools::flushLog();
                    ::_exit(updateSomeFailed);
                }
                stopping = true;
                comics::requestCrawlStop();
                stopFetching = true;
                tools::logln("Stopping the update after the pages being crawled");
                put(settings.out, clear + "Stopping after the pages being crawled\n");
                drawn = list.size() + 1;
            }
        }
        std::unique_lock<std::mutex> hold(doneLock);
        doneSignal.wait(hold, [&] { return finished == list.size(); });
    }  // the pool's workers end here

    int status = updateAllDone;
    std::size_t updated = 0;
    long strips = 0;
    std::string failures;
    for (const Outcome& o : outcomes.since(0)) {
        strips += o.newStrips;
        if (!o.failed) {
            ++updated;
            continue;
        }
        status = updateSomeFailed;
        failures += "  " + o.comic->id() + ": " + o.failure + "\n";
    }
    try {
        comics::saveAll(list);
    } catch (const std::exception& e) {
        tools::logln("Writing the storage failed: ", e);
        put(settings.out, "Cannot write storage.dat.zip: " + std::string(e.what()) + "\n");
        status = updateSomeFailed;
    }
    put(settings.out, "Updated " + std::to_string(updated) + " of " + std::to_string(list.size()) +
                          " comics, " + std::to_string(strips) +
                          (strips == 1 ? " new strip" : " new strips") + ", " +
                          std::to_string(list.size() - updated) + " failed\n" + failures);
    return status;
}

}  // namespace reader
