#pragma once
// gui.sdl_bridge: the bridge over SDL 1.2.
//
// SdlBridge polls SDL's event queue, coalesces mouse motion, turns SDL events
// into toolkit events (keys into gui::Key codes), hands them to hooks and the
// tree, and repaints the tree onto the window's surface when asked. The bridge
// keeps that surface: the video surface when it was made, then what its own
// setVideoMode and the user's resizes made (SDL 1.2 has one video surface and
// owns it).
//
// The GUI lock: the loop's thread holds it while it draws the tree and while
// it dispatches an event; any other thread takes it before it changes the
// tree. It is recursive, so handlers on the loop's thread may take it again.
// Only the loop's thread calls SDL video functions.
#include <SDL/SDL.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gui/base.hpp"
#include "sdloo/window.hpp"

namespace gui {

using GuiMutex = std::recursive_mutex;
GuiMutex& guiLock();
// Holds the GUI lock for a scope.
class GuiLock {
public:
    GuiLock() : hold_(guiLock()) {}

private:
    std::lock_guard<GuiMutex> hold_;
};

// A text for log lines: "Unused", "Active", ... "Expose" for types 0 to 17,
// otherwise "Unidentified event " + the number.
std::string eventName(int type);

// The toolkit's form of a key press: SDL's key code and modifiers translated.
KeyPressed translateKey(SDLKey sym, SDLMod mod);

class SdlBridge : public UiBridge {
public:
    explicit SdlBridge(WidgetPtr root);

    // The surface the tree is painted on; null when there is no window (none
    // yet, or a resize SDL could not recover from). SDL owns it.
    SDL_Surface* screen() const { return screen_; }
    // Its size, (0, 0) without a window.
    Coord screenSize() const;
    // Opens the window or changes its size and kind (sdloo::setVideoMode); the
    // tree is painted on the new surface from then on. False when SDL refused
    // (sdloo::videoError tells why); the previous mode stays, asked for again
    // when SDL gave it up before refusing.
    bool setVideoMode(int width, int height, sdloo::VideoMode mode);

    // Only sets flags (and marks the tree changed when called on the loop's
    // thread; from elsewhere that happens at the next repaint). Any thread.
    void requestRepaint(bool full) override;
    // Takes the GUI lock around hooks and the tree.
    void dispatch(Event& e) override;
    bool processEvents() override;
    // Repaints; when there was nothing to repaint, sleeps 1 ms.
    void idle() override;
    // Asks for a repaint of one widget alone, where it was last drawn; the
    // rest of the window stays as it is. A repaint of the tree covers it.
    // Any thread.
    void requestRepaintOf(const WidgetPtr& w);
    // Draws the tree onto the screen surface and flips it, or draws only the
    // widgets asked for alone and updates their areas; false when no repaint
    // was pending.
    bool repaint();
    // Repaints so far: of the whole tree, and of single widgets.
    std::atomic<long> treePaints{0};
    std::atomic<long> partPaints{0};
    void handleSDLEvent(const SDL_Event& e);

    std::atomic<bool> needsRepaint{false};
    std::atomic<bool> fullRepaint{false};
    // Where the wheel was last turned; a MouseMoved goes there after the
    // next repaint, so hover states follow content scrolled under the pointer.
    std::optional<Coord> pendingPointer;

private:
    void resize(int width, int height);

    bool repaintParts();

    SDL_Surface* screen_;
    sdloo::VideoMode mode_ = sdloo::VideoMode::window;  // of the last mode set
    std::atomic<bool> treeChangePending_{false};
    std::mutex partsLock_;
    std::vector<std::weak_ptr<Widget>> parts_;  // guarded by partsLock_
};

// Largest window side the bridge asks SDL for (its pitch is 16-bit).
inline constexpr int maxWindowSide = sdloo::maxSurfaceWidth;

// The drawing primitives behind the style's operations. panel fills its
// inside through innerFill when given (the style's fill field), else with fill.
void panel(SDL_Surface* target, Rect area, Rgba border, Rgba face, bool openBottom,
           const Style::RectOp& innerFill = {});
void outline(SDL_Surface* target, Rect area, Rgba colour);
void fill(SDL_Surface* target, Rect area, Rgba colour);

}  // namespace gui
