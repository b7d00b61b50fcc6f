// The bridge: event translation, motion coalescing, hooks, resize, repaint.
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "gui_fixture.hpp"
#include "support/log_capture.hpp"
#include "tools/failure.hpp"

using namespace gui;
using guitest::Recorder;

namespace {

class Bridge : public guitest::GuiTest {};

// A widget whose handling throws.
class Thrower : public Recorder {
public:
    bool handle(Event& e) override {
        Recorder::handle(e);
        throw std::runtime_error("broken widget");
    }
};

// A bare container: draws its children where they are.
class Bare : public containerWidget {
public:
    using containerWidget::containerWidget;
    coord requestedSize() override { return {0, 0}; }
};

}  // namespace

TEST(EventNames, KnownTypesAndTheRest) {
    EXPECT_EQ(eventName(0), "Unused");
    EXPECT_EQ(eventName(SDL_KEYDOWN), "Key down");
    EXPECT_EQ(eventName(SDL_MOUSEBUTTONDOWN), "Mouse button down");
    EXPECT_EQ(eventName(SDL_QUIT), "Quit");
    EXPECT_EQ(eventName(16), "Resize");
    EXPECT_EQ(eventName(17), "Expose");
    EXPECT_EQ(eventName(20), "Unidentified event 20");
    EXPECT_EQ(eventName(-1), "Unidentified event -1");
}

TEST(KeyCodes, SdlKeysBecomeTheToolkitsOwn) {
    struct Case {
        SDLKey sym;
        SDLMod mod;
        Key key;
        char letter;
        bool alt;
    };
    const Case cases[] = {
        {SDLK_a, KMOD_NONE, Key::letter, 'a', false},
        {SDLK_z, KMOD_LSHIFT, Key::letter, 'z', false},
        {SDLK_c, KMOD_LALT, Key::letter, 'c', true},
        {SDLK_c, KMOD_RALT, Key::letter, 'c', true},
        {SDLK_HOME, KMOD_NONE, Key::home, 0, false},
        {SDLK_END, KMOD_NONE, Key::end, 0, false},
        {SDLK_PAGEUP, KMOD_NONE, Key::pageUp, 0, false},
        {SDLK_PAGEDOWN, KMOD_NONE, Key::pageDown, 0, false},
        {SDLK_UP, KMOD_NONE, Key::up, 0, false},
        {SDLK_DOWN, KMOD_NONE, Key::down, 0, false},
        {SDLK_LEFT, KMOD_NONE, Key::left, 0, false},
        {SDLK_RIGHT, KMOD_NONE, Key::right, 0, false},
        {SDLK_RETURN, KMOD_NONE, Key::enter, 0, false},
        {SDLK_BACKSPACE, KMOD_NONE, Key::backspace, 0, false},
        {SDLK_ESCAPE, KMOD_LALT, Key::escape, 0, true},
        {SDLK_F5, KMOD_NONE, Key::f5, 0, false},
        {SDLK_F7, KMOD_NONE, Key::f7, 0, false},
        {SDLK_F11, KMOD_NONE, Key::f11, 0, false},
        {SDLK_KP_PLUS, KMOD_NONE, Key::keypadPlus, 0, false},
        {SDLK_KP_MINUS, KMOD_NONE, Key::keypadMinus, 0, false},
        // Neither the keypad's Enter nor digits, capitals or other keys are the reader's.
        {SDLK_KP_ENTER, KMOD_NONE, Key::other, 0, false},
        {SDLK_1, KMOD_NONE, Key::other, 0, false},
        {SDLK_TAB, KMOD_LCTRL, Key::other, 0, false},
        {SDLK_F6, KMOD_NONE, Key::other, 0, false},
    };
    for (const Case& c : cases) {
        KeyPressed k = translateKey(c.sym, c.mod);
        EXPECT_EQ(k.key, c.key) << c.sym;
        EXPECT_EQ(k.letter, c.letter) << c.sym;
        EXPECT_EQ(k.alt, c.alt) << c.sym;
    }
}

