// Leaf widgets: what they draw and how they react.
#include <cctype>
#include <cmath>
#include <stdexcept>
#include <thread>

#include "gui_fixture.hpp"
#include "tools/failure.hpp"

using namespace gui;
using guitest::Recorder;

namespace {

class Leaves : public guitest::GuiTest {
protected:
    // An image whose pixel (x, y) is (x % 256, y % 256, 77).
    static sdloo::Surface pattern(int w, int h) {
        sdloo::Surface s = sdloo::makeSurface(w, h);
        sdloo::SDL_Drawable d(s.get());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                d.putPixel32(x, y, rgba(static_cast<Uint8>(x), static_cast<Uint8>(y), 77));
        return s;
    }
    static rgba patternAt(int x, int y) {
        return rgba(static_cast<Uint8>(x), static_cast<Uint8>(y), 77);
    }
};

}  // namespace

TEST_F(Leaves, TextIsCentredAndCroppedEvenlyOnBothSides) {
    // A label of even width, so the crop is the same on both sides.
    std::string label = "Cropped label";
    SDL_Surface* r = nullptr;
    for (;; label += "i") {
        r = st->font->renderCached(label, st->textColour.toSDLColor());
        ASSERT_NE(r, nullptr);
        if (r->w % 2 == 0) break;
    }
    const int rw = r->w, rh = r->h;
    clear(rgba(0, 0, 0));
    auto t = std::make_shared<text>(label);
    drawAt(t, rect(10, 10, rw - 20, rh + 10));
    EXPECT_EQ(t->requestedSize(), coord(rw, rh));

    // The same rendering blitted by hand, 10 pixels off its left, elsewhere.
    rect src(10, 0, rw - 20, rh);
    sdloo::blit(r, &src, screen, rect(10, 100, rw - 20, rh));
    int differing = 0, inked = 0;
    for (int x = 0; x < rw; ++x)
        for (int y = 0; y < rh; ++y) {
            rgba drawn = pixel(x, 15 + y), expected = pixel(x, 100 + y);
            if (!(drawn == expected)) ++differing;
            if (!(drawn == rgba(0, 0, 0))) ++inked;
        }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(inked, 50);
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(0, 0, 10, 40)), 0);
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(rw - 10, 0, 20, 40)), 0);

    // An area lower than the text crops it vertically the same way.
    clear(rgba(0, 0, 0));
    drawAt(t, rect(10, 10, rw + 10, 4));
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(0, 0, rw + 40, 10)), 0);
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(0, 14, rw + 40, 30)), 0);
    drawAt(t, rect(10, 10, 0, 0));  // nothing left to show
    EXPECT_EQ(t->toString(), "widgets.text{" + label + "}");
}

TEST_F(Leaves, EmptyOrUnrenderableLabelsShowAWordInTheErrorColour) {
    clear(rgba(0, 0, 0));
    auto empty = std::make_shared<text>("");
    drawAt(empty, rect(0, 0, 100, 30));
    SDL_Surface* word = st->font->renderCached("Empty", st->errorColour.toSDLColor());
    ASSERT_NE(word, nullptr);
    EXPECT_EQ(empty->requestedSize(), coord(word->w, word->h));
    bool errorInk = false;
    {
        sdloo::SDL_Drawable d(screen);
        for (int x = 0; x < 100 && !errorInk; ++x)
            for (int y = 0; y < 30 && !errorInk; ++y) {
                rgba c = d.get(x, y);
                c.alpha = 0;
                errorInk = c == st->errorColour;
            }
    }
    EXPECT_TRUE(errorInk);
    auto fresh = std::make_shared<text>("x");
    EXPECT_EQ(fresh->requestedSize(), coord(0, 0));  // known after the first draw
}

TEST_F(Leaves, TextFramesItselfWhileHovered) {
    int repaints = 0;
    st->requestRepaint = [&] { ++repaints; };
    auto t = std::make_shared<text>(dgValue<std::string>("hover me"), true);
    auto plain = std::make_shared<text>("plain");
    clear(rgba(0, 0, 0));
    drawAt(t, rect(20, 20, 100, 30));
    EXPECT_EQ(pixel(20, 20), rgba(0, 0, 0));

    MouseEntered in;
    EXPECT_TRUE(t->handle(in));
    EXPECT_TRUE(t->hovered.get());
    EXPECT_TRUE(t->changed());
    drawAt(t, rect(20, 20, 100, 30));
    EXPECT_EQ(pixel(20, 20), st->textColour);
    EXPECT_EQ(pixel(119, 49), st->textColour);

    MouseLeft out;
    EXPECT_TRUE(t->handle(out));
    clear(rgba(0, 0, 0));
    drawAt(t, rect(20, 20, 100, 30));
    EXPECT_EQ(pixel(20, 20), rgba(0, 0, 0));
    EXPECT_EQ(repaints, 2);

    MouseDown click({30, 30});
    EXPECT_FALSE(t->handle(click));
    plain->handle(in);
    clear(rgba(0, 0, 0));
    drawAt(plain, rect(20, 20, 100, 30));
    EXPECT_EQ(pixel(20, 20), rgba(0, 0, 0));  // no frame without frameOnHover
}

