#include "gui/sdl_bridge.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>
#include <optional>
#include <vector>

#include "tools/log.hpp"

namespace gui {

GuiMutex& guiLock() {
    static GuiMutex* lock = new GuiMutex;  // lives until the process ends
    return *lock;
}

std::string eventName(int type) {
    static const char* const names[] = {"Unused",
                                        "Active",
                                        "Key down",
                                        "Key up",
                                        "Mouse moved",
                                        "Mouse button down",
                                        "Mouse button up",
                                        "Joystick axis",
                                        "Trackball",
                                        "Hat pos change",
                                        "Joystick button down",
                                        "Joystick button up",
                                        "Quit",
                                        "Sys WM",
                                        "Reserved A",
                                        "Reserved B",
                                        "Resize",
                                        "Expose"};
    if (type >= 0 && type < 18) return names[type];
    return "Unidentified event " + std::to_string(type);
}

// ---- drawing primitives ----

namespace {

void fillLine(SDL_Surface* target, int x, int y, int w, int h, Uint32 colour) {
    if (w <= 0 || h <= 0) return;
    SDL_Rect r = Rect(x, y, w, h).toSDLRect();
    SDL_FillRect(target, &r, colour);
}

Uint32 mapped(SDL_Surface* target, Rgba c) {
    return SDL_MapRGBA(target->format, c.red, c.green, c.blue, c.alpha);
}

// The gloss of a panel as runs of rows, each row in the colour of the last
// band that covers it: the bands' result with one fill per run instead of
// 202 overlapping fills. Offsets are from the top given to the bands.
struct GlossRun {
    int offset;
    int count;
    Rgba colour;
};

std::vector<GlossRun> computeGloss(int height, Rgba face, int top) {
    const Rgba white(255, 255, 255, 0);
    const double h = height;
    const double halfPi = M_PI / 2;
    std::vector<std::optional<Rgba>> rows(static_cast<std::size_t>(height) + height / 100 + 4);
    auto band = [&](double start, double length, Rgba colour) {
        const int first = static_cast<int>(std::trunc(start)) - top;
        const int count = static_cast<int>(std::trunc(length)) + 1;
        for (int r = std::max(first, 0); r < first + count; ++r) {
            if (r >= static_cast<int>(rows.size())) rows.resize(r + 1);
            rows[r] = colour;
        }
    };
    for (float f = 0.0f; f < 1.0f; f += 0.01f) {
        const double fd = f;
        band(h * fd * 0.4 + h * 0.6 + top, h * 0.004,
             face.blend(white, static_cast<float>((1.0 - std::cos(fd * halfPi)) * 0.4)));
        band(h * fd * 0.2 + top, h * 0.002,
             face.blend(white, static_cast<float>((1.0 - std::sin(fd * halfPi)) * 0.6)));
    }
    std::vector<GlossRun> runs;
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        if (!rows[r]) continue;
        if (!runs.empty() && runs.back().offset + runs.back().count == r &&
            runs.back().colour == *rows[r])
            ++runs.back().count;
        else
            runs.push_back(GlossRun{r, 1, *rows[r]});
    }
    return runs;
}

// Panels of the same height and face look alike: their gloss is kept.
// (Exact for tops at or below 0; trunc moves the other way above it.)
const std::vector<GlossRun>& glossFor(int height, Rgba face) {
    thread_local std::map<std::pair<int, std::uint32_t>, std::vector<GlossRun>> known;
    const std::uint32_t key = std::uint32_t(face.red) << 24 | std::uint32_t(face.green) << 16 |
                              std::uint32_t(face.blue) << 8 | face.alpha;
    auto it = known.find({height, key});
    if (it != known.end()) return it->second;
    if (known.size() >= 256) known.clear();
    return known.emplace(std::make_pair(height, key), computeGloss(height, face, 0)).first->second;
}

}  // namespace

void outline(SDL_Surface* target, Rect a, Rgba colour) {
    if (a.w <= 0 || a.h <= 0) return;
    const Uint32 c = mapped(target, colour);
    fillLine(target, a.x, a.y, a.w, 1, c);
    fillLine(target, a.x, a.y + a.h - 1, a.w, 1, c);
    fillLine(target, a.x, a.y, 1, a.h, c);
    fillLine(target, a.x + a.w - 1, a.y, 1, a.h, c);
}

void fill(SDL_Surface* target, Rect a, Rgba colour) {
    if (a.w <= 0 || a.h <= 0) return;
    SDL_Rect r = a.toSDLRect();
    SDL_FillRect(target, &r, mapped(target, colour));
}

