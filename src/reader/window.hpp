#pragma once
// reader.window: the reader's window, user_interface.
//
// Puts the parts together: the comic tree in the left column
// (reader/comic_tree.hpp); the toolbar (Save, update, sort) above the strip
// area (reader/strip_area.hpp) on the right; the pool tasks behind them
// (reader/page_loading.hpp); and the keys (reader/key_map.hpp), which
// keyHandler performs. It owns the bridge, and through it the window's
// surface, and switches between the window and full screen.
//
// Threads: everything runs on the loop's (main) thread except the page and
// update tasks, whose rules page_loading.hpp states.
#include <memory>
#include <string>
#include <vector>

#include "gui/sdl_bridge.hpp"
#include "reader/comic_tree.hpp"
#include "reader/page_loading.hpp"
#include "reader/selection.hpp"
#include "reader/strip_area.hpp"
#include "tools/threadpool.hpp"

namespace reader {

// The parts of the update button's caption, e.g. {"3", " ", "Update", "s", "(", "2", ")"}.
std::vector<std::string> updateCaption(int changed, int updating);

class user_interface {
public:
    using StoreAction = PageLoader::StoreAction;

    // The comic list is the registry's, unless one is given (tests). The
    // window's surface is the video surface of the moment; the interactive
    // run opens the window through the bridge afterwards.
    user_interface(tools::pool& pagePool, tools::pool& updatePool, StoreAction storeToDisk,
                   ComicList list = {}, bool useRegistry = true);
    // Holds both pools still first: no task runs on a destroyed interface.
    ~user_interface();
    user_interface(const user_interface&) = delete;
    user_interface& operator=(const user_interface&) = delete;

    // The "TOVIK.2 ready" view and caption, the layout and the key hook.
    void setUp();
    // The event loop, until Escape or the window closes.
    void run();

    bool isFullScreen() const { return fullScreen_; }
    void setFullScreen(bool f);
    void buildLayout();
    gui::WidgetPtr rootWidget() { return root_; }
    // Performs the key map's action of a key press; never consumes the event.
    bool keyHandler(gui::Event& e);
    // The update button's caption for the comics now changed and updating.
    std::vector<std::string> updateCaptionNow();
    void requestRepaint() { bridge.requestRepaint(false); }

    ComicPtr currentComic() const { return selection_.currentComic(); }
    int currentIndex() const { return selection_.currentIndex(); }
    ComicTree& tree() { return tree_; }
    StripArea& strip() { return strip_; }
    PageLoader& loader() { return loader_; }

    gui::sdl_bridge bridge;
    // The window size kept while in full screen.
    int savedWidth = 640, savedHeight = 480;

    static constexpr const char* sortLabels[4] = {"by name", "by unread", "by strips", "unsorted"};

private:
    Selection selection_;
    ComicTree tree_;
    StripArea strip_;
    PageLoader loader_;

    gui::WidgetPtr root_, windowRoot_;
    bool fullScreen_ = false;
    bool pointerOverSort_ = false;
    gui::HookToken keyHook_ = 0;
};

}  // namespace reader
