#pragma once
// gui.composites: widgets made of other widgets, and the two lazy wrappers.
//
// Containers give every child its area inside their own draw, right before
// the child draws, and hand positioned events to the first child whose area
// contains the position (that child becomes the hover child, held weakly).
// Empty entries (null) in child lists are allowed and skipped. delay makes its
// child once, callback at every draw.
//
// Threads: drawn and handled on the loop's thread; another thread changes a
// widget in the tree only under the GUI lock (gui/sdl_bridge.hpp).
#include <functional>
#include <memory>

#include "gui/base.hpp"

namespace gui {

class CompositeWidget : public Widget {
public:
    virtual const WidgetList& children() = 0;
    // The old hover child gets MouseLeft, then w gets MouseEntered.
    virtual void setHover(const WidgetPtr& w);
    WidgetPtr hover() const { return hover_.lock(); }

    void setStyle(std::shared_ptr<gui::Style> s) override;
    void setChanged() override;
    void clearChanged() override;
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;

protected:
    std::weak_ptr<Widget> hover_;
};

class ContainerWidget : public CompositeWidget {
public:
    ContainerWidget() = default;
    explicit ContainerWidget(WidgetList children) : list_(std::move(children)) {}

    const WidgetList& children() override { return list_; }
    void setChildren(WidgetList list) { list_ = std::move(list); }
    void add(WidgetPtr w) { list_.push_back(std::move(w)); }
    void addAll(const WidgetList& list) { list_.insert(list_.end(), list.begin(), list.end()); }
    // Removes w; the last entry moves into its place.
    void remove(const WidgetPtr& w);

protected:
    WidgetList list_;
};

// Asked for (from, to): a list as long as the total item count whose entries
// from..to (both included) are the items; other entries may be empty.
using Provider = std::function<WidgetList(int from, int to)>;

class ProviderWidget : public CompositeWidget {
public:
    explicit ProviderWidget(Provider provider) : provider_(std::move(provider)) {}
    // Asks the provider for (0, 0).
    const WidgetList& children() override { return fetch(0, 0); }
    const WidgetList& fetch(int from, int to);

protected:
    Provider provider_;
    WidgetList held_;
};

using Maker = std::function<WidgetPtr()>;

// Makes its child once, on first use, and forwards to it.
class LazyWidget : public Widget {
public:
    explicit LazyWidget(Maker maker) : maker_(std::move(maker)) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override { return child()->handle(e); }
    Coord requestedSize() override { return child()->requestedSize(); }
    const WidgetPtr& child();

private:
    Maker maker_;
    WidgetPtr child_;
};

// Makes its child anew on every draw (the tree below is rebuilt from the
// application's state at every repaint). Events go to the child of the last
// draw; before the first draw they are refused with tools::Failure.
class RebuiltWidget : public Widget {
public:
    explicit RebuiltWidget(Maker maker) : maker_(std::move(maker)) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    Coord requestedSize() override;
    void setChanged() override;
    void clearChanged() override;
    const WidgetPtr& child() const { return child_; }

private:
    Maker maker_;
    WidgetPtr child_;
};

// Draws and forwards everything to its child, and first tells its owner where
// the pointer moved (window pixels) and that it left.
class PointerWatch : public Widget {
public:
    PointerWatch(WidgetPtr child, std::function<void(Coord)> moved, std::function<void()> left)
        : child_(std::move(child)), moved_(std::move(moved)), left_(std::move(left)) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    Coord requestedSize() override { return child_->requestedSize(); }
    void setChanged() override;
    void clearChanged() override;
    void setStyle(std::shared_ptr<gui::Style> s) override;

private:
    WidgetPtr child_;
    std::function<void(Coord)> moved_;
    std::function<void()> left_;
};

}  // namespace gui
