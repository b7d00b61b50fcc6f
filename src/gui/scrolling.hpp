#pragma once
// gui.scrolling: dragging and scrolling: the grip that follows the pointer,
// the scroll bar and the scroll box of equally tall items.
//
// Threads: drawn and handled on the loop's thread; another thread changes a
// widget in the tree only under the GUI lock (gui/sdl_bridge.hpp).
#include <functional>
#include <memory>
#include <optional>

#include "gui/composites.hpp"

namespace gui {

// A grip: a MouseDown starts a drag, which follows the pointer anywhere in
// the window through a bridge hook until the button is released.
class draggable : public widget {
public:
    draggable(std::function<void(coord)> onDrag, std::function<void()> onRelease)
        : onDrag(std::move(onDrag)), onRelease(std::move(onRelease)) {}
    ~draggable() override;
    void draw(SDL_Surface* target) override;
    // Throws tools::Failure while dragging (the hook gets the events then).
    bool handle(Event& e) override;
    coord requestedSize() override { return {3, 3}; }
    bool isDragging() const { return dragging_; }

    std::function<void(coord)> onDrag;
    std::function<void()> onRelease;

private:
    bool hook(Event& e);
    void stopDragging();

    bool dragging_ = false;
    std::weak_ptr<HookTable> hooks_;
    HookToken token_ = 0;
};

// A track with a draggable knob. pos is the knob's offset in pixels from the
// track's start; ratio() is content length / visible length (1.0 or more).
class scrollbar : public compositeWidget {
public:
    scrollbar(std::function<double()> ratio, std::function<void()> onScroll, bool horizontal);
    const WidgetList& children() override { return list_; }
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    coord requestedSize() override;

    int trackLength() const { return horizontal ? area.w : area.h; }
    int knobLength();
    float clamp(float p);
    // 0 when nothing scrolls (ratio 1.0, or a track no longer than the knob).
    double fraction();
    void setFraction(double f);
    // Scrolls by half pages until target is at least margin inside the view.
    void show(double target, double margin);
    void drag(coord c);
    void release();
    bool isDragging() const;
    const std::shared_ptr<draggable>& knob() const { return knob_; }

    std::function<double()> ratio;
    std::function<void()> onScroll;
    bool horizontal;
    float pos;

private:
    void scrolled();

    std::shared_ptr<draggable> knob_;
    WidgetList list_;
    std::optional<coord> dragStart_;
};

// A vertical list of equally tall items with a scroll bar; only the items in
// view are asked for, and each is drawn through an off-screen surface of one
// item (so items see their own surface coordinates, in drawing and events).
class fixedscrollbox : public dgContainerWidget {
public:
    fixedscrollbox(int itemHeight, Provider provider);
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    coord requestedSize() override { return bar_->requestedSize(); }
    // Own flag and the bar's (the items are marked when they draw).
    void setChanged() override;
    void clearChanged() override;
    void setStyle(std::shared_ptr<gui::style> s) override;
    // Keeps the hovered item alive: items are rebuilt at every draw, and the
    // one under the pointer must still hear that the pointer left it.
    void setHover(const WidgetPtr& w) override;

    // Scrolls the item into view at the next draw.
    void select(int i);
    int selected() const { return selected_; }
    int offset() const { return offset_; }
    int count() const { return count_; }
    const std::shared_ptr<scrollbar>& bar() const { return bar_; }

    const int itemHeight;

private:
    int offset_ = 0;
    int selected_ = -1;
    bool selectionShown_ = false;
    int count_ = 0;
    std::shared_ptr<scrollbar> bar_;
    WidgetPtr hoverKeep_;
};

}  // namespace gui
