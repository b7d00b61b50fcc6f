// Layout containers: position, splits, rows, lists and stacks.
#include "gui/layouts.hpp"

#include <algorithm>
#include <cmath>

#include "gui/scrolling.hpp"
#include "tools/failure.hpp"

namespace gui {

namespace {

int along(Coord c, bool horizontal) { return horizontal ? c.x : c.y; }

std::string textForm(const WidgetPtr& w) { return w ? w->toString() : "(null)"; }

}  // namespace

// ---- PositionWidget ----

void PositionWidget::draw(SDL_Surface* target) {
    gui::Style& st = style();
    st.fill(target, area, st.backColour);
    if (!child_) return;
    child_->area =
        Rect(area.x + static_cast<int>(area.w * left), area.y + static_cast<int>(area.h * top),
             static_cast<int>((right - left) * area.w), static_cast<int>((bottom - top) * area.h));
    child_->draw(target);
}

bool PositionWidget::handle(Event& e) {
    auto* local = dynamic_cast<LocalEvent*>(&e);
    if (local && child_ && child_->area.contains(local->pos.x, local->pos.y))
        return child_->handle(e);
    return false;
}

Coord PositionWidget::requestedSize() {
    if (!child_) return {0, 0};
    Coord c = child_->requestedSize();
    auto scale = [](float span, int size) {
        return span > 0 ? static_cast<int>(1.0f / span * size) : 0;
    };
    return {scale(right - left, c.x), scale(bottom - top, c.y)};
}

// ---- SplitWidget ----

SplitWidget::SplitWidget(bool horizontal, WidgetPtr first, WidgetPtr second, int position)
    : ContainerWidget({std::move(first), std::move(second)}),
      position(position),
      horizontal(horizontal),
      divider(std::make_shared<Draggable>([this](Coord c) { drag(c); }, [this] { release(); })) {
    list_.push_back(divider);
}

int SplitWidget::clamp(int p) {
    const int g = style().gap;
    const int extent = horizontal ? area.w : area.h;
    const WidgetPtr& first = list_[0];
    const WidgetPtr& second = list_[1];
    if (first) {
        int need = along(first->requestedSize(), horizontal) + g + 4;
        if (p < need) p = need;
    }
    if (second) {
        int need = along(second->requestedSize(), horizontal);
        if (extent - p < need + g + 4) p = extent - need - 4 - g;
    }
    p = std::max(p, g + 4);
    p = std::min(p, extent - (g + 4));
    return p;
}

void SplitWidget::draw(SDL_Surface* target) {
    gui::Style& st = style();
    const int g = st.gap;
    const Rect a = shrunk(area, 1);
    const int p = clamp(position);  // for this pass only: the stored position stays
    Rect firstArea, secondArea, dividerArea;
    if (horizontal) {
        dividerArea = Rect(a.x + p - g, a.y, 2 * g, a.h);
        firstArea = Rect(a.x, a.y, p - 1 - g, a.h);
        secondArea = Rect(a.x + p + g + 1, a.y, a.w - 1 - p - g, a.h);
    } else {
        dividerArea = Rect(a.x, a.y + p - g, a.w, 2 * g);
        firstArea = Rect(a.x, a.y, a.w, p - 1 - g);
        secondArea = Rect(a.x, a.y + p + g + 1, a.w, a.h - 1 - p - g);
    }
    const Rect areas[] = {firstArea, secondArea, dividerArea};
    WidgetList children = list_;
    for (std::size_t i = 0; i < children.size() && i < 3; ++i)
        if (children[i]) {
            children[i]->area = areas[i];
            children[i]->draw(target);
        }
    for (std::size_t i = 0; i < children.size() && i < 3; ++i)
        if (children[i]) {
            Rect around = children[i]->area;
            around = Rect(around.x - 1, around.y - 1, around.w + 2, around.h + 2);
            st.outline(target, around, st.backColour);
        }
    clearChanged();
}

void SplitWidget::drag(Coord c) {
    if (!dragStart_) {
        dragStart_ = c;
        return;
    }
    int change = horizontal ? c.x - dragStart_->x : c.y - dragStart_->y;
    position += change;
    dragStart_ = c;
    if (change != 0) {
        setChanged();
        requestRepaint();
    }
}

void SplitWidget::release() {
    dragStart_.reset();
    position = clamp(position);
}

Coord SplitWidget::requestedSize() {
    const int g = style().gap;
    int sum = 0, across = 0;
    for (std::size_t i = 0; i < 2; ++i)
        if (list_[i]) {
            Coord s = list_[i]->requestedSize();
            sum += along(s, horizontal);
            across = std::max(across, along(s, !horizontal));
        }
    sum += 2 * g + 4;
    across += 4;
    return horizontal ? Coord(sum, across) : Coord(across, sum);
}

// ---- PlainSplitWidget ----

void PlainSplitWidget::draw(SDL_Surface* target) {
    if (!ratios.empty()) {
        int sum = 0;
        for (int r : ratios) sum += r;
        tools::check(sum == 100);
    }
    WidgetList children = list_;
    const int n = static_cast<int>(children.size());
    if (n == 0) {
        clearChanged();
        return;
    }
    gui::Style& st = style();
    if (gaps) st.fill(target, area, st.faceColour);
    const int length = vertical ? area.h : area.w;
    const int origin = vertical ? area.y : area.x;
    const bool byRatio = ratios.size() == children.size();
    const float step = static_cast<float>(length) / n;
    int next = origin;
    for (int i = 0; i < n; ++i) {
        int start, span;
        if (byRatio) {
            start = next;
            span = static_cast<int>(length / 100.0 * ratios[i]);
            next += span;
        } else {
            start = origin + static_cast<int>(i * step);
            span = origin + static_cast<int>((i + 1) * step) - start;
        }
        if (gaps) {
            start += 1;
            span -= 2;
        }
        if (!children[i]) continue;
        children[i]->area =
            vertical ? Rect(area.x, start, area.w, span) : Rect(start, area.y, span, area.h);
        children[i]->draw(target);
    }
    clearChanged();
}

// ---- FixedSplit ----

void FixedSplit::draw(SDL_Surface* target) {
    WidgetList children = list_;
    const Rect a = area;
    const int s = size;
    Rect first, second;
    if (vertical) {
        if (s > 0) {
            first = Rect(a.x, a.y, a.w, s);
            second = Rect(a.x, a.y + s, a.w, a.h - s);
        } else {
            first = Rect(a.x, a.y, a.w, a.h + s);
            second = Rect(a.x, a.y + a.h + s, a.w, -s);
        }
    } else {
        if (s > 0) {
            first = Rect(a.x, a.y, s, a.h);
            second = Rect(a.x + s + 1, a.y, a.w - 1 - s, a.h);
        } else {
            first = Rect(a.x, a.y, a.w + s, a.h);
            second = Rect(a.x + a.w + s, a.y, -s, a.h);
        }
    }
    const Rect areas[] = {first, second};
    for (std::size_t i = 0; i < children.size() && i < 2; ++i)
        if (children[i]) {
            children[i]->area = areas[i];
            children[i]->draw(target);
        }
    clearChanged();
}

Coord FixedSplit::requestedSize() {
    Coord firstSize = list_.size() > 0 && list_[0] ? list_[0]->requestedSize() : Coord();
    Coord secondSize = list_.size() > 1 && list_[1] ? list_[1]->requestedSize() : Coord();
    const int s = size;
    if (vertical)
        return s > 0 ? Coord(std::max(firstSize.x, secondSize.x), s + secondSize.y)
                     : Coord(std::max(firstSize.x, secondSize.x), firstSize.y - s);
    return s > 0 ? Coord(s + secondSize.x, std::max(firstSize.y, secondSize.y))
                 : Coord(firstSize.x - s, std::max(firstSize.y, secondSize.y));
}

std::string FixedSplit::toString() const {
    WidgetPtr first = list_.size() > 0 ? list_[0] : nullptr;
    WidgetPtr second = list_.size() > 1 ? list_[1] : nullptr;
    return "widgets.fixedSplit[" + textForm(first) + ", " + textForm(second) + "]";
}

// ---- WidgetRow, PlainList, StackWidget ----

void WidgetRow::draw(SDL_Surface* target) {
    WidgetList children = list_;
    const int n = static_cast<int>(children.size());
    const int cell = area.h;
    for (int i = 0; i < n; ++i)
        if (children[i]) children[i]->area = Rect(area.x + i * cell, area.y, cell, cell);
    const int fit = cell > 0 ? std::min(n, area.w / cell) : 0;
    for (int i = 0; i < fit; ++i)
        if (children[i]) children[i]->draw(target);
}

Coord WidgetRow::requestedSize() {
    int u = style().unitSize;
    return {u, u};
}

void PlainList::draw(SDL_Surface* target) {
    WidgetList children = list_;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (!children[i]) continue;
        const int at = static_cast<int>(i) * itemSize;
        children[i]->area = horizontal ? Rect(area.x + at, area.y, itemSize - 1, area.h)
                                       : Rect(area.x, area.y + at, area.w, itemSize - 1);
        children[i]->draw(target);
    }
    clearChanged();
}

Coord PlainList::requestedSize() {
    const WidgetPtr first = list_.empty() ? nullptr : list_.front();
    if (horizontal) return {itemSize, first ? first->requestedSize().y : 4};
    return {first ? first->requestedSize().x : 4, itemSize};
}

void StackWidget::draw(SDL_Surface* target) {
    WidgetList children = list_;
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (*it) {
            (*it)->area = area;
            (*it)->draw(target);
        }
}

}  // namespace gui
