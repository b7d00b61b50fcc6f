// Layout containers: areas they hand out, hover, dragging and scrolling.
#include <cmath>

#include "gui_fixture.hpp"
#include "tools/failure.hpp"

using namespace gui;
using guitest::Recorder;

namespace {

class Containers : public guitest::GuiTest {
protected:
    std::shared_ptr<Recorder> rec(rgba c = rgba(0, 0, 255), coord wanted = {0, 0},
                                  const std::string& name = "") {
        auto r = std::make_shared<Recorder>(c, wanted);
        r->name = name;
        r->journal = &journal;
        return r;
    }
    std::vector<std::string> journal;
};

// Items for a scroll box: n recorders of distinct colours, made only when
// asked for; every request is remembered.
struct Items {
    explicit Items(int n) : all(n) {
        for (int i = 0; i < n; ++i)
            all[i] = std::make_shared<Recorder>(rgba(static_cast<Uint8>(10 * i), 200, 50));
    }
    Provider provider() {
        return [this](int from, int to) {
            asked.emplace_back(from, to);
            WidgetList out(all.size());
            for (int i = std::max(from, 0); i <= to && i < static_cast<int>(all.size()); ++i)
                out[i] = all[i];
            return out;
        };
    }
    std::vector<std::shared_ptr<Recorder>> all;
    std::vector<std::pair<int, int>> asked;
};

}  // namespace

TEST_F(Containers, HoverMovesWithTheLeftBeforeTheEnteredAndIsHeldWeakly) {
    auto a = rec(rgba(255, 0, 0), {}, "a"), b = rec(rgba(0, 255, 0), {}, "b");
    auto row = std::make_shared<plainSplitWidget>(false, WidgetList{a, b});
    drawAt(row, rect(0, 0, 200, 50));
    EXPECT_EQ(a->area, rect(0, 0, 100, 50));
    EXPECT_EQ(b->area, rect(100, 0, 100, 50));

    MouseMoved m1({10, 10}), m2({150, 10}), outside({300, 10});
    EXPECT_TRUE(row->handle(m1));
    EXPECT_TRUE(row->handle(m2));
    EXPECT_FALSE(row->handle(outside));
    MouseLeft left;
    EXPECT_FALSE(row->handle(left));
    EXPECT_EQ(journal, (std::vector<std::string>{"a:Entered", "a:Moved@10,10", "a:Left",
                                                 "b:Entered", "b:Moved@150,10", "b:Left"}));
    EXPECT_EQ(row->hover(), nullptr);

    // A hover child that is dropped from the tree is simply gone.
    row->handle(m1);
    EXPECT_EQ(row->hover(), a);
    row->remove(a);
    a.reset();
    EXPECT_EQ(row->hover(), nullptr);
    journal.clear();
    row->handle(m2);  // b now holds the first slot's place only after a draw
    EXPECT_EQ(journal, (std::vector<std::string>{"b:Entered", "b:Moved@150,10"}));
    EXPECT_EQ(row->children().size(), 1u);

    // Edges are inclusive: x = 100 belongs to the first child whose area has it.
    auto c = rec({}, {}, "c"), d = rec({}, {}, "d");
    auto pair = std::make_shared<plainSplitWidget>(false, WidgetList{c, d});
    drawAt(pair, rect(0, 0, 200, 50));
    journal.clear();
    MouseDown edge({100, 50});
    pair->handle(edge);
    EXPECT_EQ(journal, (std::vector<std::string>{"c:Entered", "c:Down@100,50"}));
}

TEST_F(Containers, CompositesPassStyleAndChangedFlagsDown) {
    auto a = rec(), b = rec();
    auto stack = std::make_shared<stackWidget>(WidgetList{a, nullptr, b});
    auto red = style::tinted(rgba(255, 0, 0));
    stack->setStyle(red);
    EXPECT_EQ(&a->style(), red.get());
    EXPECT_EQ(&b->style(), red.get());
    stack->clearChanged();
    EXPECT_FALSE(a->changed());
    stack->setChanged();
    EXPECT_TRUE(a->changed() && b->changed() && stack->changed());
}

