#pragma once
// reader.headless_update: "-update", every active comic brought up to date
// without a window, for timers and scripts.
//
// The comics are crawled on a pool of update workers, as the window's update
// does. Standard output gets one line per comic as it ends (its new strips, or
// its error), a progress bar while it is a terminal, and a summary; the log
// lines go to "tovik.log" only. A comic that keeps its strips (keep_strips)
// has the strips of its pages that the strip store lacks fetched after its
// crawl, one at a time, and its line tells how many are still missing. Every comic is saved and the
// storage written once, at the end. SIGINT or SIGTERM stops the crawls after the pages they are on,
// then saves the same way.
//
// Threads: run on the main thread, before any other thread exists (it blocks
// SIGINT and SIGTERM for the workers it starts and takes them itself).
#include <cstdio>
#include <string>

namespace reader {

struct HeadlessUpdateSettings {
    int workers = 64;
    std::FILE* out = stdout;
    // Draw the progress bar (default: when out is a terminal).
    bool progress = false;
};

// The exit statuses of "-update".
inline constexpr int updateAllDone = 0;
inline constexpr int updateSomeFailed = 1;
inline constexpr int updateCannotStart = 2;

// Blocks SIGINT and SIGTERM on the calling thread, so that the threads it
// starts afterwards leave them to headlessUpdate. Called before the start-up,
// whose modules may start threads of their own.
void blockStopSignals();

// Updates every active comic of the registry and saves. Returns updateAllDone
// when every comic updated, updateSomeFailed when any failed or the run was
// interrupted.
int headlessUpdate(const HeadlessUpdateSettings& settings);

// One finished comic's line: "<id>: 3 new strips", "<id>: no new strips",
// "<id>: failed: <reason>".
std::string updateLine(const std::string& id, long newStrips, const std::string& failure);

// What a comic that keeps its strips adds to its line: ", all strips kept",
// ", 2 strips not downloaded yet"; "" for missing < 0 (a comic that does not
// keep them).
std::string keptStripsNote(long missing);

// "[#####-----] 5/10 comics": the bar is width characters wide.
std::string progressBar(std::size_t done, std::size_t total, std::size_t width = 30);

}  // namespace reader