TEST_F(Bridge, TenMotionsThenAClickGiveOneMoveThenOneDown) {
    auto root = std::make_shared<Recorder>();
    sdl_bridge bridge(root);
    for (int i = 1; i <= 10; ++i) pushMotion(10 * i, 5 * i);
    pushButton(true, SDL_BUTTON_LEFT, 100, 50);
    pushMotion(7, 8);  // flushed at the end of the pass
    EXPECT_TRUE(bridge.processEvents());
    EXPECT_EQ(root->events, (std::vector<std::string>{"Moved@100,50", "Down@100,50", "Moved@7,8"}));
    EXPECT_FALSE(bridge.processEvents());
}

TEST_F(Bridge, MotionToTheCornerIsNeverDelivered) {
    auto root = std::make_shared<Recorder>();
    sdl_bridge bridge(root);
    pushMotion(30, 30);
    pushMotion(0, 0);
    EXPECT_TRUE(bridge.processEvents());
    EXPECT_TRUE(root->events.empty());
    pushMotion(0, 0);
    pushKey(SDLK_a);
    EXPECT_TRUE(bridge.processEvents());
    EXPECT_EQ(root->events, (std::vector<std::string>{"Key#a"}));
}

TEST_F(Bridge, ButtonsKeysAndQuit) {
    auto root = std::make_shared<Recorder>();
    sdl_bridge bridge(root);
    pushButton(true, SDL_BUTTON_RIGHT, 3, 4);
    pushButton(false, SDL_BUTTON_RIGHT, 5, 6);
    pushKey(SDLK_ESCAPE, KMOD_LALT);
    pushType(SDL_KEYUP);
    pushType(SDL_ACTIVEEVENT);
    EXPECT_TRUE(bridge.processEvents());
    EXPECT_EQ(root->events, (std::vector<std::string>{"Down@3,4", "Up@5,6",
                                                      "Key#" + std::to_string(int(Key::escape))}));
    EXPECT_TRUE(bridge.running);
    pushType(SDL_QUIT);
    EXPECT_TRUE(bridge.processEvents());
    EXPECT_FALSE(bridge.running);
}

TEST_F(Bridge, WheelGivesScrollThenAMoveAfterTheRepaint) {
    auto root = std::make_shared<Recorder>();
    sdl_bridge bridge(root);
    pushButton(true, SDL_BUTTON_WHEELDOWN, 40, 41);
    pushButton(false, SDL_BUTTON_WHEELDOWN, 40, 41);
    pushButton(true, SDL_BUTTON_WHEELUP, 42, 43);
    pushButton(false, SDL_BUTTON_WHEELUP, 42, 43);
    EXPECT_TRUE(bridge.processEvents());
    EXPECT_EQ(root->events, (std::vector<std::string>{"ScrollDown@40,41", "ScrollUp@42,43"}));
    ASSERT_TRUE(bridge.pendingPointer.has_value());
    EXPECT_FALSE(bridge.repaint());  // nothing asked for a repaint yet
    bridge.requestRepaint(false);
    EXPECT_TRUE(bridge.repaint());
    EXPECT_EQ(root->events.back(), "Moved@42,43");
    EXPECT_FALSE(bridge.pendingPointer.has_value());
    EXPECT_EQ(root->draws, 1);
}

TEST_F(Bridge, RepaintFillsOnFullRequestsAndDrawsTheRootOverTheScreen) {
    auto root = std::make_shared<Recorder>(rgba(0, 255, 0));
    auto wrapper = std::make_shared<Bare>(WidgetList{root});
    sdl_bridge bridge(wrapper);
    clear();
    EXPECT_FALSE(bridge.repaint());
    bridge.requestRepaint(false);
    EXPECT_TRUE(bridge.repaint());
    EXPECT_EQ(wrapper->area, rect(0, 0, 320, 240));
    EXPECT_EQ(pixel(0, 0), rgba(0, 0, 0));  // the container draws its child, which has no area yet
    EXPECT_FALSE(wrapper->changed());

    bridge.requestRepaint(true);
    EXPECT_TRUE(root->changed());
    EXPECT_TRUE(bridge.fullRepaint);
    EXPECT_TRUE(bridge.repaint());
    EXPECT_FALSE(bridge.fullRepaint);
    EXPECT_EQ(pixel(319, 239), st->backColour);

    pushType(SDL_VIDEOEXPOSE);
    bridge.processEvents();
    EXPECT_TRUE(bridge.needsRepaint);
    EXPECT_TRUE(bridge.fullRepaint);
}