TEST_F(Containers, SplitClampsForThisPassOnlyAndRequestsItsChildren) {
    auto first = rec({}, {50, 20}), second = rec({}, {50, 30});
    auto split = std::make_shared<splitWidget>(true, first, second, 300);
    openWindow(640, 480);
    drawAt(split, rect(0, 0, 400, 100));
    EXPECT_EQ(first->area, rect(1, 1, 296, 98));
    EXPECT_EQ(split->divider->area, rect(298, 1, 6, 98));
    EXPECT_EQ(second->area, rect(305, 1, 94, 98));

    drawAt(split, rect(0, 0, 200, 100));  // the window shrank
    EXPECT_EQ(split->position, 300);
    EXPECT_EQ(first->area, rect(1, 1, 139, 98));
    EXPECT_EQ(second->area, rect(148, 1, 51, 98));

    drawAt(split, rect(0, 0, 400, 100));  // and grew again
    EXPECT_EQ(first->area, rect(1, 1, 296, 98));

    EXPECT_EQ(split->requestedSize(), coord(50 + 50 + 6 + 4, 30 + 4));
    auto vertical = std::make_shared<splitWidget>(false, first, nullptr, 10);
    EXPECT_EQ(vertical->requestedSize(), coord(54, 20 + 10));
    drawAt(vertical, rect(0, 0, 100, 100));
    EXPECT_EQ(first->area, rect(1, 1, 98, 27 - 1 - 3));  // raised to its child's need

    // A split far too small for its margins draws without breaking anything.
    drawAt(split, rect(50, 50, 3, 3));
}

TEST_F(Containers, DraggingTheDividerFollowsThePointerThroughAHook) {
    auto first = rec({}, {20, 20}), second = rec({}, {20, 20});
    auto split = std::make_shared<splitWidget>(true, first, second, 150);
    sdl_bridge bridge(split);
    st->bridge = &bridge;
    int repaints = 0;
    st->requestRepaint = [&] { ++repaints; };
    bridge.requestRepaint(false);
    bridge.repaint();
    rect grip = split->divider->area;
    ASSERT_EQ(grip, rect(148, 1, 6, 238));

    pushButton(true, SDL_BUTTON_LEFT, 150, 100);
    bridge.processEvents();
    EXPECT_TRUE(split->divider->isDragging());
    EXPECT_EQ(bridge.hooks->size(), 1u);
    // Reaching the grip directly while it drags is a fault.
    MouseDown again({150, 100});
    EXPECT_THROW(split->divider->handle(again), tools::Failure);

    pushMotion(140, 120);
    pushMotion(100, 500);  // far outside the grip: the drag goes on
    pushButton(false, SDL_BUTTON_LEFT, 100, 500);
    bridge.processEvents();
    EXPECT_FALSE(split->divider->isDragging());
    EXPECT_EQ(bridge.hooks->size(), 0u);
    EXPECT_EQ(split->position, 100);
    EXPECT_EQ(repaints, 1);  // one coalesced move
    EXPECT_TRUE(first->events.empty());

    // Released beyond the window, the stored position is clamped for good.
    bridge.requestRepaint(false);
    bridge.repaint();
    pushButton(true, SDL_BUTTON_LEFT, 100, 100);
    pushMotion(1000, 100);
    pushButton(false, SDL_BUTTON_LEFT, 1000, 100);
    bridge.processEvents();
    EXPECT_EQ(split->position, 320 - 20 - 4 - 3);
}

TEST_F(Containers, AGripDroppedWhileDraggingLeavesNoHookBehind) {
    sdl_bridge bridge(nullptr);
    st->bridge = &bridge;
    auto grip = std::make_shared<draggable>([](coord) {}, [] {});
    MouseDown down({1, 1});
    EXPECT_TRUE(grip->handle(down));
    EXPECT_EQ(bridge.hooks->size(), 1u);
    grip.reset();
    EXPECT_EQ(bridge.hooks->size(), 0u);
    MouseMoved moved({2, 2});
    bridge.dispatch(moved);  // nothing left to call

    // Without a bridge a grip cannot follow a drag.
    st->bridge = nullptr;
    auto lonely = std::make_shared<draggable>([](coord) {}, [] {});
    EXPECT_THROW(lonely->handle(down), tools::Failure);
    EXPECT_FALSE(lonely->isDragging());
    EXPECT_EQ(lonely->requestedSize(), coord(3, 3));
}

