#pragma once
// gui.base: the toolkit's vocabulary.
//
// Events (Event and its kinds, told apart by dynamic type), the abstract
// widget every element of the window is built from, the style that holds
// colours, fonts and the three drawing operations, and the abstract ui_bridge
// that connects a widget tree to a windowing system (hooks, dispatch, loop).
//
// Ownership: widgets are held by std::shared_ptr (WidgetPtr). A widget that
// another thread replaces goes to retire(), so that it is freed on the loop's
// thread (where surfaces may be freed), never while the loop draws it.
//
// Threads: widgets are drawn and handle events on the loop's thread; the
// default style, the hook table, retire and requestRepaint are safe from any
// thread.
#include <SDL/SDL.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdloo/ttf.hpp"
#include "sdloo/video.hpp"

namespace gui {

using sdloo::coord;
using sdloo::rect;
using sdloo::rgba;

// The area shrunk by m on every side, or as far as it allows: a side never
// gets a negative length.
rect shrunk(rect r, int m);

// ---- events ----

struct Event {
    virtual ~Event() = default;
};

// An event at a pointer position in window pixels (or in the pixels of the
// off-screen surface an item is drawn into).
struct LocalEvent : Event {
    coord pos;
    explicit LocalEvent(coord p) : pos(p) {}
};
struct MouseMoved : LocalEvent {
    using LocalEvent::LocalEvent;
};
struct MouseDown : LocalEvent {  // buttons 1 to 3
    using LocalEvent::LocalEvent;
};
struct MouseUp : LocalEvent {  // buttons 1 to 3
    using LocalEvent::LocalEvent;
};
struct MouseScroll : LocalEvent {
    bool up;  // the wheel turned up (SDL button 4)
    MouseScroll(coord p, bool up_) : LocalEvent(p), up(up_) {}
};
struct MouseStateChanged : Event {};
struct MouseEntered : MouseStateChanged {};
struct MouseLeft : MouseStateChanged {};
// The keys the toolkit tells apart, in its own codes (the bridge translates
// the windowing system's); every other key is Key::other.
enum class Key : std::uint8_t {
    other,
    letter,  // a to z: KeyPressed::letter says which
    home,
    end,
    pageUp,
    pageDown,
    up,
    down,
    left,
    right,
    enter,  // Return
    backspace,
    escape,
    f5,
    f7,
    f11,
    keypadPlus,
    keypadMinus,
};
struct KeyPressed : Event {
    Key key;
    char letter;  // 'a' to 'z' for Key::letter, otherwise 0
    bool alt;     // an Alt key was held
    explicit KeyPressed(Key k, char l = 0, bool a = false) : key(k), letter(l), alt(a) {}
};

class style;
class ui_bridge;

// ---- widget ----

class widget : public std::enable_shared_from_this<widget> {
public:
    widget() = default;
    virtual ~widget() = default;
    widget(const widget&) = delete;
    widget& operator=(const widget&) = delete;

    // The own style, or the process-wide default style when there is none.
    gui::style& style() const;
    virtual void setStyle(std::shared_ptr<gui::style> s);
    bool changed() const { return changed_.load(std::memory_order_relaxed); }
    virtual void setChanged() { changed_.store(true, std::memory_order_relaxed); }
    virtual void clearChanged() { changed_.store(false, std::memory_order_relaxed); }
    // Draws into area on the target; ends by clearing the changed flag.
    virtual void draw(SDL_Surface* target) = 0;
    // Reacts to an event; true when the widget used it.
    virtual bool handle(Event& e) = 0;
    // The size the widget asks its parent for (advisory).
    virtual coord requestedSize() = 0;
    // Text form for log lines.
    virtual std::string toString() const { return "widget"; }

    // Where the widget is drawn; assigned by the parent before each draw.
    rect area;

protected:
    const std::shared_ptr<gui::style>& ownStyle() const { return style_; }
    // Asks for a (not full) repaint through the style, when it is bound.
    void requestRepaint() const;

private:
    std::shared_ptr<gui::style> style_;
    std::atomic<bool> changed_{true};
};

using WidgetPtr = std::shared_ptr<widget>;
using WidgetList = std::vector<WidgetPtr>;

// ---- style ----

// File name of the style's fonts, relative to the working directory.
inline constexpr const char* defaultFontFile = "vera.ttf";

class style {
public:
    using RectOp = std::function<void(SDL_Surface* target, rect area, rgba colour)>;
    using PanelOp = std::function<void(SDL_Surface* target, rect area, rgba border, rgba face,
                                       bool openBottom)>;

