// Layout containers: position, splits, rows, lists and stacks.
#include "gui/layouts.hpp"

#include <algorithm>
#include <cmath>

#include "gui/scrolling.hpp"
#include "tools/failure.hpp"

namespace gui {

namespace {

int along(coord c, bool horizontal) { return horizontal ? c.x : c.y; }

std::string textForm(const WidgetPtr& w) { return w ? w->toString() : "(null)"; }

}  // namespace

// ---- positionWidget ----

void positionWidget::draw(SDL_Surface* target) {
    gui::style& st = style();
    st.fill(target, area, st.backColour);
    if (!child_) return;
    child_->area =
        rect(area.x + static_cast<int>(area.w * left), area.y + static_cast<int>(area.h * top),
             static_cast<int>((right - left) * area.w), static_cast<int>((bottom - top) * area.h));
    child_->draw(target);
}

bool positionWidget::handle(Event& e) {
    auto* local = dynamic_cast<LocalEvent*>(&e);
    if (local && child_ && child_->area.contains(local->pos.x, local->pos.y))
        return child_->handle(e);
    return false;
}

coord positionWidget::requestedSize() {
    if (!child_) return {0, 0};
    coord c = child_->requestedSize();
    auto scale = [](float span, int size) {
        return span > 0 ? static_cast<int>(1.0f / span * size) : 0;
    };
    return {scale(right - left, c.x), scale(bottom - top, c.y)};
}

// ---- splitWidget ----

splitWidget::splitWidget(bool horizontal, WidgetPtr first, WidgetPtr second, int position)
    : containerWidget({std::move(first), std::move(second)}),
      position(position),
      horizontal(horizontal),
      divider(std::make_shared<draggable>([this](coord c) { drag(c); }, [this] { release(); })) {
    list_.push_back(divider);
}

int splitWidget::clamp(int p) {
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

void splitWidget::draw(SDL_Surface* target) {
    gui::style& st = style();
    const int g = st.gap;
    const rect a = shrunk(area, 1);
    const int p = clamp(position);  // for this pass only: the stored position stays
    rect firstArea, secondArea, dividerArea;
    if (horizontal) {
        dividerArea = rect(a.x + p - g, a.y, 2 * g, a.h);
        firstArea = rect(a.x, a.y, p - 1 - g, a.h);
        secondArea = rect(a.x + p + g + 1, a.y, a.w - 1 - p - g, a.h);
    } else {
        dividerArea = rect(a.x, a.y + p - g, a.w, 2 * g);
        firstArea = rect(a.x, a.y, a.w, p - 1 - g);
        secondArea = rect(a.x, a.y + p + g + 1, a.w, a.h - 1 - p - g);
    }
    const rect areas[] = {firstArea, secondArea, dividerArea};
    WidgetList children = list_;
    for (std::size_t i = 0; i < children.size() && i < 3; ++i)
        if (children[i]) {
            children[i]->area = areas[i];
            children[i]->draw(target);
        }
    for (std::size_t i = 0; i < children.size() && i < 3; ++i)
        if (children[i]) {
            rect around = children[i]->area;
            around = rect(around.x - 1, around.y - 1, around.w + 2, around.h + 2);
            st.outline(target, around, st.backColour);
        }
    clearChanged();
}

void splitWidget::drag(coord c) {
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

void splitWidget::release() {
    dragStart_.reset();
    position = clamp(position);
}

coord splitWidget::requestedSize() {
    const int g = style().gap;
    int sum = 0, across = 0;
    for (std::size_t i = 0; i < 2; ++i)
        if (list_[i]) {
            coord s = list_[i]->requestedSize();
            sum += along(s, horizontal);
            across = std::max(across, along(s, !horizontal));
        }
    sum += 2 * g + 4;
    across += 4;
    return horizontal ? coord(sum, across) : coord(across, sum);
}

// ---- plainSplitWidget ----

void plainSplitWidget::draw(SDL_Surface* target) {
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
    gui::style& st = style();
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
            vertical ? rect(area.x, start, area.w, span) : rect(start, area.y, span, area.h);
        children[i]->draw(target);
    }
    clearChanged();
}

// ---- fixedSplit ----

void fixedSplit::draw(SDL_Surface* target) {
    WidgetList children = list_;
    const rect a = area;
    const int s = size;
    rect first, second;
    if (vertical) {
        if (s > 0) {
            first = rect(a.x, a.y, a.w, s);
            second = rect(a.x, a.y + s, a.w, a.h - s);
        } else {
            first = rect(a.x, a.y, a.w, a.h + s);
            second = rect(a.x, a.y + a.h + s, a.w, -s);
        }
    } else {
        if (s > 0) {
            first = rect(a.x, a.y, s, a.h);
            second = rect(a.x + s + 1, a.y, a.w - 1 - s, a.h);
        } else {
            first = rect(a.x, a.y, a.w + s, a.h);
            second = rect(a.x + a.w + s, a.y, -s, a.h);
        }
    }
    const rect areas[] = {first, second};
    for (std::size_t i = 0; i < children.size() && i < 2; ++i)
        if (children[i]) {
            children[i]->area = areas[i];
            children[i]->draw(target);
        }
    clearChanged();
}

coord fixedSplit::requestedSize() {
    coord A = list_.size() > 0 && list_[0] ? list_[0]->requestedSize() : coord();
    coord B = list_.size() > 1 && list_[1] ? list_[1]->requestedSize() : coord();
    const int s = size;
    if (vertical)
        return s > 0 ? coord(std::max(A.x, B.x), s + B.y) : coord(std::max(A.x, B.x), A.y - s);
    return s > 0 ? coord(s + B.x, std::max(A.y, B.y)) : coord(A.x - s, std::max(A.y, B.y));
}

std::string fixedSplit::toString() const {
    WidgetPtr first = list_.size() > 0 ? list_[0] : nullptr;
    WidgetPtr second = list_.size() > 1 ? list_[1] : nullptr;
    return "widgets.fixedSplit[" + textForm(first) + ", " + textForm(second) + "]";
}

// ---- widgetRow, plainList, stackWidget ----

void widgetRow::draw(SDL_Surface* target) {
    WidgetList children = list_;
    const int n = static_cast<int>(children.size());
    const int cell = area.h;
    for (int i = 0; i < n; ++i)
        if (children[i]) children[i]->area = rect(area.x + i * cell, area.y, cell, cell);
    const int fit = cell > 0 ? std::min(n, area.w / cell) : 0;
    for (int i = 0; i < fit; ++i)
        if (children[i]) children[i]->draw(target);
}

coord widgetRow::requestedSize() {
    int u = style().unitSize;
    return {u, u};
}

void plainList::draw(SDL_Surface* target) {
    WidgetList children = list_;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (!children[i]) continue;
        const int at = static_cast<int>(i) * itemSize;
        children[i]->area = horizontal ? rect(area.x + at, area.y, itemSize - 1, area.h)
                                       : rect(area.x, area.y + at, area.w, itemSize - 1);
        children[i]->draw(target);
    }
    clearChanged();
}

coord plainList::requestedSize() {
    const WidgetPtr first = list_.empty() ? nullptr : list_.front();
    if (horizontal) return {itemSize, first ? first->requestedSize().y : 4};
    return {first ? first->requestedSize().x : 4, itemSize};
}

void stackWidget::draw(SDL_Surface* target) {
    WidgetList children = list_;
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (*it) {
            (*it)->area = area;
            (*it)->draw(target);
        }
}

}  // namespace gui