TEST_F(Containers, FixedSplitGivesOneChildAFixedExtent) {
    auto a = rec({}, {10, 20}), b = rec({}, {30, 5});
    fixedSplit h(false, 100, a, b);
    h.area = rect(0, 0, 300, 50);
    h.draw(screen);
    EXPECT_EQ(a->area, rect(0, 0, 100, 50));
    EXPECT_EQ(b->area, rect(101, 0, 199, 50));
    EXPECT_EQ(h.requestedSize(), coord(130, 20));

    h.size = -40;
    h.draw(screen);
    EXPECT_EQ(a->area, rect(0, 0, 260, 50));
    EXPECT_EQ(b->area, rect(260, 0, 40, 50));
    EXPECT_EQ(h.requestedSize(), coord(50, 20));

    fixedSplit v(true, 20, a, b);
    v.area = rect(5, 5, 100, 200);
    v.draw(screen);
    EXPECT_EQ(a->area, rect(5, 5, 100, 20));
    EXPECT_EQ(b->area, rect(5, 25, 100, 180));
    EXPECT_EQ(v.requestedSize(), coord(30, 25));
    v.size = -20;
    v.draw(screen);
    EXPECT_EQ(a->area, rect(5, 5, 100, 180));
    EXPECT_EQ(b->area, rect(5, 185, 100, 20));
    EXPECT_EQ(v.requestedSize(), coord(30, 40));

    fixedSplit named(true, 20, std::make_shared<text>("a"), nullptr);
    EXPECT_EQ(named.toString(), "widgets.fixedSplit[widgets.text{a}, (null)]");
}

TEST_F(Containers, PlainSplitByRatiosOrEqualSpans) {
    auto a = rec(), b = rec(), c = rec();
    plainSplitWidget byRatio(false, {a, b}, false, {30, 70});
    byRatio.area = rect(0, 0, 200, 40);
    byRatio.draw(screen);
    EXPECT_EQ(a->area, rect(0, 0, 60, 40));
    EXPECT_EQ(b->area, rect(60, 0, 140, 40));

    byRatio.ratios = {30, 60};
    try {
        byRatio.draw(screen);
        FAIL();
    } catch (const tools::Failure& e) {
        EXPECT_STREQ(e.what(), "Failure");
    }

    // Ratios that do not fit the number of children: equal spans.
    plainSplitWidget column(true, {a, nullptr, c}, false, {50, 50});
    column.area = rect(0, 0, 10, 99);
    column.draw(screen);
    EXPECT_EQ(a->area, rect(0, 0, 10, 33));
    EXPECT_EQ(c->area, rect(0, 66, 10, 33));

    clear();
    plainSplitWidget gaps(false, {a, b}, true);
    gaps.area = rect(0, 0, 100, 20);
    gaps.draw(screen);
    EXPECT_EQ(a->area, rect(1, 0, 48, 20));
    EXPECT_EQ(b->area, rect(51, 0, 48, 20));
    EXPECT_EQ(pixel(50, 5), st->faceColour);

    plainSplitWidget none(false, {});
    none.area = rect(0, 0, 100, 20);
    none.draw(screen);
    EXPECT_EQ(none.requestedSize(), coord(0, 0));
}

