// The reader window: the parts put together, the toolbar, the keys performed
// and the switch between window and full screen.
#include "reader/window.hpp"

#include <algorithm>

#include "gui/layouts.hpp"
#include "gui/leaves.hpp"
#include "reader/key_map.hpp"
#include "sdloo/window.hpp"
#include "tools/log.hpp"

namespace reader {

using gui::WidgetList;
using gui::WidgetPtr;

std::vector<std::string> updateCaption(int changed, int updating) {
    std::vector<std::string> parts;
    if (changed != 0) parts = {std::to_string(changed), " "};
    parts.push_back("Update");
    if (changed > 1) parts.push_back("s");
    if (updating != 0) {
        parts.push_back("(");
        parts.push_back(std::to_string(updating));
        parts.push_back(")");
    }
    return parts;
}

ReaderWindow::ReaderWindow(tools::ThreadPool& pagePool, tools::ThreadPool& updatePool,
                           StoreAction storeToDisk, ComicList list, bool useRegistry)
    : bridge(std::make_shared<gui::RebuiltWidget>([this] { return root_; })),
      tree_(useRegistry && list.empty() ? comics::registry().snapshot() : std::move(list),
            selection_,
            TreeActions{
                [this](const ComicPtr& c, int page) { loader_.selectComic(c, page); },
                [this](const ComicPtr& c, int index) { loader_.selectPage(c, index, false); },
                [this](const ComicPtr& c) { loader_.selectiveUpdate(c); },
                [this](const ComicPtr& c) { loader_.queueSave(c); },
                [this] { requestRepaint(); },
                [this] {
                    if (fullScreen_)
                        requestRepaint();
                    else
                        bridge.requestRepaintOf(tree_.listWidget());
                },
                // Turned on: an update brings every strip into the store.
                [this](const ComicPtr& c) {
                    if (c->keepsStrips()) loader_.selectiveUpdate(c);
                },
            }),
      strip_(bridge, selection_),
      loader_(pagePool, updatePool, std::move(storeToDisk), selection_, tree_, strip_,
              [this] { requestRepaint(); }) {
    if (!gui::haveDefaultStyle()) gui::setDefaultStyle(std::make_shared<gui::Style>());
    auto st = gui::defaultStyle();
    st->bridge = &bridge;
    st->requestRepaint = [this] { bridge.requestRepaint(false); };
    root_ = std::make_shared<gui::TextBox>("TOVIK.2 ready");
}

ReaderWindow::~ReaderWindow() {
    // No task may run on a destroyed interface: hold both pools still.
    loader_.pausePools();
    if (gui::haveDefaultStyle()) {
        auto st = gui::defaultStyle();
        if (st->bridge == &bridge) {
            st->bridge = nullptr;
            st->requestRepaint = nullptr;
        }
    }
}

std::vector<std::string> ReaderWindow::updateCaptionNow() {
    int changed = 0, updating = 0;
    for (const auto& c : tree_.comicList()) {
        if (tree_.row(*c).changed) ++changed;
        if (c->updating) ++updating;
    }
    return updateCaption(changed, updating);
}

// ---- keys ----

bool ReaderWindow::keyHandler(gui::Event& e) {
    auto* key = dynamic_cast<gui::KeyPressed*>(&e);
    if (!key) return false;
    const KeyAction action = keyAction(*key);
    switch (action) {
        case KeyAction::typeLetter:
            tree_.typeLetter(key->letter);
            break;
        case KeyAction::firstPage:
            loader_.firstPage();
            break;
        case KeyAction::lastPage:
            loader_.lastPage();
            break;
        case KeyAction::previousPage:
            loader_.previousPage();
            break;
        case KeyAction::nextPage:
            loader_.nextPage();
            break;
        case KeyAction::scrollUp:
        case KeyAction::scrollDown:
            if (auto view = strip_.imageView()) {
                view->scrollVertical(action == KeyAction::scrollUp ? -0.3 : 0.3);
                requestRepaint();
            }
            break;
        case KeyAction::leftOrPreviousPage:
        case KeyAction::rightOrNextPage: {
            const bool left = action == KeyAction::leftOrPreviousPage;
            auto view = strip_.imageView();
            if (view && view->hbar()) {
                view->scrollHorizontal(left ? -0.3 : 0.3);
                requestRepaint();
            } else if (left) {
                loader_.previousPage();
            } else {
                loader_.nextPage();
            }
            break;
        }
        case KeyAction::cycleMatches:
            tree_.cycleMatches();
            break;
        case KeyAction::updateAll:
            loader_.globalUpdate();
            break;
        case KeyAction::copyAddress: {
            const ComicPtr c = currentComic();
            const int i = currentIndex();
            comics::Page p;
            if (c && i >= 0 && c->pageAt(static_cast<std::size_t>(i), p))
                loader_.copyToClipboardLater(std::string(p.image()));
            break;
        }
        case KeyAction::toggleFullScreen:
            setFullScreen(!fullScreen_);
            break;
        case KeyAction::toggleCentring:
            tools::logln("alt-c");
            strip_.centered.set(!strip_.centered.get());
            requestRepaint();
            break;
        case KeyAction::nextComic:
            tree_.stepComic(1);
            break;
        case KeyAction::previousComic:
            tree_.stepComic(-1);
            break;
        case KeyAction::collapse:
            tree_.collapseCurrent();
            break;
        case KeyAction::quit:
            bridge.stop();
            break;
        case KeyAction::none:
            break;
    }
    return false;
}

// ---- screen modes and layout ----

void ReaderWindow::setFullScreen(bool f) {
    if (f == fullScreen_) return;
    if (f && bridge.screen()) {
        const gui::Coord size = bridge.screenSize();
        savedWidth = size.x;
        savedHeight = size.y;
    }
    tools::logln("Switching screen mode");
    bool switched = false;
    if (f) {
        int w = sdloo::desktopWidth, h = sdloo::desktopHeight;
        if (w <= 0 || h <= 0) {  // no usable size: stay as large as the window
            w = savedWidth;
            h = savedHeight;
        }
        // The same bound as for resizing: SDL keeps a surface's row length in 16 bits.
        w = std::clamp(w, 1, gui::maxWindowSide);
        h = std::clamp(h, 1, gui::maxWindowSide);
        tools::logln("Switching to fullscreen: ", w, "x", h, ":", 32, " with NOFRAME and SWSURF");
        switched = bridge.setVideoMode(w, h, sdloo::VideoMode::frameless);
    } else {
        switched = bridge.setVideoMode(savedWidth, savedHeight, sdloo::VideoMode::window);
        if (switched) tools::logln("Switched to ", savedWidth, "x", savedHeight);
    }
    if (!switched) {
        // The previous mode, layout and flag stay.
        tools::logln("Switching screen mode failed: ", sdloo::videoError());
        bridge.requestRepaint(true);
        return;
    }
    fullScreen_ = f;
    tools::logln("Resetup widgets");
    buildLayout();
    bridge.requestRepaint(true);
}

void ReaderWindow::buildLayout() {
    strip_.reset();
    auto stripAreaNow = std::make_shared<gui::RebuiltWidget>([this] { return strip_.stripArea(); });
    if (fullScreen_) {
        root_ = stripAreaNow;
        return;
    }
    WidgetPtr left = tree_.column();

    auto save = std::make_shared<gui::Button>(std::make_shared<gui::Text>("Save"), false,
                                              [this] { loader_.queueSave(nullptr); });
    auto updateButton =
        std::make_shared<gui::Button>(nullptr, false, [this] { loader_.globalUpdate(); });
    std::weak_ptr<gui::Button> updateWeak = updateButton;
    updateButton->child = std::make_shared<gui::RebuiltWidget>([this, updateWeak] {
        const std::vector<std::string> parts = updateCaptionNow();
        const bool marked = parts.front() != "Update" && parts.back() == ")";
        if (auto b = updateWeak.lock()) b->highlighted = marked;
        auto label = formatted(parts, gui::defaultStyle()->textColour);
        label->centred = true;
        return label;
    });
    auto sortText = std::make_shared<gui::Text>(
        gui::BoundValue<std::string>::bound([this] {
            return pointerOverSort_
                       ? std::string(sortLabels[static_cast<int>(tree_.sortmode.get()) & 3])
                       : std::string("Sort");
        }),
        false);
    auto sortButton = std::make_shared<gui::Button>(
        sortText, false, [this] { tree_.nextSortMode(); }, false,
        [this](bool entered) {
            pointerOverSort_ = entered;
            requestRepaint();
        });
    auto toolbar = std::make_shared<gui::PlainSplitWidget>(
        false, WidgetList{save, updateButton, sortButton}, false, std::vector<int>{20, 40, 40});
    auto right = std::make_shared<gui::FixedSplit>(true, 20, toolbar, stripAreaNow);
    windowRoot_ = std::make_shared<gui::SplitWidget>(true, left, right, 200);
    root_ = windowRoot_;
}

void ReaderWindow::setUp() {
    tree_.collapseAll();
    strip_.setStripView(std::make_shared<gui::TextBox>("TOVIK.2 ready"));
    sdloo::setCaption("TOVIK.2 ready");
    buildLayout();
    keyHook_ = bridge.addHook([this](gui::Event& e) { return keyHandler(e); }, this);
}

void ReaderWindow::run() {
    bridge.requestRepaint(true);
    bridge.loop();
}

}  // namespace reader
