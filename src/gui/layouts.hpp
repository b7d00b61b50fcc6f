#pragma once
// gui.layouts: containers that place their children: at fractions, split in
// two (by a dragged divider or a fixed extent), in rows, lists and stacks.
// requestedSize is advisory; several layouts know it only after a draw.
//
// Threads: drawn and handled on the loop's thread; another thread changes a
// widget in the tree only under the GUI lock (gui/sdl_bridge.hpp).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/composites.hpp"

namespace gui {

// One child at fractions of the area.
class positionWidget : public widget {
public:
    positionWidget(WidgetPtr child, float left, float right, float top, float bottom)
        : child_(std::move(child)), left(left), right(right), top(top), bottom(bottom) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    coord requestedSize() override;

private:
    WidgetPtr child_;

public:
    float left, right, top, bottom;
};

class draggable;

// Two children side by side (horizontal) or one above the other, with a
// divider the user drags. The stored position survives a window that shrinks
// and grows again.
class splitWidget : public containerWidget {
public:
    splitWidget(bool horizontal, WidgetPtr first, WidgetPtr second, int position);
    void draw(SDL_Surface* target) override;
    coord requestedSize() override;
    // The position clamped to the current area and the children's sizes.
    int clamp(int p);
    void drag(coord c);
    void release();

    int position;
    const bool horizontal;
    const std::shared_ptr<draggable> divider;

private:
    std::optional<coord> dragStart_;
};

// Children in a row (or a column when vertical), equal spans or by ratios
// (percentages summing to 100; otherwise draw throws tools::Failure).
class plainSplitWidget : public containerWidget {
public:
    plainSplitWidget(bool vertical, WidgetList children, bool gaps = false,
                     std::vector<int> ratios = {})
        : containerWidget(std::move(children)),
          vertical(vertical),
          gaps(gaps),
          ratios(std::move(ratios)) {}
    void draw(SDL_Surface* target) override;
    coord requestedSize() override { return {0, 0}; }

    bool vertical;
    bool gaps;
    std::vector<int> ratios;
};

// Two children, the first (size > 0) or the second (size <= 0, of -size)
// with a fixed extent.
class fixedSplit : public containerWidget {
public:
    fixedSplit(bool vertical, int size, WidgetPtr first, WidgetPtr second)
        : containerWidget({std::move(first), std::move(second)}), vertical(vertical), size(size) {}
    void draw(SDL_Surface* target) override;
    coord requestedSize() override;
    std::string toString() const override;

    bool vertical;
    int size;
};

// A toolbar of square cells as high as the area; only the cells that fit draw.
class widgetRow : public compositeWidget {
public:
    explicit widgetRow(WidgetList children) : list_(std::move(children)) {}
    const WidgetList& children() override { return list_; }
    void draw(SDL_Surface* target) override;
    coord requestedSize() override;

private:
    WidgetList list_;
};

// Equal slots of itemSize pixels, one pixel apart.
class plainList : public containerWidget {
public:
    plainList(int itemSize, bool horizontal, WidgetList children = {})
        : containerWidget(std::move(children)), itemSize(itemSize), horizontal(horizontal) {}
    void draw(SDL_Surface* target) override;
    coord requestedSize() override;

    int itemSize;
    bool horizontal;
};

// All children over the whole area; the first is on top.
class stackWidget : public containerWidget {
public:
    explicit stackWidget(WidgetList children) : containerWidget(std::move(children)) {}
    void draw(SDL_Surface* target) override;
    coord requestedSize() override { return {0, 0}; }
};

}  // namespace gui
