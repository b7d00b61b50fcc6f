#pragma once
// Shared by the toolkit tests: SDL on the dummy driver with a window surface,
// a default style from the system's Vera font, a widget that records what it
// gets, and helpers to push SDL events and read pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "gui/base.hpp"
#include "gui/composites.hpp"
#include "gui/layouts.hpp"
#include "gui/leaves.hpp"
#include "gui/scrolling.hpp"
#include "gui/sdl_bridge.hpp"
#include "gui/showsurf.hpp"

namespace guitest {

inline const char* const veraPath = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

// Records events (by kind and position), draws (its area filled with its
// colour) and answers a fixed requested size.
class Recorder : public gui::widget {
public:
    explicit Recorder(gui::rgba colour = gui::rgba(0, 0, 255), gui::coord wanted = {0, 0},
                      bool accept = true)
        : colour(colour), wanted(wanted), accept(accept) {}

    void draw(SDL_Surface* target) override {
        ++draws;
        drawnAt.push_back(area);
        SDL_Rect r = area.toSDLRect();
        if (area.w > 0 && area.h > 0)
            SDL_FillRect(target, &r,
                         SDL_MapRGBA(target->format, colour.red, colour.green, colour.blue, 0));
        clearChanged();
    }
    bool handle(gui::Event& e) override {
        std::string kind = kindOf(e);
        if (auto* local = dynamic_cast<gui::LocalEvent*>(&e))
            kind += "@" + std::to_string(local->pos.x) + "," + std::to_string(local->pos.y);
        if (auto* key = dynamic_cast<gui::KeyPressed*>(&e))
            kind += "#" + (key->key == gui::Key::letter ? std::string(1, key->letter)
                                                        : std::to_string(int(key->key)));
        events.push_back(kind);
        if (journal) journal->push_back(name + ":" + kind);
        return accept;
    }
    gui::coord requestedSize() override { return wanted; }

    static std::string kindOf(gui::Event& e) {
        if (dynamic_cast<gui::MouseScroll*>(&e))
            return static_cast<gui::MouseScroll&>(e).up ? "ScrollUp" : "ScrollDown";
        if (dynamic_cast<gui::MouseMoved*>(&e)) return "Moved";
        if (dynamic_cast<gui::MouseDown*>(&e)) return "Down";
        if (dynamic_cast<gui::MouseUp*>(&e)) return "Up";
        if (dynamic_cast<gui::MouseEntered*>(&e)) return "Entered";
        if (dynamic_cast<gui::MouseLeft*>(&e)) return "Left";
        if (dynamic_cast<gui::KeyPressed*>(&e)) return "Key";
        return "Other";
    }

    gui::rgba colour;
    gui::coord wanted;
    bool accept;
    int draws = 0;
    std::vector<gui::rect> drawnAt;
    std::vector<std::string> events;
    // Optional: a log shared by several recorders, entries "name:kind".
    std::string name;
    std::vector<std::string>* journal = nullptr;
};

class GuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        sdloo::startVideo();
        sdloo::startTTF();
        gui::setDefaultStyle(std::make_shared<gui::style>(veraPath));
    }
    static void TearDownTestSuite() {
        gui::setDefaultStyle(nullptr);
        gui::drainRetired();
        sdloo::stopTTF();
        sdloo::stopVideo();
    }
    void SetUp() override {
        openWindow(320, 240);
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
        }
        gui::becomeLoopThread();
        st = gui::defaultStyle();
        st->bridge = nullptr;
        st->requestRepaint = nullptr;
    }

    static void openWindow(int w, int h) {
        screen = SDL_SetVideoMode(w, h, 32, SDL_RESIZABLE);
        ASSERT_NE(screen, nullptr) << SDL_GetError();
    }

    static gui::rgba pixel(int x, int y, SDL_Surface* s = nullptr) {
        sdloo::SDL_Drawable d(s ? s : screen);
        gui::rgba c = d.get(x, y);
        c.alpha = 0;
        return c;
    }
    static void clear(gui::rgba c = gui::rgba(0, 0, 0), SDL_Surface* s = nullptr) {
        SDL_Surface* t = s ? s : screen;
        SDL_FillRect(t, nullptr, SDL_MapRGBA(t->format, c.red, c.green, c.blue, 0));
    }
    // Pixels of a row (or column) different from the background colour.
    static int countNot(gui::rgba back, gui::rect r, SDL_Surface* s = nullptr) {
        int n = 0;
        sdloo::SDL_Drawable d(s ? s : screen);
        for (int x = r.x; x < r.x + r.w; ++x)
            for (int y = r.y; y < r.y + r.h; ++y) {
                gui::rgba c = d.get(x, y);
                c.alpha = 0;
                if (!(c == back)) ++n;
            }
        return n;
    }

    static void pushMotion(int x, int y) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.x = static_cast<Uint16>(x);
        e.motion.y = static_cast<Uint16>(y);
        ASSERT_EQ(SDL_PushEvent(&e), 0);
    }
    static void pushButton(bool down, int button, int x, int y) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.button = static_cast<Uint8>(button);
        e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.button.x = static_cast<Uint16>(x);
        e.button.y = static_cast<Uint16>(y);
        ASSERT_EQ(SDL_PushEvent(&e), 0);
    }
    static void pushKey(SDLKey sym, SDLMod mod = KMOD_NONE) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.keysym.sym = sym;
        e.key.keysym.mod = mod;
        ASSERT_EQ(SDL_PushEvent(&e), 0);
    }
    static void pushType(Uint8 type) {
        SDL_Event e{};
        e.type = type;
        ASSERT_EQ(SDL_PushEvent(&e), 0);
    }
    static void pushResize(int w, int h) {
        SDL_Event e{};
        e.type = SDL_VIDEORESIZE;
        e.resize.w = w;
        e.resize.h = h;
        ASSERT_EQ(SDL_PushEvent(&e), 0);
    }

    // Draws a widget into an area of the screen inside a repaint scope.
    static void drawAt(const gui::WidgetPtr& w, gui::rect area, SDL_Surface* s = nullptr) {
        sdloo::RenderScope scope;
        w->area = area;
        w->draw(s ? s : screen);
    }

    std::shared_ptr<gui::style> st;
    // The window's surface as the fixture opened it (a bridge made afterwards
    // paints on it).
    static inline SDL_Surface* screen = nullptr;
};

}  // namespace guitest