TEST_F(Containers, RowListStackAndPosition) {
    std::vector<std::shared_ptr<Recorder>> five;
    WidgetList cells;
    for (int i = 0; i < 5; ++i) {
        five.push_back(rec());
        cells.push_back(five.back());
    }
    widgetRow row(cells);
    row.area = rect(0, 0, 50, 16);
    row.draw(screen);
    int drawn = 0;
    for (auto& r : five) drawn += r->draws;
    EXPECT_EQ(drawn, 3);
    EXPECT_EQ(five[2]->area, rect(32, 0, 16, 16));
    EXPECT_EQ(five[4]->area, rect(64, 0, 16, 16));  // placed, not drawn
    EXPECT_EQ(row.requestedSize(), coord(16, 16));
    row.area = rect(0, 0, 50, 0);
    row.draw(screen);  // no cells fit a row of no height

    auto first = rec({}, {33, 7});
    plainList list(20, false, {first, rec(), rec()});
    list.area = rect(0, 0, 80, 30);
    list.draw(screen);
    EXPECT_EQ(first->area, rect(0, 0, 80, 19));
    EXPECT_EQ(std::static_pointer_cast<Recorder>(list.children()[2])->area, rect(0, 40, 80, 19));
    EXPECT_EQ(list.requestedSize(), coord(33, 20));
    plainList across(20, true);
    EXPECT_EQ(across.requestedSize(), coord(20, 4));

    auto top = rec(rgba(255, 0, 0), {}, "top"), under = rec(rgba(0, 255, 0), {}, "under");
    auto stack = std::make_shared<stackWidget>(WidgetList{top, under});
    drawAt(stack, rect(0, 0, 30, 30));
    EXPECT_EQ(pixel(15, 15), rgba(255, 0, 0));
    MouseDown down({15, 15});
    stack->handle(down);
    EXPECT_EQ(journal.back(), "top:Down@15,15");

    auto inner = rec({}, {10, 10});
    positionWidget pos(inner, 0.25f, 0.75f, 0.0f, 0.5f);
    pos.area = rect(0, 0, 200, 100);
    pos.draw(screen);
    EXPECT_EQ(inner->area, rect(50, 0, 100, 50));
    EXPECT_EQ(pos.requestedSize(), coord(20, 20));
    MouseDown in({60, 10}), out({10, 10});
    EXPECT_TRUE(pos.handle(in));
    EXPECT_FALSE(pos.handle(out));
    positionWidget flat(inner, 0.5f, 0.5f, 0.0f, 1.0f);
    EXPECT_EQ(flat.requestedSize(), coord(0, 10));
}

TEST_F(Containers, LazyWrappers) {
    int made = 0;
    auto shown = rec();
    auto lazy = std::make_shared<delay>([&] {
        ++made;
        return shown;
    });
    EXPECT_EQ(made, 0);
    lazy->requestedSize();
    drawAt(lazy, rect(1, 2, 3, 4));
    drawAt(lazy, rect(1, 2, 3, 4));
    EXPECT_EQ(made, 1);
    EXPECT_EQ(shown->area, rect(1, 2, 3, 4));

    auto cb = std::make_shared<callback>([&] {
        ++made;
        return rec();
    });
    MouseDown down({1, 1});
    EXPECT_THROW(cb->handle(down), tools::Failure);
    drawAt(cb, rect(0, 0, 10, 10));
    drawAt(cb, rect(0, 0, 10, 10));
    EXPECT_EQ(made, 3);
    EXPECT_TRUE(cb->handle(down));
    auto last = std::static_pointer_cast<Recorder>(cb->child());
    EXPECT_EQ(last->events, (std::vector<std::string>{"Down@1,1"}));
    cb->clearChanged();
    EXPECT_FALSE(last->changed());
    cb->setChanged();
    EXPECT_TRUE(last->changed());
}

