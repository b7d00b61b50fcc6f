// Composite widgets and the two lazy wrappers.
#include "gui/composites.hpp"

#include <algorithm>

#include "tools/failure.hpp"

namespace gui {

// ---- compositeWidget ----

void compositeWidget::setHover(const WidgetPtr& w) {
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

void compositeWidget::setStyle(std::shared_ptr<gui::style> s) {
    for (const WidgetPtr& child : WidgetList(children()))
        if (child) child->setStyle(s);
    widget::setStyle(std::move(s));
}

void compositeWidget::setChanged() {
    widget::setChanged();
    for (const WidgetPtr& child : WidgetList(children()))
        if (child) child->setChanged();
}

void compositeWidget::clearChanged() {
    widget::clearChanged();
    for (const WidgetPtr& child : WidgetList(children()))
        if (child) child->clearChanged();
}

void compositeWidget::draw(SDL_Surface* target) {
    for (const WidgetPtr& child : WidgetList(children()))
        if (child) child->draw(target);
    clearChanged();
}

bool compositeWidget::handle(Event& e) {
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

// ---- containerWidget, dgContainerWidget ----

void containerWidget::remove(const WidgetPtr& w) {
    auto it = std::find(list_.begin(), list_.end(), w);
    if (it == list_.end()) return;
    *it = std::move(list_.back());
    list_.pop_back();
}

const WidgetList& dgContainerWidget::fetch(int from, int to) {
    held_ = provider_(from, to);
    return held_;
}

// ---- delay, callback ----

const WidgetPtr& delay::child() {
    if (!child_) {
        child_ = maker_();
        tools::check(child_ != nullptr, "delay: the maker made no widget");
    }
    return child_;
}

void delay::draw(SDL_Surface* target) {
    const WidgetPtr& c = child();
    c->area = area;
    c->draw(target);
    clearChanged();
}

void callback::draw(SDL_Surface* target) {
    WidgetPtr made = maker_();
    tools::check(made != nullptr, "callback: the maker made no widget");
    child_ = std::move(made);
    child_->area = area;
    child_->draw(target);
}

bool callback::handle(Event& e) {
    tools::check(child_ != nullptr, "callback: no widget before the first draw");
    WidgetPtr c = child_;  // a handler may cause a redraw that replaces it
    return c->handle(e);
}

coord callback::requestedSize() {
    if (!child_) {
        child_ = maker_();
        tools::check(child_ != nullptr, "callback: the maker made no widget");
    }
    return child_->requestedSize();
}

void callback::setChanged() {
    widget::setChanged();
    if (child_) child_->setChanged();
}

void callback::clearChanged() {
    widget::clearChanged();
    if (child_) child_->clearChanged();
}

}  // namespace gui
