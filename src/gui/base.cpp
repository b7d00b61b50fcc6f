#include "gui/base.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <thread>

#include "gui/sdl_bridge.hpp"
#include "tools/failure.hpp"
#include "tools/log.hpp"

namespace gui {

// ---- widget ----

rect shrunk(rect r, int m) {
    if (2 * m <= r.w && 2 * m <= r.h) {
        r.shrink(m);
        return r;
    }
    // Too small for the whole margin: take what there is, down to nothing.
    auto side = [m](std::int32_t& start, std::int32_t& length) {
        int take = std::min(m, std::max(length, 0) / 2);
        start += take;
        length = std::max(length - 2 * m, 0);
    };
    side(r.x, r.w);
    side(r.y, r.h);
    return r;
}

namespace {

std::mutex defaultStyleLock;
// Guarded by defaultStyleLock. Never destroyed: its fonts must not be closed
// by the exit handlers after SDL_ttf has shut down.
std::shared_ptr<style>& theDefaultStyle = *new std::shared_ptr<style>;

}  // namespace

void setDefaultStyle(std::shared_ptr<style> s) {
    std::lock_guard<std::mutex> hold(defaultStyleLock);
    theDefaultStyle = std::move(s);
}

std::shared_ptr<style> defaultStyle() {
    std::lock_guard<std::mutex> hold(defaultStyleLock);
    tools::check(theDefaultStyle != nullptr, "no default style set");
    return theDefaultStyle;
}

bool haveDefaultStyle() {
    std::lock_guard<std::mutex> hold(defaultStyleLock);
    return theDefaultStyle != nullptr;
}

gui::style& widget::style() const {
    if (style_) return *style_;
    // The default style lives until the process ends (or the test resets it
    // while no widget draws), so handing out a reference is safe.
    std::lock_guard<std::mutex> hold(defaultStyleLock);
    tools::check(theDefaultStyle != nullptr, "no default style set");
    return *theDefaultStyle;
}

void widget::setStyle(std::shared_ptr<gui::style> s) { style_ = std::move(s); }

void widget::requestRepaint() const {
    gui::style& s = style();
    if (s.requestRepaint) s.requestRepaint();
}

// ---- style ----

namespace {

// The drawing fields' default bindings. Recognised by type when a style is
// copied, so the copy draws through its own operations.
struct OwnOutline {
    style* self;
    void operator()(SDL_Surface* t, rect a, rgba c) const { self->drawOutline(t, a, c); }
};
struct OwnFill {
    style* self;
    void operator()(SDL_Surface* t, rect a, rgba c) const { self->drawFill(t, a, c); }
};
struct OwnPanel {
    style* self;
    void operator()(SDL_Surface* t, rect a, rgba b, rgba f, bool open) const {
        self->drawPanel(t, a, b, f, open);
    }
};

}  // namespace

style::style(const std::string& fontFile)
    : font(std::make_shared<sdloo::TTF_FontClass>(fontFile, 12)),
      smallFont(std::make_shared<sdloo::TTF_FontClass>(fontFile, 10)),
      largeFont(std::make_shared<sdloo::TTF_FontClass>(fontFile, 14)),
      tinyFont(std::make_shared<sdloo::TTF_FontClass>(fontFile, 9)),
      hugeFont(std::make_shared<sdloo::TTF_FontClass>(fontFile, 20)) {
    bindOwnOperations();
}

style::style(const style& from, rgba tint)
    : gap(from.gap),
      unitSize(from.unitSize),
      outline(from.outline),
      panel(from.panel),
      fill(from.fill),
      bridge(from.bridge),
      textColour(from.textColour),
      backColour(from.backColour),
      faceColour(from.faceColour),
      accentColour(from.accentColour),
      errorColour(from.errorColour),
      font(from.font),
      smallFont(from.smallFont),
      largeFont(from.largeFont),
      tinyFont(from.tinyFont),
      hugeFont(from.hugeFont),
      requestRepaint(from.requestRepaint) {
    if (outline.target<OwnOutline>()) outline = OwnOutline{this};
    if (fill.target<OwnFill>()) fill = OwnFill{this};
    if (panel.target<OwnPanel>()) panel = OwnPanel{this};
    textColour.modulate(tint);
    backColour.modulate(tint);
    faceColour.modulate(tint);
}

std::shared_ptr<style> style::tinted(rgba tint, const style* from) {
    if (from) return std::make_shared<style>(*from, tint);
    std::shared_ptr<style> base = defaultStyle();
    return std::make_shared<style>(*base, tint);
}

void style::bindOwnOperations() {
    outline = OwnOutline{this};
    fill = OwnFill{this};
    panel = OwnPanel{this};
}

sdloo::TTF_FontClass& style::fontByIndex(int index) const {
    const std::shared_ptr<sdloo::TTF_FontClass>* fonts[] = {&font, &smallFont, &largeFont,
                                                            &tinyFont, &hugeFont};
    tools::check(index >= 0 && index < 5, "no font of index " + std::to_string(index));
    tools::check(*fonts[index] != nullptr, "font " + std::to_string(index) + " is not open");
    return **fonts[index];
}

void style::drawOutline(SDL_Surface* target, rect a, rgba colour) {
    gui::outline(target, a, colour);
}

void style::drawFill(SDL_Surface* target, rect a, rgba colour) { gui::fill(target, a, colour); }

void style::drawPanel(SDL_Surface* target, rect a, rgba border, rgba face, bool openBottom) {
    gui::panel(target, a, border, face, openBottom, fill);
}

// ---- hooks ----

HookToken HookTable::add(Hook h, const void* key) {
    std::lock_guard<std::mutex> hold(lock_);
    if (key)
        for (const Entry& e : entries_) tools::check(e.key != key);
    HookToken token = next_++;
    entries_.push_back(Entry{token, key, std::make_shared<Hook>(std::move(h))});
    return token;
}

void HookTable::remove(HookToken token) {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.empty()) throw std::runtime_error("Can't remove stuff from empty array!");
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].token == token) {
            if (i + 1 != entries_.size()) entries_[i] = std::move(entries_.back());
            entries_.pop_back();
            return;
        }
}

