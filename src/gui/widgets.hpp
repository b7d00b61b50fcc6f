#pragma once
// gui.widgets: the widget set.
//
// Containers give every child its area inside their own draw, right before
// the child draws, and hand positioned events to the first child whose area
// contains the position (that child becomes the hover child, held weakly).
// Leaf widgets show text, buttons, frames, the image view, progress bars and
// plain colour. Empty entries (null) in child lists are allowed and skipped.
// requestedSize is advisory; several widgets know it only after a draw.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gui/base.hpp"

namespace gui {

// The area shrunk by m on every side, or as far as it allows: a side never
// gets a negative length.
rect shrunk(rect r, int m);

// ---- bindable values ----

// A value that may be bound to the application: reading calls the getter
// (when there is one) and stores its result; writing goes through the setter
// (when there is one), which returns what is stored. The stored value is
// guarded, so a worker may write while the loop reads.
template <class T>
class dgValue {
public:
    dgValue() = default;
    template <class U>
    requires std::constructible_from<T, U> dgValue(U&& v) : value_(std::forward<U>(v)) {}
    dgValue(const dgValue& other) : getter(other.getter), setter(other.setter) {
        std::lock_guard<std::mutex> hold(other.lock_);
        value_ = other.value_;
    }
    dgValue& operator=(const dgValue& other) {
        if (this == &other) return *this;
        T v = other.stored();
        getter = other.getter;
        setter = other.setter;
        std::lock_guard<std::mutex> hold(lock_);
        value_ = std::move(v);
        return *this;
    }
    static dgValue bound(std::function<T()> get, std::function<T(T)> set = {}) {
        dgValue v;
        v.getter = std::move(get);
        v.setter = std::move(set);
        return v;
    }

    T get() {
        if (getter) {
            T v = getter();
            std::lock_guard<std::mutex> hold(lock_);
            value_ = v;
            return v;
        }
        return stored();
    }
    void set(T v) {
        if (setter) v = setter(std::move(v));
        std::lock_guard<std::mutex> hold(lock_);
        value_ = std::move(v);
    }
    T stored() const {
        std::lock_guard<std::mutex> hold(lock_);
        return value_;
    }

    std::function<T()> getter;
    std::function<T(T)> setter;

private:
    mutable std::mutex lock_;
    T value_{};
};

// ---- composites ----

class compositeWidget : public widget {
public:
    virtual const WidgetList& children() = 0;
    // The old hover child gets MouseLeft, then w gets MouseEntered.
    virtual void setHover(const WidgetPtr& w);
    WidgetPtr hover() const { return hover_.lock(); }

    void setStyle(std::shared_ptr<gui::style> s) override;
    void setChanged() override;
    void clearChanged() override;
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;

protected:
    std::weak_ptr<widget> hover_;
};

class containerWidget : public compositeWidget {
public:
    containerWidget() = default;
    explicit containerWidget(WidgetList children) : list_(std::move(children)) {}

    const WidgetList& children() override { return list_; }
    virtual void setChildren(WidgetList list) { list_ = std::move(list); }
    virtual void add(WidgetPtr w) { list_.push_back(std::move(w)); }
    virtual void addAll(const WidgetList& list) {
        list_.insert(list_.end(), list.begin(), list.end());
    }
    // Removes w; the last entry moves into its place.
    virtual void remove(const WidgetPtr& w);

protected:
    WidgetList list_;
};

// Asked for (from, to): a list as long as the total item count whose entries
// from..to (both included) are the items; other entries may be empty.
using Provider = std::function<WidgetList(int from, int to)>;

class dgContainerWidget : public compositeWidget {
public:
    explicit dgContainerWidget(Provider provider) : provider_(std::move(provider)) {}
    // Asks the provider for (0, 0).
    const WidgetList& children() override { return fetch(0, 0); }
    const WidgetList& fetch(int from, int to);

protected:
    Provider provider_;
    WidgetList held_;
};

using Maker = std::function<WidgetPtr()>;

// Makes its child once, on first use, and forwards to it.
class delay : public widget {
public:
    explicit delay(Maker maker) : maker_(std::move(maker)) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override { return child()->handle(e); }
    coord requestedSize() override { return child()->requestedSize(); }
    const WidgetPtr& child();

private:
    Maker maker_;
    WidgetPtr child_;
};

// Makes its child anew on every draw (the tree below is rebuilt from the
// application's state at every repaint). Events go to the child of the last
// draw; before the first draw they are refused with tools::Failure.
class callback : public widget {
public:
    explicit callback(Maker maker) : maker_(std::move(maker)) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    coord requestedSize() override;
    void setChanged() override;
    void clearChanged() override;
    const WidgetPtr& child() const { return child_; }

private:
    Maker maker_;
    WidgetPtr child_;
};

// ---- layouts ----

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

// ---- dragging and scrolling ----

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

// ---- leaves ----

// A label, centred in its area and cropped evenly on both sides.
class text : public widget {
public:
    explicit text(std::string label) : label(std::move(label)) {}
    text(dgValue<std::string> label, bool frameOnHover)
        : label(std::move(label)), frameOnHover(frameOnHover) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    coord requestedSize() override { return lastSize; }
    std::string toString() const override;