    // Default values; opens the five fonts from fontFile (throws the font
    // class's error when it cannot be opened).
    explicit style(const std::string& fontFile = defaultFontFile);
    // A copy of another style (fonts shared) with textColour, backColour and
    // faceColour modulated by tint. Drawing fields that were bound to the
    // original's own operations are bound to the copy's.
    style(const style& from, rgba tint);
    ~style() = default;
    style& operator=(const style&) = delete;

    // A tinted copy of from, or of the default style when from is null.
    static std::shared_ptr<style> tinted(rgba tint, const style* from = nullptr);

    // One-pixel frame, pixel by pixel.
    void drawOutline(SDL_Surface* target, rect area, rgba colour);
    // SDL_FillRect of the area.
    void drawFill(SDL_Surface* target, rect area, rgba colour);
    // The glossy face of buttons and bars with a border of rounded corners.
    void drawPanel(SDL_Surface* target, rect area, rgba border, rgba face, bool openBottom);

    // The font of a formatted text part: 0 font, 1 smallFont, 2 largeFont,
    // 3 tinyFont, 4 hugeFont; others throw tools::Failure.
    sdloo::TTF_FontClass& fontByIndex(int index) const;

    int gap = 3;
    int unitSize = 16;
    // Widgets draw through these; they start bound to the operations above.
    RectOp outline;
    PanelOp panel;
    RectOp fill;
    // The bridge the style belongs to (hooks of dragging widgets); may be null.
    ui_bridge* bridge = nullptr;
    rgba textColour{34, 34, 34, 0};
    rgba backColour{200, 200, 210, 0};
    rgba faceColour{150, 150, 168, 0};
    rgba accentColour{32, 96, 96, 0};
    rgba errorColour{255, 128, 128, 0};
    std::shared_ptr<sdloo::TTF_FontClass> font, smallFont, largeFont, tinyFont, hugeFont;
    // Asks for a (not full) repaint; may be empty. Safe from any thread when
    // bound to a bridge's requestRepaint.
    std::function<void()> requestRepaint;

private:
    void bindOwnOperations();
};

// The process-wide default style (set once by the application before its
// loop starts). defaultStyle throws tools::Failure when none is set.
void setDefaultStyle(std::shared_ptr<style> s);
std::shared_ptr<style> defaultStyle();
bool haveDefaultStyle();

// ---- hooks ----

using Hook = std::function<bool(Event&)>;
using HookToken = std::uint64_t;

// The ordered hook list of a bridge. Thread-safe.
class HookTable {
public:
    // Appends h; key identifies the registration (an object): adding a second
    // hook under a key already present throws tools::Failure. A null key never
    // conflicts. Returns the token that removes the hook.
    HookToken add(Hook h, const void* key = nullptr);
    // On an empty list throws std::runtime_error
    // "Can't remove stuff from empty array!"; otherwise removes the hook (the
    // last entry moves into its place) or does nothing when it is absent.
    void remove(HookToken token);
    // Offers e to the hooks in order; true when one consumed it.
    bool offer(Event& e);
    std::size_t size() const;

private:
    struct Entry {
        HookToken token;
        const void* key;
        std::shared_ptr<Hook> hook;
    };
    mutable std::mutex lock_;
    std::vector<Entry> entries_;
    HookToken next_ = 1;
};

// ---- bridge ----

class ui_bridge {
public:
    explicit ui_bridge(WidgetPtr root);
    virtual ~ui_bridge();
    ui_bridge(const ui_bridge&) = delete;
    ui_bridge& operator=(const ui_bridge&) = delete;

    void stop() { running = false; }
    // Asks for a repaint; full also marks the whole tree changed and repaints
    // the background. Only sets flags: safe from any thread.
    virtual void requestRepaint(bool full) = 0;
    // Hooks in order, then the root.
    virtual void dispatch(Event& e);
    // Runs until stopped; ends only after a pass that handled events.
    void loop();
    // Handles all pending input; false when there was none.
    virtual bool processEvents() = 0;
    virtual void idle() = 0;

    HookToken addHook(Hook h, const void* key = nullptr) { return hooks->add(std::move(h), key); }
    void removeHook(HookToken token) { hooks->remove(token); }

    WidgetPtr root;
    std::atomic<bool> running{true};
    const std::shared_ptr<HookTable> hooks = std::make_shared<HookTable>();
};

// ---- lifetimes across threads ----

// Hands an object (a replaced widget, an image) to the loop's thread to be
// freed there. On the loop's thread it is released at once.
void retire(std::shared_ptr<void> object);
// Frees what was retired (the bridge calls it on its thread before each
// repaint). Returns how many objects were freed.
std::size_t drainRetired();
// Marks the calling thread as the loop's thread (the bridge does it).
void becomeLoopThread();
bool onLoopThread();

}  // namespace gui