TEST_F(Leaves, TextboxShowsTheBoundTextAsItIsEdited) {
    std::string typed = "q";
    auto box = std::make_shared<textbox>("");
    box->label.getter = [&] { return typed; };
    clear(rgba(0, 0, 0));
    drawAt(box, rect(0, 0, 200, 20));
    EXPECT_EQ(pixel(0, 0), st->backColour);
    EXPECT_EQ(pixel(199, 19), st->backColour);
    const coord one = box->requestedSize();
    typed += "cx";
    drawAt(box, rect(0, 0, 200, 20));
    EXPECT_GT(box->requestedSize().x, one.x);
    EXPECT_EQ(box->label.stored(), "qcx");
    typed.clear();
    drawAt(box, rect(0, 0, 200, 20));
    SDL_Surface* word = st->font->renderCached("Empty", st->errorColour.toSDLColor());
    EXPECT_EQ(box->requestedSize(), coord(word->w, word->h));

    // A setter decides what is stored.
    dgValue<std::string> upper("");
    upper.setter = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    upper.set("abc");
    EXPECT_EQ(upper.get(), "ABC");
}

TEST_F(Leaves, ButtonsClickOnReleaseAndReportHover) {
    int clicks = 0;
    std::vector<bool> hovers;
    auto label = std::make_shared<text>("OK");
    auto b = std::make_shared<button>(
        label, false, [&] { ++clicks; }, false, [&](bool on) { hovers.push_back(on); });
    MouseDown down({5, 5});
    MouseUp up({5, 5});
    EXPECT_FALSE(b->handle(down));
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(b->handle(up));
    EXPECT_EQ(clicks, 1);
    MouseEntered in;
    MouseLeft out;
    EXPECT_TRUE(b->handle(in));
    EXPECT_TRUE(b->handle(out));
    EXPECT_EQ(hovers, (std::vector<bool>{true, false}));
    EXPECT_EQ(b->toString(), "widgets.button(widgets.text{OK})");

    clear(rgba(0, 0, 0));
    drawAt(b, rect(10, 10, 60, 20));
    EXPECT_EQ(label->area, rect(11, 11, 58, 18));
    EXPECT_EQ(b->requestedSize(), label->requestedSize());
    EXPECT_GT(b->requestedSize().x, 0);
    EXPECT_EQ(pixel(11, 10), st->textColour);  // border
    EXPECT_EQ(pixel(13, 20), st->backColour);  // face of a plain button

    auto lit = std::make_shared<button>(std::make_shared<Recorder>(), true, nullptr, true);
    drawAt(lit, rect(10, 40, 60, 20));
    EXPECT_EQ(pixel(11, 58), rgba(0, 0, 255));  // the child covers the face...
    EXPECT_EQ(pixel(10, 59), st->textColour);   // open bottom: the sides reach down
    lit->handle(up);                            // ... and no onClick is fine
    lit->handle(in);

    auto tiny = std::make_shared<Recorder>();
    auto small = std::make_shared<button>(tiny, false, nullptr);
    drawAt(small, rect(0, 0, 2, 2));
    drawAt(small, rect(0, 0, 3, 3));
    EXPECT_EQ(tiny->draws, 0);  // a child of a pixel or less is not drawn
    drawAt(small, rect(0, 0, 3, 4));
    EXPECT_EQ(tiny->draws, 1);
    EXPECT_EQ(tiny->area, rect(1, 1, 1, 2));
}

TEST_F(Leaves, FramesPanelTheirChildAndClampOnTinyAreas) {
    auto inner = std::make_shared<Recorder>(rgba(0, 0, 255), coord(10, 20));
    auto f = std::make_shared<frame>(inner);
    EXPECT_EQ(f->requestedSize(), coord(0, 0));
    drawAt(f, rect(10, 10, 50, 40));
    EXPECT_EQ(inner->area, rect(13, 13, 44, 34));
    EXPECT_EQ(f->requestedSize(), coord(13, 23));
    MouseDown click({20, 20});
    EXPECT_FALSE(f->handle(click));
    EXPECT_TRUE(inner->events.empty());

    drawAt(f, rect(10, 10, 5, 4));  // smaller than both borders
    EXPECT_EQ(inner->area, rect(12, 12, 0, 0));
    EXPECT_EQ(shrunk(rect(0, 0, 7, 100), 3), rect(3, 3, 1, 94));
    EXPECT_EQ(shrunk(rect(0, 0, 6, -5), 3), rect(3, 0, 0, 0));
}