TEST_F(Bridge, ResizeKeepsAtLeastTheRequestedSize) {
    auto root = std::make_shared<Recorder>(rgba(0, 0, 255), coord(300, 200));
    sdl_bridge bridge(root);
    pushResize(100, 400);
    EXPECT_TRUE(bridge.processEvents());
    ASSERT_NE(bridge.screen(), nullptr);
    EXPECT_EQ(bridge.screenSize(), coord(300, 400));
    EXPECT_TRUE(bridge.fullRepaint);
    EXPECT_TRUE(bridge.repaint());
    EXPECT_EQ(root->drawnAt.back(), rect(0, 0, 300, 400));
    EXPECT_EQ(pixel(299, 399), rgba(0, 0, 255));
}

TEST_F(Bridge, ImpossibleResizeKeepsTheOldSurface) {
    testsupport::LogCapture log;
    auto root = std::make_shared<Recorder>(rgba(0, 0, 255));
    sdl_bridge bridge(root);
    SDL_Surface* before = bridge.screen();
    EXPECT_EQ(before, screen);  // the bridge paints on the window it found
    pushResize(70000, 50);
    EXPECT_TRUE(bridge.processEvents());
    EXPECT_EQ(bridge.screen(), before);
    EXPECT_EQ(bridge.screen()->w, 320);
    EXPECT_TRUE(log.contains("Can't resize the window to 70000x50"));
    EXPECT_TRUE(bridge.repaint());  // still paints on the old surface
    EXPECT_EQ(pixel(319, 239), rgba(0, 0, 255));
}

TEST_F(Bridge, FailingHandlersAreLoggedAndTheNextEventIsTaken) {
    testsupport::LogCapture log;
    auto root = std::make_shared<Thrower>();
    sdl_bridge bridge(root);
    pushButton(true, SDL_BUTTON_LEFT, 1, 2);
    pushMotion(5, 5);
    pushKey(SDLK_b);
    EXPECT_TRUE(bridge.processEvents());
    EXPECT_EQ(root->events.size(), 3u);
    EXPECT_TRUE(log.hasLine("dead[process-Mouse button down]"));
    EXPECT_TRUE(log.hasLine("Processing event failed with broken widget!"));
    EXPECT_TRUE(log.hasLine("dead[process-Mouse moved]"));
    EXPECT_TRUE(log.hasLine("Processing motion buffer failed with broken widget!"));
    EXPECT_TRUE(log.hasLine("dead[process-Key down]"));
}

TEST_F(Bridge, LoopRunsUntilQuitAndPaintsMeanwhile) {
    auto root = std::make_shared<Recorder>();
    sdl_bridge bridge(root);
    bridge.requestRepaint(true);
    pushKey(SDLK_x);
    pushType(SDL_QUIT);
    bridge.loop();
    EXPECT_FALSE(bridge.running);
    EXPECT_EQ(root->events, (std::vector<std::string>{"Key#x"}));

    // A failure outside event handling ends the loop with its marker.
    class BadDraw : public Recorder {
    public:
        void draw(SDL_Surface*) override { throw std::runtime_error("bad draw"); }
    };
    testsupport::LogCapture log;
    sdl_bridge broken(std::make_shared<BadDraw>());
    broken.requestRepaint(false);
    EXPECT_THROW(broken.loop(), std::runtime_error);
    EXPECT_TRUE(log.hasLine("dead[loop]"));
}

TEST_F(Bridge, HooksComeFirstInOrderAndAreRemovedByToken) {
    auto root = std::make_shared<Recorder>();
    sdl_bridge bridge(root);
    std::vector<std::string> seen;
    int keyA = 0, keyB = 0;
    HookToken a = bridge.addHook(
        [&](Event&) {
            seen.push_back("a");
            return false;
        },
        &keyA);
    HookToken b = bridge.addHook(
        [&](Event& e) {
            seen.push_back("b");
            return dynamic_cast<KeyPressed*>(&e) != nullptr;
        },
        &keyB);
    EXPECT_THROW(bridge.addHook([](Event&) { return false; }, &keyA), tools::Failure);
    try {
        bridge.addHook([](Event&) { return false; }, &keyB);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Failure");
    }

    pushKey(SDLK_c);
    pushButton(true, SDL_BUTTON_LEFT, 9, 9);
    bridge.processEvents();
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "a", "b"}));
    EXPECT_EQ(root->events, (std::vector<std::string>{"Down@9,9"}));  // the key was consumed

    bridge.removeHook(a);
    bridge.removeHook(a);  // absent: nothing
    EXPECT_EQ(bridge.hooks->size(), 1u);
    bridge.addHook([](Event&) { return false; }, &keyA);  // free again
    bridge.removeHook(b);
    bridge.removeHook(bridge.addHook([](Event&) { return true; }));
    EXPECT_EQ(bridge.hooks->size(), 1u);
    bridge.removeHook(1000);
    EXPECT_EQ(bridge.hooks->size(), 1u);

    HookTable empty;
    try {
        empty.remove(1);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Can't remove stuff from empty array!");
    }
}

