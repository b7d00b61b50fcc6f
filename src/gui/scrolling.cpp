// Dragging and scrolling: the grip, the scroll bar and the scroll box.
#include "gui/scrolling.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/failure.hpp"

namespace gui {

// ---- draggable ----

draggable::~draggable() {
    if (!dragging_) return;
    if (auto table = hooks_.lock()) try {
            if (table->size() > 0) table->remove(token_);
        } catch (...) {
        }
}

bool draggable::handle(Event& e) {
    tools::check(!dragging_);
    auto* down = dynamic_cast<MouseDown*>(&e);
    if (!down) return false;
    ui_bridge* bridge = style().bridge;
    tools::check(bridge != nullptr, "no bridge to follow a drag with");
    dragging_ = true;
    if (onDrag) onDrag(down->pos);
    // The hook must not call a grip that is gone: a tree rebuilt meanwhile
    // may have dropped it.
    std::weak_ptr<widget> self = weak_from_this();
    const bool shared = !self.expired();
    hooks_ = bridge->hooks;
    token_ = bridge->addHook(
        [this, self, shared](Event& ev) {
            std::shared_ptr<widget> keep = self.lock();
            if (shared && !keep) return false;
            return hook(ev);
        },
        this);
    setChanged();
    return true;
}

bool draggable::hook(Event& e) {
    if (!dragging_) return false;
    if (auto* moved = dynamic_cast<MouseMoved*>(&e)) {
        if (onDrag) onDrag(moved->pos);
        setChanged();
        return true;
    }
    if (dynamic_cast<MouseUp*>(&e)) {
        stopDragging();
        if (onRelease) onRelease();
        setChanged();
        return true;
    }
    return false;
}

void draggable::stopDragging() {
    dragging_ = false;
    if (auto table = hooks_.lock())
        if (table->size() > 0) table->remove(token_);
    hooks_.reset();
}

void draggable::draw(SDL_Surface* target) {
    gui::style& st = style();
    st.panel(target, area, st.textColour, st.faceColour, false);
    clearChanged();
}

// ---- scrollbar ----

scrollbar::scrollbar(std::function<double()> ratio, std::function<void()> onScroll, bool horizontal)
    : ratio(std::move(ratio)),
      onScroll(std::move(onScroll)),
      horizontal(horizontal),
      pos(std::numeric_limits<float>::quiet_NaN()),
      knob_(std::make_shared<draggable>([this](coord c) { drag(c); }, [this] { release(); })),
      list_{knob_} {}

int scrollbar::knobLength() {
    const double r = ratio ? ratio() : 1.0;
    const double length = r > 0 ? trackLength() / r : trackLength();
    return std::max(style().unitSize, static_cast<int>(length));
}

float scrollbar::clamp(float p) {
    const int length = trackLength();
    const int knob = knobLength();
    if (p + knob > length) p = static_cast<float>(length - knob);
    if (p < 0 || std::isnan(p)) p = 0;
    return p;
}

double scrollbar::fraction() {
    pos = clamp(pos);
    if ((ratio ? ratio() : 1.0) == 1.0) return 0;
    const int room = trackLength() - knobLength();
    if (room <= 0) return 0;  // the knob fills the track: nothing to divide
    return pos / room;
}

void scrollbar::setFraction(double f) {
    pos = clamp(static_cast<float>((trackLength() - knobLength()) * f));
}

void scrollbar::show(double target, double margin) {
    const double length = trackLength();
    if (length <= 0) return;  // half-page steps of 0 would never get there
    const double content = ((ratio ? ratio() : 1.0) - 1.0) * length;
    double cur = fraction() * content;
    if (cur + margin < target && length + cur - margin > target) return;
    while (cur + margin > target) cur -= length * 0.5;
    while (length + cur - margin < target) cur += length * 0.5;
    setFraction(content > 0 ? cur / content : 0.0);
}

void scrollbar::scrolled() {
    setChanged();
    if (onScroll) onScroll();
    requestRepaint();
}

void scrollbar::drag(coord c) {
    if (!dragStart_) {
        dragStart_ = c;
        return;
    }
    int change = horizontal ? c.x - dragStart_->x : c.y - dragStart_->y;
    dragStart_ = c;
    if (std::isnan(pos)) pos = clamp(pos);
    pos += change;
    if (change != 0) scrolled();
}

void scrollbar::release() {
    dragStart_.reset();
    pos = clamp(pos);
}

bool scrollbar::isDragging() const { return knob_->isDragging(); }

bool scrollbar::handle(Event& e) {
    auto* local = dynamic_cast<LocalEvent*>(&e);
    if (!local) return false;
    if (knob_->area.contains(local->pos.x, local->pos.y) && knob_->handle(e)) return true;
    if (!dynamic_cast<MouseDown*>(&e)) return false;
    // A click on the track pages toward it.
    const int c = horizontal ? local->pos.x - area.x : local->pos.y - area.y;
    pos = clamp(pos);
    const double r = ratio ? ratio() : 1.0;
    const float page = static_cast<float>(trackLength() / (r > 0 ? r : 1.0));
    if (c < pos)
        pos -= page;
    else
        pos += page;
    pos = clamp(pos);
    scrolled();
    return true;
}

void scrollbar::draw(SDL_Surface* target) {
    gui::style& st = style();
    const float unclamped = pos;
    pos = clamp(pos);
    rect k = area;
    const int offset = static_cast<int>(pos);
    if (horizontal) {
        k.x += offset;
        k.w = knobLength();
    } else {
        k.y += offset;
        k.h = knobLength();
    }
    k = shrunk(k, 2);
    if (changed()) st.panel(target, area, st.textColour, st.backColour, false);
    knob_->area = k;
    knob_->draw(target);
    if (isDragging()) pos = unclamped;
    clearChanged();
}

coord scrollbar::requestedSize() {
    int u = style().unitSize;
    return {u, u};
}

// ---- fixedscrollbox ----

fixedscrollbox::fixedscrollbox(int itemHeight, Provider provider)
    : dgContainerWidget(std::move(provider)), itemHeight(itemHeight) {
    bar_ = std::make_shared<scrollbar>(
        [this] {
            if (area.h <= 0) return 1.0;
            return std::max(1.0, double(this->itemHeight) * count_ / area.h);
        },
        [this] { setChanged(); }, false);
}

void fixedscrollbox::select(int i) {
    if (i == selected_) return;
    selected_ = i;
    selectionShown_ = false;
}

void fixedscrollbox::setChanged() {
    widget::setChanged();
    bar_->setChanged();
}

void fixedscrollbox::clearChanged() {
    widget::clearChanged();
    bar_->clearChanged();
}

void fixedscrollbox::setStyle(std::shared_ptr<gui::style> s) {
    bar_->setStyle(s);
    widget::setStyle(std::move(s));
}

void fixedscrollbox::setHover(const WidgetPtr& w) {
    compositeWidget::setHover(w);
    hoverKeep_ = w;
}

void fixedscrollbox::draw(SDL_Surface* target) {
    gui::style& st = style();
    const rect a = area;
    count_ = static_cast<int>(fetch(0, 0).size());
    const int n = count_;

    bar_->area = rect(a.x + a.w - st.unitSize, a.y, st.unitSize, a.h);
    if (!selectionShown_) {
        bar_->show(double(selected_) * itemHeight, itemHeight);
        selectionShown_ = true;
    }
    // The background goes where neither the bar nor an item will be drawn.
    const int itemWidth = a.w - st.unitSize;
    const bool noItems = itemHeight <= 0 || a.h <= 0 || itemWidth <= 0;
    st.fill(target, noItems ? a : bar_->area, st.backColour);
    bar_->setChanged();
    bar_->draw(target);
    offset_ = static_cast<int>(bar_->fraction() * (double(n) * itemHeight - a.h));
    if (noItems) {
        held_.clear();
        clearChanged();
        return;
    }
    sdloo::Surface surface;
    try {
        surface = sdloo::makeSurface(a.w, itemHeight);
    } catch (const std::exception& e) {
        throw tools::Failure(e.what());
    }
    const Uint32 back = SDL_MapRGBA(surface->format, st.backColour.red, st.backColour.green,
                                    st.backColour.blue, st.backColour.alpha);

    int i = 0, top = -offset_;
    while (top < -itemHeight && i < n) {
        top += itemHeight;
        ++i;
    }
    const WidgetList items = fetch(i, i + a.h / itemHeight + 1);
    int covered = a.y;  // items are drawn down to here
    for (int j = i; j < static_cast<int>(items.size()); ++j, top += itemHeight) {
        const WidgetPtr& item = items[j];
        SDL_FillRect(surface.get(), nullptr, back);
        if (item) item->area = rect(1, 1, itemWidth - 2, itemHeight - 2);
        rect src(0, 0, itemWidth, itemHeight);
        if (top < 0) {
            src.y = -top;
            src.h += top;
        }
        rect dst(a.x, a.y + std::max(top, 0), src.w, src.h);
        if (dst.y >= a.y + a.h) break;
        if (dst.y + dst.h > a.y + a.h) {
            const int cut = dst.y + dst.h - (a.y + a.h);
            dst.h -= cut;
            src.h -= cut;
        }
        covered = dst.y + dst.h;
        if (!item) {
            st.fill(target, dst, st.backColour);
            continue;
        }
        item->setChanged();
        item->draw(surface.get());
        sdloo::blit(surface.get(), &src, target, dst);
    }
    st.fill(target, rect(a.x, covered, itemWidth, a.y + a.h - covered), st.backColour);
    clearChanged();
}

bool fixedscrollbox::handle(Event& e) {
    auto* local = dynamic_cast<LocalEvent*>(&e);
    const int n = count_;
    if (auto* scroll = dynamic_cast<MouseScroll*>(&e)) {
        const float step = static_cast<float>(double(area.h) * itemHeight * 0.3 / (n + 1));
        float p = bar_->clamp(bar_->pos);
        p += scroll->up ? -step : step;
        bar_->pos = bar_->clamp(p);
        requestRepaint();
        return true;
    }
    if (local && itemHeight > 0) {
        const coord saved = local->pos;
        const int cx = local->pos.x - area.x;
        const int cy = local->pos.y + offset_ - area.y;
        const int index = cy / itemHeight;
        if (cy >= 0 && index < n) {
            // The items of the last draw, where they were drawn; others anew.
            WidgetPtr item = index < static_cast<int>(held_.size()) ? held_[index] : nullptr;
            if (!item) {
                const WidgetList& fresh = fetch(index, index);
                if (index < static_cast<int>(fresh.size())) item = fresh[index];
            }
            local->pos = coord(cx, cy - index * itemHeight);
            setHover(item);
            if (item && item->handle(e)) return true;
            local->pos = saved;
        }
    }
    if (dynamic_cast<MouseLeft*>(&e)) setHover(nullptr);
    if (local && bar_->area.contains(local->pos.x, local->pos.y)) return bar_->handle(e);
    return false;
}

}  // namespace gui