TEST_F(Containers, ScrollbarPagesClampsAndNeverDividesByZero) {
    double ratio = 4.0;
    int scrolled = 0;
    auto bar = std::make_shared<scrollbar>([&] { return ratio; }, [&] { ++scrolled; }, false);
    bar->area = rect(0, 0, 16, 200);
    EXPECT_EQ(bar->knobLength(), 50);
    EXPECT_EQ(bar->fraction(), 0.0);  // not-a-number at first, clamped to 0
    MouseDown below({8, 150});
    EXPECT_TRUE(bar->handle(below));
    EXPECT_FLOAT_EQ(bar->pos, 50.0f);  // one page: L / ratio
    EXPECT_NEAR(bar->fraction(), 50.0 / 150.0, 1e-6);
    EXPECT_EQ(scrolled, 1);
    bar->handle(below);
    bar->handle(below);
    bar->handle(below);
    EXPECT_FLOAT_EQ(bar->pos, 150.0f);  // clamped at the end
    MouseDown above({8, 10});
    bar->handle(above);
    EXPECT_FLOAT_EQ(bar->pos, 100.0f);
    MouseUp up({8, 10});
    EXPECT_FALSE(bar->handle(up));

    drawAt(bar, rect(0, 0, 16, 200));
    EXPECT_EQ(bar->knob()->area, rect(2, 102, 12, 46));

    bar->setFraction(0.5);
    EXPECT_FLOAT_EQ(bar->pos, 75.0f);
    bar->show(0, 10);  // back to the top in half pages
    EXPECT_FLOAT_EQ(bar->pos, 0.0f);

    // A track no longer than the knob: the fraction is 0, not 0 / 0.
    bar->area = rect(0, 0, 16, 16);
    EXPECT_EQ(bar->fraction(), 0.0);
    bar->area = rect(0, 0, 16, 0);
    EXPECT_EQ(bar->fraction(), 0.0);
    bar->show(500, 20);  // a track of length 0 does not loop forever
    EXPECT_FALSE(std::isnan(bar->pos));
    ratio = 1.0;
    bar->area = rect(0, 0, 16, 200);
    EXPECT_EQ(bar->fraction(), 0.0);
    bar->show(500, 20);
    EXPECT_EQ(bar->fraction(), 0.0);

    auto across = std::make_shared<scrollbar>([] { return 2.0; }, nullptr, true);
    across->area = rect(10, 0, 100, 16);
    MouseDown right({100, 8});
    across->handle(right);
    EXPECT_FLOAT_EQ(across->pos, 50.0f);
    EXPECT_EQ(across->requestedSize(), coord(16, 16));
}

TEST_F(Containers, ScrollBoxShowsTheSelectionAndDrawsOnlyItemsInView) {
    Items items(10);
    auto box = std::make_shared<fixedscrollbox>(20, items.provider());
    drawAt(box, rect(0, 0, 120, 100));
    EXPECT_EQ(box->count(), 10);
    EXPECT_DOUBLE_EQ(box->bar()->ratio(), 2.0);
    EXPECT_EQ(box->bar()->area, rect(104, 0, 16, 100));
    EXPECT_EQ(box->offset(), 0);
    EXPECT_EQ(items.asked.front(), std::make_pair(0, 0));
    EXPECT_EQ(items.asked.back(), std::make_pair(0, 6));
    EXPECT_EQ(items.all[0]->drawnAt.back(), rect(1, 1, 102, 18));  // in its own surface
    EXPECT_EQ(items.all[5]->draws, 0);  // starts exactly at the bottom edge
    EXPECT_EQ(pixel(50, 30), items.all[1]->colour);
    EXPECT_EQ(pixel(50, 20), st->backColour);  // the item's one-pixel margin

    box->select(9);
    EXPECT_EQ(box->selected(), 9);
    drawAt(box, rect(0, 0, 120, 100));
    EXPECT_EQ(box->offset(), 100);
    EXPECT_EQ(pixel(50, 90), items.all[9]->colour);
    EXPECT_EQ(pixel(50, 10), items.all[5]->colour);
    EXPECT_EQ(items.all[9]->draws, 1);

    // Events reach an item in its own coordinates; hover follows.
    MouseMoved over({50, 35});
    EXPECT_TRUE(box->handle(over));
    EXPECT_EQ(items.all[6]->events, (std::vector<std::string>{"Entered", "Moved@50,15"}));
    EXPECT_EQ(over.pos, coord(50, 15));
    MouseLeft left;
    box->handle(left);
    EXPECT_EQ(items.all[6]->events.back(), "Left");

    // The wheel moves the bar and asks for a repaint.
    int repaints = 0;
    st->requestRepaint = [&] { ++repaints; };
    MouseScroll wheelUp({50, 50}, true);
    EXPECT_TRUE(box->handle(wheelUp));
    EXPECT_EQ(repaints, 1);
    EXPECT_FLOAT_EQ(box->bar()->pos, 0.0f);  // 54.5 pixels up from 50: clamped
    drawAt(box, rect(0, 0, 120, 100));
    EXPECT_EQ(box->offset(), 0);

    // A click on the bar goes to the bar when the items refuse it.
    for (auto& item : items.all) item->accept = false;
    MouseDown onTrack({110, 80});
    EXPECT_TRUE(box->handle(onTrack));
    EXPECT_FLOAT_EQ(box->bar()->pos, 50.0f);

    // A long list scrolls by h * itemHeight * 0.3 / (n + 1) per wheel step.
    Items many(100);
    auto longBox = std::make_shared<fixedscrollbox>(20, many.provider());
    drawAt(longBox, rect(0, 0, 120, 100));
    MouseScroll wheelDown({50, 50}, false);
    longBox->handle(wheelDown);
    EXPECT_NEAR(longBox->bar()->pos, 100.0 * 20 * 0.3 / 101, 1e-4);
    drawAt(longBox, rect(0, 0, 120, 100));
    EXPECT_EQ(longBox->offset(), static_cast<int>(longBox->bar()->pos / 84.0 * 1900));
    EXPECT_GT(longBox->offset(), 0);
}

