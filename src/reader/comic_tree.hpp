#pragma once
// reader.comic_tree: the window's left column: the comic list in its order,
// each comic's row state, the two tabs and type-ahead search.
//
// ComicTree holds the reader's list of comics and sorts it (comb sort, four
// orders), builds the rows of the scroll box (a row per comic of the tab, and
// a row per page of an expanded comic), the tab buttons and the search row,
// and keeps the type-ahead text. What a click or a typed letter asks for
// (selecting a comic or a page, an update, a save) goes to its TreeActions.
//
// Threads: the list and the row states are guarded by their own locks, so
// page and update tasks may read the list and mark rows; everything else (tabs,
// search text, hover, widgets) belongs to the loop's thread. Lock order: the
// list lock (sorting holds it), then a comic's lock or the row-state lock,
// which is a leaf.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comics/base.hpp"
#include "gui/composites.hpp"
#include "gui/leaves.hpp"
#include "gui/scrolling.hpp"
#include "reader/selection.hpp"
#include "tools/ini.hpp"

namespace reader {

// The reader's own state of a comic's row; the model knows nothing of it.
struct RowState {
    // Place in the order the list came in: the "unsorted" order.
    std::atomic<std::int32_t> listIndex{0};
    // The tree lists the comic's pages below its row.
    std::atomic<bool> expanded{false};
    // An update found new strips since the comic was last selected.
    std::atomic<bool> changed{false};
    // While the strips of a comic that keeps them are fetched: pages looked
    // at so far (-1: no such fetch) and the page count.
    std::atomic<std::int32_t> keeping{-1};
    std::atomic<std::int32_t> keepingOf{0};
};

// A RowState per comic (by address), made on first use. Thread-safe; the
// references it hands out stay valid while it lives.
class RowStates {
public:
    RowStates() = default;
    // Numbers the comics in the order given.
    explicit RowStates(const ComicList& list);
    // A comic met for the first time is numbered after all others.
    RowState& of(const comics::Comic& c);

private:
    std::mutex lock_;
    std::map<const comics::Comic*, RowState> states_;  // guarded by lock_
};

// ---- order and texts (tested on their own) ----

// Whether a comes after b in the given order (the comb sort's swap test).
bool outOfOrder(const comics::Comic& a, const comics::Comic& b, tools::SortMode mode,
                RowStates& rows);
// Names compared byte by byte after adding 32 to every byte below 'a'; a
// prefix sorts first. True when a sorts after b.
bool nameAfter(const std::string& a, const std::string& b);
// Comb sort in place (gap / 1.3, 9 and 10 become 11, at least 1; ends after a
// gap-1 pass without swaps).
void combSort(ComicList& list, tools::SortMode mode, RowStates& rows);
// The parts of a comic row's count text, e.g. {"4", "/", "10", " "}.
std::vector<std::string> countText(std::int32_t pages, std::int32_t position, tools::SortMode mode);
// A display name lower-cased with everything outside a-z removed.
std::string searchKey(const std::string& name);

// What the tree's buttons and typed letters ask the window for.
struct TreeActions {
    // The comic at a page (-1: at its read position), with a prefetch.
    std::function<void(const ComicPtr&, int page)> selectComic;
    std::function<void(const ComicPtr&, int index)> selectPage;
    std::function<void(const ComicPtr&)> update;
    std::function<void(const ComicPtr&)> save;
    std::function<void()> repaint;
    // Repaints the list alone (a change of hover); the whole window when empty.
    std::function<void()> repaintList;
    // The comic's keep_strips setting was changed (to on: keep them now).
    std::function<void(const ComicPtr&)> keepStripsChanged;
};

class ComicTree {
public:
    // The list is numbered in the order given (the "unsorted" order).
    ComicTree(ComicList list, const Selection& selection, TreeActions actions);
    ComicTree(const ComicTree&) = delete;
    ComicTree& operator=(const ComicTree&) = delete;

    // ---- the list ----
    ComicList comicList() const;
    // Sorts the list in the order of sortmode.
    void sortComics();
    void nextSortMode();
    RowState& row(const comics::Comic& c) { return rows_.of(c); }
    tools::IniValue<tools::SortMode> sortmode{"sortmode", tools::SortMode::unsorted};

    // ---- tabs ----
    // true: the active comics, false: the available ones.
    bool tab() const { return tab_; }
    void setTab(bool t);

    // ---- rows ----
    // The left column: the tabs above the scroll box of rows above the search row.
    gui::WidgetPtr column();
    // The scroll box in the pointer watch the column holds: the list's own
    // widget, which a repaint of the list alone draws.
    gui::WidgetPtr listWidget() const { return list_; }
    // The scroll box's rows from..to (others empty); scrolls to the current page's row.
    gui::WidgetList buildTree(int from, int to);
    std::shared_ptr<gui::FixedScrollBox> treeBox() const { return treeBox_; }
    void scrollTreeTo(int row);
    void collapseCurrent();
    void collapseAll();
    // The comic whose row is under the pointer: kept by comic, not by row
    // widget, so it survives the rows being made anew at every repaint.
    ComicPtr hovered() const { return hovered_; }
    void setHovered(ComicPtr c);
    // The pointer moved to a position of the list (window pixels): hovers the
    // comic of the row there, or nothing over a page row, the scroll bar or
    // below the rows.
    void pointerAt(gui::Coord pos);

    // ---- type-ahead and stepping ----
    const std::string& searchText() const { return search_; }
    // The comics whose search key contains the search text.
    ComicList matches();
    // Adds a letter; letters go from the front until something matches; a
    // single match is selected.
    void typeLetter(char letter);
    // Selects the next of several matches.
    void cycleMatches();
    // Selects the comic step places after the current one in the tab.
    void stepComic(int step);

private:
    gui::WidgetPtr tabs();
    gui::WidgetPtr searchRow();
    gui::WidgetPtr comicRow(const ComicPtr& c, bool isCurrent, bool isMatch);
    gui::WidgetPtr pageRow(const ComicPtr& c, int index, const comics::Page& p, bool isCurrent,
                           int position);
    void selectAt(const ComicPtr& c) { actions_.selectComic(c, -1); }

    const Selection& selection_;
    const TreeActions actions_;

    mutable std::mutex listLock_;
    ComicList comics_;  // guarded by listLock_
    RowStates rows_;

    std::shared_ptr<gui::FixedScrollBox> treeBox_;
    gui::WidgetPtr list_;
    // The comic of each row of the latest build (null for page rows).
    ComicList rowComics_;
    bool tab_ = true;
    ComicPtr hovered_;
    std::string search_;
    int matchCycle_ = -1;
};

// A line of text parts in one colour over an optional background (a row's
// label, a caption).
std::shared_ptr<gui::FormattedText> formatted(const std::vector<std::string>& parts,
                                              gui::Rgba colour,
                                              gui::WidgetPtr background = nullptr);

}  // namespace reader
