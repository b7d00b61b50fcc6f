#pragma once
// reader.selection: what the window shows, the current comic and the index
// of its page.
//
// The loop's thread selects a comic and moves the index when the user pages;
// page tasks read both to learn whether their page is still the one wanted,
// and move the index when they show a page. The tree marks the current row.
//
// Threads: every member is safe from any thread (the comic under its lock, the
// index atomic). The lock is a leaf: nothing else is taken while it is held.
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "comics/base.hpp"

namespace reader {

using ComicPtr = std::shared_ptr<comics::comic>;
using ComicList = std::vector<ComicPtr>;

class Selection {
public:
    // The comic shown (null before the first selection).
    ComicPtr currentComic() const {
        std::lock_guard<std::mutex> hold(lock_);
        return comic_;
    }
    void setCurrentComic(ComicPtr c) {
        std::lock_guard<std::mutex> hold(lock_);
        comic_ = std::move(c);
    }
    // The index of the page shown or being loaded (-1 before the first).
    int currentIndex() const { return index_.load(); }
    void setCurrentIndex(int index) { index_ = index; }

private:
    mutable std::mutex lock_;
    ComicPtr comic_;  // guarded by lock_
    std::atomic<int> index_{-1};
};

}  // namespace reader