    dgValue<std::string> label;
    bool frameOnHover = false;
    dgValue<bool> hovered{false};
    coord lastSize;

protected:
    void drawLabel(SDL_Surface* target);
};

// A text on the background colour.
class textbox : public text {
public:
    explicit textbox(std::string label) : text(std::move(label)) {}
    void draw(SDL_Surface* target) override;
};

// Parts of text in a line, each with its own font (index into the style's
// fonts), colour and style flags; a drawn bold. Its requested size is what
// the owner sets (0, 0 at first).
class formattedText : public widget {
public:
    formattedText(std::vector<dgValue<std::string>> parts, bool centred = false,
                  WidgetPtr background = nullptr);
    void draw(SDL_Surface* target) override;
    bool handle(Event&) override { return false; }
    coord requestedSize() override { return size_; }
    void setRequestedSize(coord s) { size_ = s; }

    std::vector<dgValue<std::string>> parts;
    std::vector<sdloo::fontsettings> settings;
    std::vector<rgba> colours;
    std::vector<int> fonts;
    bool centred;
    WidgetPtr background;

private:
    coord size_;
};

// A glossy button around a child; a click is the release of the mouse button.
class button : public widget {
public:
    button(WidgetPtr child, bool highlighted, std::function<void()> onClick,
           bool openBottom = false, std::function<void(bool)> onHover = {})
        : child(std::move(child)),
          onClick(std::move(onClick)),
          onHover(std::move(onHover)),
          highlighted(highlighted),
          openBottom(openBottom) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    coord requestedSize() override { return lastSize; }
    std::string toString() const override;

    WidgetPtr child;
    std::function<void()> onClick;
    std::function<void(bool)> onHover;
    bool highlighted;
    bool openBottom;
    coord lastSize;
};

// A panel around a child; events do not reach the child.
class frame : public widget {
public:
    explicit frame(WidgetPtr child) : child(std::move(child)) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event&) override { return false; }
    coord requestedSize() override { return lastSize; }

    WidgetPtr child;
    coord lastSize;
};

// The image view: shows an owned surface, with scroll bars along the sides
// that do not fit; centres the image when centre() answers true.
class showsurf : public widget {
public:
    explicit showsurf(sdloo::Surface surface, std::function<bool()> centre = {});
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    coord requestedSize() override;
    void setStyle(std::shared_ptr<gui::style> s) override;

    // Frees the surface now (on the loop's thread); the view then shows nothing.
    virtual void release();
    double widthRatio() const;
    double heightRatio() const;
    // Moves the bar's knob by f knob lengths, when that bar exists.
    void scrollVertical(double f);
    void scrollHorizontal(double f);

    SDL_Surface* surface() const { return surface_.get(); }
    const std::shared_ptr<scrollbar>& vbar() const { return vbar_; }
    const std::shared_ptr<scrollbar>& hbar() const { return hbar_; }
    rect image;
    rect view;
    std::function<bool()> centre;

private:
    std::shared_ptr<scrollbar> makeBar(bool horizontal);

    sdloo::Surface surface_;
    std::shared_ptr<scrollbar> vbar_, hbar_;
};

// Fills progress (0 to 1) of its width.
class ProgressBar : public widget {
public:
    ProgressBar() = default;
    void draw(SDL_Surface* target) override;
    bool handle(Event&) override { return false; }
    coord requestedSize() override { return {4, 4}; }

    dgValue<float> progress{0.0f};
    std::function<rgba()> colourOf;
};

// A plain colour. Components must be exactly red, green and blue; otherwise
// std::runtime_error "Error: color components are " + their count.
class ColoredPane : public widget {
public:
    explicit ColoredPane(std::vector<int> components);
    ColoredPane(std::uint8_t r, std::uint8_t g, std::uint8_t b)
        : ColoredPane(std::vector<int>{r, g, b}) {}
    explicit ColoredPane(rgba c) : ColoredPane(std::vector<int>{c.red, c.green, c.blue}) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event&) override { return false; }
    coord requestedSize() override { return {0, 0}; }

    std::vector<std::uint8_t> color;
};

}  // namespace gui