void panel(SDL_Surface* target, Rect a, Rgba border, Rgba face, bool openBottom,
           const Style::RectOp& innerFill) {
    if (a.w <= 1 || a.h <= 1) return;
    Rect inner = a;
    inner.shrink(1);
    if (innerFill)
        innerFill(target, inner, face);
    else
        fill(target, inner, face);

    // The gloss: full-width bands, the upper fifth fading from 60 % white to
    // the face, the lower two fifths brightening toward 40 % white.
    std::vector<GlossRun> own;
    const std::vector<GlossRun>& runs =
        a.y >= 0 ? glossFor(a.h, face) : (own = computeGloss(a.h, face, a.y));
    for (const GlossRun& run : runs) {
        SDL_Rect r = Rect(a.x, a.y + run.offset, a.w, run.count).toSDLRect();
        SDL_FillRect(
            target, &r,
            SDL_MapRGBA(target->format, run.colour.red, run.colour.green, run.colour.blue, 0));
    }

    // The border; without an open bottom the four corners stay unpainted.
    const Uint32 c = mapped(target, border);
    const int right = a.x + a.w - 1, bottom = a.y + a.h - 1;
    fillLine(target, a.x + 1, a.y, a.w - 2, 1, c);
    if (openBottom)
        fillLine(target, a.x + 2, bottom, a.w - 4, 1, c);
    else
        fillLine(target, a.x + 1, bottom, a.w - 2, 1, c);
    const int lastRow = openBottom ? bottom : bottom - 1;
    fillLine(target, a.x, a.y + 1, 1, lastRow - a.y, c);
    fillLine(target, right, a.y + 1, 1, lastRow - a.y, c);
}

// ---- bridge ----

KeyPressed translateKey(SDLKey sym, SDLMod mod) {
    const bool alt = (mod & KMOD_ALT) != 0;
    if (sym >= SDLK_a && sym <= SDLK_z)
        return KeyPressed(Key::letter, static_cast<char>('a' + (sym - SDLK_a)), alt);
    static const std::map<SDLKey, Key> keys = {
        {SDLK_HOME, Key::home},
        {SDLK_END, Key::end},
        {SDLK_PAGEUP, Key::pageUp},
        {SDLK_PAGEDOWN, Key::pageDown},
        {SDLK_UP, Key::up},
        {SDLK_DOWN, Key::down},
        {SDLK_LEFT, Key::left},
        {SDLK_RIGHT, Key::right},
        {SDLK_RETURN, Key::enter},
        {SDLK_BACKSPACE, Key::backspace},
        {SDLK_ESCAPE, Key::escape},
        {SDLK_F5, Key::f5},
        {SDLK_F7, Key::f7},
        {SDLK_F11, Key::f11},
        {SDLK_KP_PLUS, Key::keypadPlus},
        {SDLK_KP_MINUS, Key::keypadMinus},
    };
    auto found = keys.find(sym);
    return KeyPressed(found == keys.end() ? Key::other : found->second, 0, alt);
}

SdlBridge::SdlBridge(WidgetPtr r) : UiBridge(std::move(r)), screen_(sdloo::videoSurface()) {
    becomeLoopThread();
}

Coord SdlBridge::screenSize() const {
    return screen_ ? Coord(screen_->w, screen_->h) : Coord(0, 0);
}

bool SdlBridge::setVideoMode(int width, int height, sdloo::VideoMode mode) {
    SDL_Surface* old = screen_;
    const Coord oldSize = screenSize();
    SDL_Surface* made = sdloo::setVideoMode(width, height, mode);
    if (made) {
        screen_ = made;
        mode_ = mode;
        return true;
    }
    // SDL may have let go of the old mode before refusing the new one; then
    // the old pointer is dangling and the old mode is asked for again.
    if (old && sdloo::videoSurface() != old) {
        screen_ = sdloo::setVideoMode(oldSize.x, oldSize.y, mode_);
        if (!screen_) tools::logln("No window surface: ", sdloo::videoError());
    }
    return false;
}

void SdlBridge::requestRepaint(bool full) {
    if (full) {
        if (onLoopThread()) {
            GuiLock hold;
            if (root) root->setChanged();
        } else {
            treeChangePending_ = true;
        }
        fullRepaint = true;
    }
    needsRepaint = true;
}

void SdlBridge::dispatch(Event& e) {
    GuiLock hold;
    UiBridge::dispatch(e);
}

namespace {

std::string describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an unknown error";
    }
}

}  // namespace

bool SdlBridge::processEvents() {
    try {
        // The motion buffer counts as empty while its x and y are both 0.
        SDL_Event motion{};
        motion.type = SDL_MOUSEMOTION;
        auto flush = [&] {
            if (motion.motion.x != 0 || motion.motion.y != 0) {
                try {
                    handleSDLEvent(motion);
                } catch (...) {
                    tools::logln("Processing motion buffer failed with ",
                                 describe(std::current_exception()), "!");
                }
            }
            motion.motion.x = 0;
            motion.motion.y = 0;
        };

        SDL_Event e;
        if (!SDL_PollEvent(&e)) return false;
        do {
            if (e.type == SDL_MOUSEMOTION) {
                motion = e;
                continue;
            }
            flush();
            try {
                handleSDLEvent(e);
            } catch (...) {
                tools::logln("Processing event failed with ", describe(std::current_exception()),
                             "!");
            }
        } while (SDL_PollEvent(&e));
        flush();
        return true;
    } catch (...) {
        tools::logln("dead[processEvents]");
        throw;
    }
}