TEST_F(Bridge, AHookMayRemoveItselfWhileDispatching) {
    auto root = std::make_shared<Recorder>();
    sdl_bridge bridge(root);
    HookToken self = 0;
    int calls = 0;
    self = bridge.addHook([&](Event&) {
        ++calls;
        bridge.removeHook(self);
        return true;
    });
    MouseMoved m({1, 1});
    bridge.dispatch(m);
    bridge.dispatch(m);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(root->events, (std::vector<std::string>{"Moved@1,1"}));
}

TEST_F(Bridge, StyleDefaultsTintAndOwnBindings) {
    EXPECT_EQ(st->gap, 3);
    EXPECT_EQ(st->unitSize, 16);
    EXPECT_EQ(st->textColour, rgba(34, 34, 34, 0));
    EXPECT_EQ(st->backColour, rgba(200, 200, 210, 0));
    EXPECT_EQ(st->faceColour, rgba(150, 150, 168, 0));
    EXPECT_EQ(st->accentColour, rgba(32, 96, 96, 0));
    EXPECT_EQ(st->errorColour, rgba(255, 128, 128, 0));
    EXPECT_GT(st->hugeFont->height(), st->font->height());
    EXPECT_GT(st->font->height(), st->tinyFont->height());
    EXPECT_THROW(st->fontByIndex(5), tools::Failure);
    EXPECT_THROW(style("no-such-font.ttf"), std::runtime_error);

    auto red = style::tinted(rgba(255, 0, 0, 0));
    EXPECT_EQ(red->backColour, rgba(200, 0, 0, 0));
    EXPECT_EQ(red->accentColour, st->accentColour);
    EXPECT_EQ(red->font, st->font);

    // The tinted copy draws through its own operations: a subclass's fill
    // reaches the copy's fill field only when that copy is of the subclass.
    int replaced = 0;
    auto custom = std::make_shared<style>(*st, rgba(255, 255, 255));
    custom->fill = [&](SDL_Surface*, rect, rgba) { ++replaced; };
    auto copy = style::tinted(rgba(255, 255, 255), custom.get());
    copy->fill(screen, rect(0, 0, 1, 1), rgba(1, 2, 3));
    EXPECT_EQ(replaced, 1);  // a client's function is taken over as it is
    custom.reset();
    clear();
    red->fill(screen, rect(0, 0, 2, 2), rgba(9, 8, 7));  // own binding, no dangling
    EXPECT_EQ(pixel(1, 1), rgba(9, 8, 7));
}

TEST_F(Bridge, PanelHasRoundedCornersGlossAndAnOptionalOpenBottom) {
    clear(rgba(0, 0, 0));
    const rgba border(10, 20, 30), face(100, 100, 100);
    st->panel(screen, rect(10, 10, 40, 30), border, face, false);
    EXPECT_NE(pixel(10, 10), border);  // corners left out of the border
    EXPECT_NE(pixel(49, 39), border);
    EXPECT_NE(pixel(10, 39), border);
    EXPECT_EQ(pixel(11, 10), border);
    EXPECT_EQ(pixel(10, 11), border);
    EXPECT_EQ(pixel(11, 39), border);
    // The top fades from white-ish to the face; the middle is the face.
    rgba top = pixel(20, 11), middle = pixel(20, 24);
    EXPECT_GT(top.red, face.red);
    EXPECT_EQ(middle, face);
    EXPECT_GT(pixel(20, 37).red, face.red);

    clear(rgba(0, 0, 0));
    st->panel(screen, rect(10, 10, 40, 30), border, face, true);
    EXPECT_EQ(pixel(10, 39), border);  // sides reach the bottom row
    EXPECT_NE(pixel(11, 39), border);  // ... whose ends stay open
    EXPECT_EQ(pixel(12, 39), border);

    clear(rgba(0, 0, 0));
    st->panel(screen, rect(10, 10, 1, 30), border, face, false);
    st->panel(screen, rect(10, 10, 30, -4), border, face, false);
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(0, 0, 60, 60)), 0);

    st->outline(screen, rect(5, 5, 3, 3), border);
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(0, 0, 60, 60)), 8);
    EXPECT_EQ(pixel(6, 6), rgba(0, 0, 0));
}

