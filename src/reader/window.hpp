#pragma once
// reader.window: the reader's window, user_interface.
//
// A comic list with two tabs (active and available comics), an expandable tree
// of each comic's pages, a toolbar (Save, update, sort), a search row for
// type-ahead and the strip area with the strip view. Clicks and keys become
// actions; loading pages, prefetching, updates and saves run as pool tasks
// (their operations live in reader/page_loading.cpp).
//
// Threads: everything but the page tasks runs on the loop's (main) thread.
// Page tasks read the current comic and page index, change the read position
// and swap the strip view under the GUI lock; they never draw. Lock order: the
// GUI lock, then the comic list lock, then a comic's lock; comics::saveLock()
// before a comic's lock; nothing takes the GUI lock while holding a comic's lock.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comics/base.hpp"
#include "gui/sdl_bridge.hpp"
#include "gui/widgets.hpp"
#include "reader/images.hpp"
#include "tools/ini.hpp"
#include "tools/threadpool.hpp"

namespace reader {

using ComicPtr = std::shared_ptr<comics::comic>;
using ComicList = std::vector<ComicPtr>;

// ---- pure parts (tested on their own) ----

// Whether a comes after b in the given order (the comb sort's swap test).
bool outOfOrder(const comics::comic& a, const comics::comic& b, tools::sortMode mode);
// Names compared byte by byte after adding 32 to every byte below 'a'; a
// prefix sorts first. True when a sorts after b.
bool nameAfter(const std::string& a, const std::string& b);
// Comb sort in place (gap / 1.3, 9 and 10 become 11, at least 1; ends after a
// gap-1 pass without swaps).
void combSort(ComicList& list, tools::sortMode mode);
// The parts of a comic row's count text, e.g. {"4", "/", "10", " "}.
std::vector<std::string> countText(std::int32_t pages, std::int32_t position, tools::sortMode mode);
// The parts of the update button's caption, e.g. {"3", " ", "Update", "s", "(", "2", ")"}.
std::vector<std::string> updateCaption(int changed, int updating);
// A display name lower-cased with everything outside a-z removed.
std::string searchKey(const std::string& name);
// Opens an address with the desktop's opener (xdg-open, no shell); "http://"
// goes in front unless it is there.
void openURL(const std::string& address);
// The opener's argument vector for an address (exposed for tests).
std::vector<std::string> openerCommand(const std::string& address);

// The strip view that holds a decoded strip until its first draw (on the
// loop's thread), when the strip becomes a surface in an image view and the
// window caption names the strip. The decoded image is destroyed then, or with
// the widget when it is replaced before it was ever drawn.
class stripImage : public gui::delay {
public:
    stripImage(libgd::Image image, std::string caption, std::function<bool()> centre);
    // The image view, once made (null before the first draw).
    std::shared_ptr<gui::showsurf> view() const { return view_; }
    // Whether the decoded image is still held.
    bool holdsImage() const { return image_ != nullptr; }

private:
    gui::WidgetPtr make();

    libgd::Image image_;
    std::string caption_;
    std::function<bool()> centre_;
    std::shared_ptr<gui::showsurf> view_;
};

class user_interface {
public:
    using StoreAction = std::function<void()>;

    // The comic list is the registry's, unless one is given (tests).
    user_interface(tools::pool& pagePool, tools::pool& updatePool, StoreAction storeToDisk,
                   ComicList list = {}, bool useRegistry = true);
    virtual ~user_interface();
    user_interface(const user_interface&) = delete;
    user_interface& operator=(const user_interface&) = delete;