TEST_F(Leaves, ImageViewShowsBarsOnlyWhereTheImageDoesNotFit) {
    openWindow(640, 720);
    clear(rgba(0, 0, 0));
    auto view = std::make_shared<showsurf>(pattern(800, 600));
    drawAt(view, rect(0, 0, 400, 700));
    ASSERT_NE(view->hbar(), nullptr);
    EXPECT_EQ(view->vbar(), nullptr);  // 684 pixels still hold 600
    EXPECT_EQ(view->view, rect(0, 0, 400, 684));
    EXPECT_EQ(view->hbar()->area, rect(0, 684, 384, 16));
    EXPECT_DOUBLE_EQ(view->widthRatio(), 2.0);
    EXPECT_EQ(pixel(0, 0), patternAt(0, 0));
    EXPECT_EQ(pixel(399, 599), patternAt(399, 599));
    EXPECT_EQ(pixel(100, 650), st->backColour);

    view->scrollHorizontal(0.5);  // half a knob of 192 pixels
    EXPECT_FLOAT_EQ(view->hbar()->pos, 96.0f);
    drawAt(view, rect(0, 0, 400, 700));
    EXPECT_EQ(pixel(0, 0), patternAt(200, 0));
    view->scrollVertical(1.0);  // no vertical bar: nothing

    // A click on the horizontal bar's track pages it.
    MouseDown onTrack({370, 690});
    EXPECT_TRUE(view->handle(onTrack));
    EXPECT_FLOAT_EQ(view->hbar()->pos, 192.0f);
    MouseDown onImage({100, 100});
    EXPECT_FALSE(view->handle(onImage));

    // Grown, the view drops the bar it no longer needs.
    drawAt(view, rect(0, 0, 640, 720));
    drawAt(view, rect(0, 0, 640, 720));
    EXPECT_EQ(view->requestedSize(), coord(32, 32));
}

TEST_F(Leaves, ImageViewScrollsTallImagesAndCentresNarrowOnes) {
    openWindow(640, 720);
    int repaints = 0;
    st->requestRepaint = [&] { ++repaints; };
    bool centred = true;
    auto view = std::make_shared<showsurf>(pattern(300, 2000), [&] { return centred; });
    clear(rgba(0, 0, 0));
    drawAt(view, rect(0, 0, 400, 500));
    ASSERT_NE(view->vbar(), nullptr);
    EXPECT_EQ(view->hbar(), nullptr);
    EXPECT_EQ(view->vbar()->area, rect(384, 0, 16, 484));
    EXPECT_EQ(pixel(42, 0), patternAt(0, 0));  // centred in the 384 pixels left of the bar
    EXPECT_EQ(pixel(41, 0), st->backColour);

    MouseScroll down({100, 100}, false);
    EXPECT_TRUE(view->handle(down));
    EXPECT_EQ(repaints, 1);
    const int knob = view->vbar()->knobLength();
    EXPECT_FLOAT_EQ(view->vbar()->pos, static_cast<float>(0.1 * knob));
    drawAt(view, rect(0, 0, 400, 500));
    const int srcY = static_cast<int>(view->vbar()->fraction() * (2000 - 500));
    EXPECT_EQ(pixel(42, 0), patternAt(0, srcY));

    centred = false;
    drawAt(view, rect(0, 0, 400, 500));
    EXPECT_EQ(pixel(0, 0), patternAt(0, srcY));

    // Both bars, each taking its share of the other side.
    auto big = std::make_shared<showsurf>(pattern(1000, 1000));
    drawAt(big, rect(0, 0, 400, 400));
    ASSERT_NE(big->hbar(), nullptr);
    ASSERT_NE(big->vbar(), nullptr);
    EXPECT_EQ(big->view, rect(0, 0, 384, 384));
    // A view that narrows only because of the vertical bar gets both too.
    auto edge = std::make_shared<showsurf>(pattern(390, 1000));
    drawAt(edge, rect(0, 0, 400, 400));
    EXPECT_NE(edge->hbar(), nullptr);
    EXPECT_NE(edge->vbar(), nullptr);
}