bool HookTable::offer(Event& e) {
    // A snapshot: hooks may add or remove hooks while they run.
    std::vector<std::shared_ptr<Hook>> snapshot;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (entries_.empty()) return false;
        snapshot.reserve(entries_.size());
        for (const Entry& entry : entries_) snapshot.push_back(entry.hook);
    }
    for (const auto& hook : snapshot)
        if ((*hook)(e)) return true;
    return false;
}

std::size_t HookTable::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_.size();
}

// ---- bridge ----

ui_bridge::ui_bridge(WidgetPtr r) : root(std::move(r)) {}

ui_bridge::~ui_bridge() {
    // Widgets that drag still find the hook table while the tree goes away.
    root.reset();
    // The default style must not lead grips to a bridge that is gone.
    std::lock_guard<std::mutex> hold(defaultStyleLock);
    if (theDefaultStyle && theDefaultStyle->bridge == this) theDefaultStyle->bridge = nullptr;
}

void ui_bridge::dispatch(Event& e) {
    if (hooks->offer(e)) return;
    if (root) root->handle(e);
}

void ui_bridge::loop() {
    becomeLoopThread();
    try {
        while (running) {
            while (!processEvents()) idle();
        }
    } catch (...) {
        tools::logln("dead[loop]");
        throw;
    }
}

// ---- lifetimes across threads ----

namespace {

std::mutex retiredLock;
std::vector<std::shared_ptr<void>> retiredObjects;  // guarded by retiredLock
std::atomic<std::thread::id> loopThread{std::thread::id()};

}  // namespace

void becomeLoopThread() { loopThread = std::this_thread::get_id(); }

bool onLoopThread() { return loopThread.load() == std::this_thread::get_id(); }

void retire(std::shared_ptr<void> object) {
    if (!object) return;
    if (onLoopThread()) return;  // released here, now
    std::lock_guard<std::mutex> hold(retiredLock);
    retiredObjects.push_back(std::move(object));
}

std::size_t drainRetired() {
    std::vector<std::shared_ptr<void>> done;
    {
        std::lock_guard<std::mutex> hold(retiredLock);
        done.swap(retiredObjects);
    }
    return done.size();  // freed here, outside the lock
}

}  // namespace gui