TEST_F(Containers, ScrollBoxOverDegenerateListsAndAreas) {
    Items none(0);
    auto empty = std::make_shared<fixedscrollbox>(20, none.provider());
    clear();
    drawAt(empty, rect(0, 0, 100, 100));
    EXPECT_EQ(empty->count(), 0);
    EXPECT_EQ(empty->offset(), 0);
    EXPECT_EQ(pixel(50, 50), st->backColour);
    MouseScroll wheel({50, 50}, false);
    EXPECT_TRUE(empty->handle(wheel));
    MouseDown click({20, 20});
    EXPECT_FALSE(empty->handle(click));

    Items three(3);
    auto shortList = std::make_shared<fixedscrollbox>(20, three.provider());
    shortList->select(2);
    drawAt(shortList, rect(0, 0, 100, 100));
    EXPECT_EQ(shortList->offset(), 0);  // everything fits: nothing scrolls
    EXPECT_EQ(pixel(50, 50), three.all[2]->colour);

    drawAt(shortList, rect(10, 0, 10, 100));  // narrower than its bar
    drawAt(shortList, rect(0, 0, 100, 0));
    drawAt(shortList, rect(0, 0, 100, 5));  // lower than one item
    EXPECT_EQ(shortList->requestedSize(), coord(16, 16));
}

TEST_F(Containers, RebuiltScrollBoxItemsStillHearThatThePointerLeft) {
    // Like the reader's rows: new item widgets at every request.
    int made = 0;
    auto box = std::make_shared<fixedscrollbox>(20, [&](int from, int to) {
        WidgetList out(5);
        for (int i = std::max(from, 0); i <= to && i < 5; ++i) {
            auto r = rec({}, {}, "item" + std::to_string(i) + "#" + std::to_string(made++));
            out[i] = r;
        }
        return out;
    });
    drawAt(box, rect(0, 0, 120, 100));
    MouseMoved over({30, 30});
    box->handle(over);
    ASSERT_EQ(journal.size(), 2u);
    const std::string hovered = journal[0].substr(0, journal[0].find(':'));
    EXPECT_EQ(journal[0], hovered + ":Entered");
    drawAt(box, rect(0, 0, 120, 100));  // every item made anew
    journal.clear();
    MouseLeft left;
    box->handle(left);
    EXPECT_EQ(journal, (std::vector<std::string>{hovered + ":Left"}));
    EXPECT_EQ(box->hover(), nullptr);
}
