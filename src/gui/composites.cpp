// Composite widgets and the two lazy wrappers.
#include "gui/composites.hpp"

#include <algorithm>

#include "tools/failure.hpp"

namespace gui {

// ---- CompositeWidget ----

void CompositeWidget::setHover(const WidgetPtr& w) {
    WidgetPtr old = hover_.lock();
    if (old == w) return;
    if (old) {
        MouseLeft left;
        old->handle(left);
    }
    if (w) {
        MouseEntered entered;
        w->handle(entered);
    }
    hover_ = w;
}

void CompositeWidget::setStyle(std::shared_ptr<gui::Style> s) {
    for (const WidgetPtr& child : WidgetList(children()))
        if (child) child->setStyle(s);
    Widget::setStyle(std::move(s));
}

void CompositeWidget::setChanged() {
    Widget::setChanged();
    for (const WidgetPtr& child : WidgetList(children()))
        if (child) child->setChanged();
}

void CompositeWidget::clearChanged() {
    Widget::clearChanged();
    for (const WidgetPtr& child : WidgetList(children()))
        if (child) child->clearChanged();
}

void CompositeWidget::draw(SDL_Surface* target) {
    for (const WidgetPtr& child : WidgetList(children()))
        if (child) child->draw(target);
    clearChanged();
}

bool CompositeWidget::handle(Event& e) {
    if (dynamic_cast<MouseLeft*>(&e)) setHover(nullptr);
    if (auto* local = dynamic_cast<LocalEvent*>(&e)) {
        WidgetPtr target;
        for (const WidgetPtr& child : children())
            if (child && child->area.contains(local->pos.x, local->pos.y)) {
                target = child;
                break;
            }
        if (target) {
            setHover(target);
            target->handle(e);
            return true;
        }
    }
    return false;
}

// ---- ContainerWidget, ProviderWidget ----

void ContainerWidget::remove(const WidgetPtr& w) {
    auto it = std::find(list_.begin(), list_.end(), w);
    if (it == list_.end()) return;
    *it = std::move(list_.back());
    list_.pop_back();
}

const WidgetList& ProviderWidget::fetch(int from, int to) {
    held_ = provider_(from, to);
    return held_;
}

// ---- LazyWidget, RebuiltWidget ----

const WidgetPtr& LazyWidget::child() {
    if (!child_) {
        child_ = maker_();
        tools::check(child_ != nullptr, "delay: the maker made no widget");
    }
    return child_;
}

void LazyWidget::draw(SDL_Surface* target) {
    const WidgetPtr& c = child();
    c->area = area;
    c->draw(target);
    clearChanged();
}

void RebuiltWidget::draw(SDL_Surface* target) {
    WidgetPtr made = maker_();
    tools::check(made != nullptr, "callback: the maker made no widget");
    child_ = std::move(made);
    child_->area = area;
    child_->draw(target);
}

bool RebuiltWidget::handle(Event& e) {
    tools::check(child_ != nullptr, "callback: no widget before the first draw");
    WidgetPtr c = child_;  // a handler may cause a redraw that replaces it
    return c->handle(e);
}

Coord RebuiltWidget::requestedSize() {
    if (!child_) {
        child_ = maker_();
        tools::check(child_ != nullptr, "callback: the maker made no widget");
    }
    return child_->requestedSize();
}

void RebuiltWidget::setChanged() {
    Widget::setChanged();
    if (child_) child_->setChanged();
}

void RebuiltWidget::clearChanged() {
    Widget::clearChanged();
    if (child_) child_->clearChanged();
}

// ---- PointerWatch ----

void PointerWatch::draw(SDL_Surface* target) {
    child_->area = area;
    child_->draw(target);
    Widget::clearChanged();
}

bool PointerWatch::handle(Event& e) {
    if (dynamic_cast<MouseLeft*>(&e) && left_) left_();
    if (auto* moved = dynamic_cast<MouseMoved*>(&e); moved && moved_) moved_(moved->pos);
    return child_->handle(e);
}

void PointerWatch::setChanged() {
    Widget::setChanged();
    child_->setChanged();
}

void PointerWatch::clearChanged() {
    Widget::clearChanged();
    child_->clearChanged();
}

void PointerWatch::setStyle(std::shared_ptr<gui::Style> s) {
    child_->setStyle(s);
    Widget::setStyle(std::move(s));
}

}  // namespace gui