TEST_F(Leaves, ReleasedImagesAreFreedOnTheLoopThread) {
    auto view = std::make_shared<showsurf>(pattern(50, 50));
    view->release();
    EXPECT_EQ(view->surface(), nullptr);
    clear(rgba(0, 0, 0));
    drawAt(view, rect(0, 0, 60, 60));
    EXPECT_EQ(pixel(10, 10), st->backColour);
    view->release();  // twice is harmless

    drainRetired();
    auto other = std::make_shared<showsurf>(pattern(50, 50));
    std::thread worker([&] { other->release(); });
    worker.join();
    EXPECT_EQ(other->surface(), nullptr);
    EXPECT_EQ(drainRetired(), 1u);  // handed over, freed here
}

TEST_F(Leaves, ProgressBarsFillTheirShare) {
    auto bar = std::make_shared<ProgressBar>();
    EXPECT_EQ(bar->requestedSize(), coord(4, 4));
    bar->progress.set(0.5f);
    clear(rgba(0, 0, 0));
    drawAt(bar, rect(10, 10, 200, 8));
    EXPECT_EQ(pixel(10, 10), rgba(128, 128, 192));
    EXPECT_EQ(pixel(109, 17), rgba(128, 128, 192));
    EXPECT_EQ(pixel(110, 10), rgba(0, 0, 0));

    bar->colourOf = [] { return rgba(1, 2, 3); };
    bar->progress.set(7.0f);  // more than all: the whole bar, no further
    drawAt(bar, rect(10, 10, 200, 8));
    EXPECT_EQ(pixel(209, 10), rgba(1, 2, 3));
    EXPECT_EQ(pixel(210, 10), rgba(0, 0, 0));
    bar->progress.set(std::nanf(""));
    clear(rgba(0, 0, 0));
    drawAt(bar, rect(10, 10, 200, 8));
    EXPECT_EQ(pixel(10, 10), rgba(0, 0, 0));
}

TEST_F(Leaves, ColouredPanesNeedThreeComponents) {
    auto pane = std::make_shared<ColoredPane>(rgba(5, 6, 7, 99));
    drawAt(pane, rect(0, 0, 10, 10));
    EXPECT_EQ(pixel(9, 9), rgba(5, 6, 7));
    EXPECT_EQ(pane->requestedSize(), coord(0, 0));
    try {
        ColoredPane bad(std::vector<int>{1, 2});
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Error: color components are 2");
    }
    EXPECT_THROW(ColoredPane(std::vector<int>{1, 2, 3, 4}), std::runtime_error);
}

TEST_F(Leaves, FormattedTextLinesUpItsPartsAndDrawsBoldTwice) {
    auto back = std::make_shared<Recorder>(rgba(255, 255, 255));
    auto line = std::make_shared<formattedText>(
        std::vector<dgValue<std::string>>{std::string("12 "), std::string("Name")}, false, back);
    EXPECT_EQ(line->requestedSize(), coord(0, 0));
    ASSERT_EQ(line->settings.size(), 2u);
    EXPECT_EQ(line->colours[1], rgba(0, 0, 0, 0));
    clear(rgba(0, 0, 0));
    drawAt(line, rect(10, 10, 200, 20));
    EXPECT_EQ(back->drawnAt.back(), rect(10, 10, 200, 20));
    const int plain = countNot(rgba(255, 255, 255), rect(10, 10, 200, 20));
    EXPECT_GT(plain, 20);
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(0, 0, 10, 40)), 0);

    line->settings[0].bold = true;
    drawAt(line, rect(10, 10, 200, 20));
    EXPECT_GT(countNot(rgba(255, 255, 255), rect(10, 10, 200, 20)), plain);

    // Parts beyond the right edge are cut; nothing lands outside the area.
    clear(rgba(0, 0, 0));
    line->background = nullptr;
    line->fonts[1] = 4;
    drawAt(line, rect(10, 10, 30, 20));
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(40, 0, 100, 40)), 0);
    line->centred = true;
    drawAt(line, rect(10, 10, 30, 20));
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(0, 0, 10, 40)), 0);
    EXPECT_EQ(countNot(rgba(0, 0, 0), rect(40, 0, 100, 40)), 0);
    MouseDown click({15, 15});
    EXPECT_FALSE(line->handle(click));

    line->fonts[1] = 5;
    EXPECT_THROW(drawAt(line, rect(10, 10, 30, 20)), tools::Failure);
    line->fonts[1] = 0;
    line->colours.pop_back();
    EXPECT_THROW(drawAt(line, rect(10, 10, 30, 20)), tools::Failure);
    line->setRequestedSize({50, 12});
    EXPECT_EQ(line->requestedSize(), coord(50, 12));
}