namespace {

// The panel drawn the plain way: the inner fill, 101 pairs of overlapping
// band fills, the border pixel by pixel.
void referencePanel(SDL_Surface* t, rect a, rgba border, rgba face, bool openBottom) {
    if (a.w <= 1 || a.h <= 1) return;
    auto fillRect = [t](rect r, rgba c) {
        SDL_Rect s = r.toSDLRect();
        SDL_FillRect(t, &s, SDL_MapRGBA(t->format, c.red, c.green, c.blue, c.alpha));
    };
    fillRect(rect(a.x + 1, a.y + 1, a.w - 2, a.h - 2), face);
    const rgba white(255, 255, 255, 0);
    const double h = a.h;
    for (float f = 0.0f; f < 1.0f; f += 0.01f) {
        double fd = f;
        fillRect(rect(a.x, int(std::trunc(h * fd * 0.4 + h * 0.6 + a.y)), a.w,
                      int(std::trunc(h * 0.004)) + 1),
                 face.blend(white, float((1.0 - std::cos(fd * M_PI / 2)) * 0.4)));
        fillRect(
            rect(a.x, int(std::trunc(h * fd * 0.2 + a.y)), a.w, int(std::trunc(h * 0.002)) + 1),
            face.blend(white, float((1.0 - std::sin(fd * M_PI / 2)) * 0.6)));
    }
    sdloo::SDL_Drawable d(t);
    for (int i = a.x + 1; i <= a.x + a.w - 2; ++i) {
        d.put(i, a.y, border);
        if (!(openBottom && (i == a.x + 1 || i == a.x + a.w - 2))) d.put(i, a.y + a.h - 1, border);
    }
    for (int j = a.y + 1; j <= (openBottom ? a.y + a.h - 1 : a.y + a.h - 2); ++j) {
        d.put(a.x, j, border);
        d.put(a.x + a.w - 1, j, border);
    }
}

}  // namespace

TEST_F(Bridge, PanelsMatchTheBandByBandDrawingPixelForPixel) {
    sdloo::Surface mine = sdloo::makeSurface(120, 1100), plain = sdloo::makeSurface(120, 1100);
    const rgba border(34, 34, 34), faces[] = {rgba(150, 150, 168), rgba(200, 200, 210)};
    int compared = 0;
    for (int h : {2, 3, 7, 16, 20, 37, 250, 251, 1022})
        for (int y : {0, 1, 5})
            for (int w : {2, 5, 60})
                for (bool open : {false, true})
                    for (rgba face : faces) {
                        clear(rgba(0, 0, 0), mine.get());
                        clear(rgba(0, 0, 0), plain.get());
                        panel(mine.get(), rect(3, y, w, h), border, face, open);
                        referencePanel(plain.get(), rect(3, y, w, h), border, face, open);
                        ASSERT_EQ(0, std::memcmp(mine->pixels, plain->pixels,
                                                 std::size_t(mine->pitch) * mine->h))
                            << "h " << h << " y " << y << " w " << w << " open " << open;
                        ++compared;
                    }
    EXPECT_EQ(compared, 9 * 3 * 3 * 2 * 2);
}

TEST_F(Bridge, AStyleForgetsABridgeThatIsGone) {
    {
        sdl_bridge bridge(std::make_shared<Recorder>());
        st->bridge = &bridge;
    }
    EXPECT_EQ(st->bridge, nullptr);
    auto grip = std::make_shared<draggable>([](coord) {}, [] {});
    MouseDown down({1, 1});
    EXPECT_THROW(grip->handle(down), tools::Failure);
}