void SdlBridge::resize(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (width > maxWindowSide || height > maxWindowSide) {
        tools::logln("Can't resize the window to ", width, "x", height, ": more than ",
                     maxWindowSide, " pixels");
        return;
    }
    SDL_Surface* old = screen_;
    const Coord oldSize = screenSize();
    SDL_Surface* s = sdloo::setVideoMode(width, height, sdloo::VideoMode::resizable);
    if (!s) {
        tools::logln("Resizing the window to ", width, "x", height,
                     " failed: ", sdloo::videoError());
        // SDL refused before letting go of the old mode: it is still there.
        // Otherwise it is gone, and the old size is asked for again.
        if (old && sdloo::videoSurface() == old) return;
        if (old) s = sdloo::setVideoMode(oldSize.x, oldSize.y, sdloo::VideoMode::resizable);
        if (!s) tools::logln("No window surface: ", sdloo::videoError());
    }
    screen_ = s;
}

void SdlBridge::handleSDLEvent(const SDL_Event& e) {
    try {
        switch (e.type) {
            case SDL_VIDEORESIZE: {
                Coord wanted;
                {
                    GuiLock hold;
                    if (root) wanted = root->requestedSize();
                }
                resize(std::max(e.resize.w, wanted.x), std::max(e.resize.h, wanted.y));
                requestRepaint(true);
                break;
            }
            case SDL_VIDEOEXPOSE:
                requestRepaint(true);
                break;
            case SDL_MOUSEBUTTONDOWN: {
                Coord at(e.button.x, e.button.y);
                if (e.button.button == SDL_BUTTON_WHEELUP ||
                    e.button.button == SDL_BUTTON_WHEELDOWN) {
                    pendingPointer = at;
                    MouseScroll scroll(at, e.button.button == SDL_BUTTON_WHEELUP);
                    dispatch(scroll);
                } else {
                    MouseDown down(at);
                    dispatch(down);
                }
                break;
            }
            case SDL_MOUSEBUTTONUP: {
                if (e.button.button == SDL_BUTTON_WHEELUP ||
                    e.button.button == SDL_BUTTON_WHEELDOWN)
                    break;
                MouseUp up(Coord(e.button.x, e.button.y));
                dispatch(up);
                break;
            }
            case SDL_MOUSEMOTION: {
                MouseMoved moved(Coord(e.motion.x, e.motion.y));
                dispatch(moved);
                break;
            }
            case SDL_KEYDOWN: {
                KeyPressed key = translateKey(e.key.keysym.sym, e.key.keysym.mod);
                dispatch(key);
                break;
            }
            case SDL_QUIT:
                stop();
                break;
            default:
                break;
        }
    } catch (...) {
        tools::logln("dead[process-", eventName(e.type), "]");
        throw;
    }
}

void SdlBridge::idle() {
    if (!repaint()) SDL_Delay(1);
}

void SdlBridge::requestRepaintOf(const WidgetPtr& w) {
    if (!w) return;
    std::lock_guard<std::mutex> hold(partsLock_);
    for (const auto& p : parts_)
        if (p.lock() == w) return;
    parts_.push_back(w);
}

bool SdlBridge::repaintParts() {
    std::vector<std::weak_ptr<Widget>> parts;
    {
        std::lock_guard<std::mutex> hold(partsLock_);
        parts.swap(parts_);
    }
    if (parts.empty()) return false;
    drainRetired();
    SDL_Surface* s = screen_;
    if (!s) return false;
    {
        sdloo::RenderScope renderings;
        GuiLock hold;
        for (const auto& weak : parts) {
            const WidgetPtr w = weak.lock();
            if (!w) continue;
            const Rect a = w->area;
            if (a.w <= 0 || a.h <= 0 || a.x < 0 || a.y < 0 || a.x + a.w > s->w || a.y + a.h > s->h)
                continue;
            w->setChanged();
            w->draw(s);
            SDL_UpdateRect(s, a.x, a.y, static_cast<Uint32>(a.w), static_cast<Uint32>(a.h));
        }
    }
    ++partPaints;
    return true;
}

bool SdlBridge::repaint() {
    if (!needsRepaint.exchange(false)) return repaintParts();
    {
        std::lock_guard<std::mutex> hold(partsLock_);
        parts_.clear();  // the tree's repaint draws them too
    }
    ++treePaints;
    drainRetired();
    SDL_Surface* s = screen_;
    if (!s) return false;  // no window surface (a failed resize): nothing to paint on
    {
        // Cached renderings stay alive until the whole tree has drawn.
        sdloo::RenderScope renderings;
        GuiLock hold;
        if (treeChangePending_.exchange(false) && root) root->setChanged();
        if (fullRepaint.exchange(false)) {
            Rgba back = haveDefaultStyle() ? defaultStyle()->backColour : Rgba(200, 200, 210, 0);
            sdloo::SurfacePlane d(s);
            d.fill(Rect(0, 0, s->w, s->h), back);
        }
        if (root) {
            root->area = Rect(0, 0, s->w, s->h);
            root->draw(s);
        }
    }
    if (pendingPointer) {
        MouseMoved moved(*pendingPointer);
        pendingPointer.reset();
        dispatch(moved);
        repaint();
    }
    SDL_Flip(s);
    return true;
}

}  // namespace gui