    // ---- window ----
    virtual bool isFullScreen() const { return fullScreen_; }
    virtual void setFullScreen(bool f);
    virtual gui::WidgetPtr rootWidget() { return root_; }
    virtual void scrollTreeTo(int row);
    virtual std::string pageLabel(const comics::comic& c, int index) const;
    virtual void collapseCurrent();
    virtual void selectComic(const ComicPtr& c, int page);
    virtual gui::WidgetList buildTree(int from, int to);
    virtual void setStripView(gui::WidgetPtr w);
    virtual gui::WidgetPtr stripView();
    virtual gui::WidgetPtr stripArea();
    virtual gui::WidgetPtr linkBar(const comics::LinkList& links);
    virtual void resumeUpdatePool() { updatePool_.resume(); }
    virtual gui::WidgetPtr searchRow();
    virtual gui::WidgetPtr tabs();
    virtual ComicList matches();
    virtual void cycleMatches();
    virtual bool keyHandler(gui::Event& e);
    virtual std::vector<std::string> updateCaptionNow();
    virtual void nextSortMode();
    virtual void buildLayout();
    virtual void setUp();
    virtual void run();

    // ---- page loading, updates, saves (reader/page_loading.cpp) ----
    virtual void showCurrentPageAgain();
    virtual void firstPage();
    virtual void previousPage();
    virtual void nextPage();
    virtual void lastPage();
    virtual void selectPage(const ComicPtr& c, int index, bool prefetch);
    virtual void prefetch(int index);
    virtual void showPage(bool set, int index);
    // The same for a given comic: a task carries the comic it was queued for and
    // moves nothing once another comic became the current one.
    virtual void showPage(const ComicPtr& k, bool set, int index);
    virtual void save(const ComicPtr& c);  // null: every comic
    virtual void queueSave(const ComicPtr& c);
    virtual void globalUpdate();
    virtual void selectiveUpdate(const ComicPtr& c);

    // ---- state ----
    ComicPtr currentComic() const;
    int currentIndex() const { return currentIndex_.load(); }
    ComicList comicList() const;
    void sortComics();
    bool tab() const { return tab_; }
    void setTab(bool t);
    const std::string& searchText() const { return search_; }
    ComicPtr hovered() const { return hovered_; }
    void setHovered(ComicPtr c);
    void typeLetter(char letter);
    void requestRepaint() { bridge.requestRepaint(false); }
    std::shared_ptr<gui::fixedscrollbox> treeBox() const { return treeBox_; }

    tools::IniValue<bool> centered{"centered", false};
    tools::IniValue<tools::sortMode> sortmode{"sortmode", tools::sortMode::unsorted};
    gui::sdl_bridge bridge;
    // The window size kept while in full screen.
    int savedWidth = 640, savedHeight = 480;

    static constexpr const char* sortLabels[4] = {"by name", "by unread", "by strips", "unsorted"};

private:
    void setCurrentComic(ComicPtr c);
    void update(const ComicPtr& c, const std::string& taskName);
    gui::WidgetPtr comicRow(const ComicPtr& c, bool isCurrent, bool isMatch);
    gui::WidgetPtr pageRow(const ComicPtr& c, int index, const comics::page& p, bool isCurrent,
                           int position);
    void stepComic(int step);
    void selectAt(const ComicPtr& c) { selectComic(c, -1); }

    tools::pool& pagePool_;
    tools::pool& updatePool_;
    StoreAction storeToDisk_;

    mutable std::mutex listLock_;
    ComicList comics_;  // guarded by listLock_

    mutable std::mutex currentLock_;
    ComicPtr current_;  // guarded by currentLock_
    std::atomic<int> currentIndex_{-1};

    gui::WidgetPtr stripView_;  // guarded by the GUI lock
    gui::WidgetPtr stripArea_;  // rebuilt when the current comic changes
    const comics::comic* stripAreaFor_ = nullptr;
    gui::WidgetPtr root_, windowRoot_;
    std::shared_ptr<gui::fixedscrollbox> treeBox_;

    bool fullScreen_ = false;
    bool tab_ = true;
    ComicPtr hovered_;
    bool pointerOverSort_ = false;
    std::string search_;
    int matchCycle_ = -1;
    gui::HookToken keyHook_ = 0;
};

}  // namespace reader
