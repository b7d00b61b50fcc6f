#pragma once
// gui.leaves: widgets without children of their own in the tree: texts,
// buttons, frames, progress bars and plain colour. requestedSize is advisory;
// texts and buttons know it only after a draw.
//
// Threads: drawn and handled on the loop's thread; another thread changes a
// widget in the tree only under the GUI lock (gui/sdl_bridge.hpp); the
// bindable values (labels, progress) may be written from any thread.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gui/base.hpp"
#include "gui/bindable.hpp"

namespace gui {

// A label, centred in its area and cropped evenly on both sides.
class Text : public Widget {
public:
    explicit Text(std::string label) : label(std::move(label)) {}
    Text(BoundValue<std::string> label, bool frameOnHover)
        : label(std::move(label)), frameOnHover(frameOnHover) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    Coord requestedSize() override { return lastSize; }
    std::string toString() const override;

    BoundValue<std::string> label;
    bool frameOnHover = false;
    BoundValue<bool> hovered{false};
    Coord lastSize;

protected:
    void drawLabel(SDL_Surface* target);
};

// A text on the background colour.
class TextBox : public Text {
public:
    explicit TextBox(std::string label) : Text(std::move(label)) {}
    void draw(SDL_Surface* target) override;
};

// Parts of text in a line, each with its own font (index into the style's
// fonts), colour and style flags; a drawn bold. Its requested size is what
// the owner sets (0, 0 at first).
class FormattedText : public Widget {
public:
    FormattedText(std::vector<BoundValue<std::string>> parts, bool centred = false,
                  WidgetPtr background = nullptr);
    void draw(SDL_Surface* target) override;
    bool handle(Event&) override { return false; }
    Coord requestedSize() override { return size_; }
    void setRequestedSize(Coord s) { size_ = s; }

    std::vector<BoundValue<std::string>> parts;
    std::vector<sdloo::FontSettings> settings;
    std::vector<Rgba> colours;
    std::vector<int> fonts;
    bool centred;
    WidgetPtr background;

private:
    Coord size_;
};

// A glossy button around a child; a click is the release of the mouse button.
class Button : public Widget {
public:
    Button(WidgetPtr child, bool highlighted, std::function<void()> onClick,
           bool openBottom = false, std::function<void(bool)> onHover = {})
        : child(std::move(child)),
          onClick(std::move(onClick)),
          onHover(std::move(onHover)),
          highlighted(highlighted),
          openBottom(openBottom) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event& e) override;
    Coord requestedSize() override { return lastSize; }
    std::string toString() const override;

    WidgetPtr child;
    std::function<void()> onClick;
    std::function<void(bool)> onHover;
    bool highlighted;
    bool openBottom;
    Coord lastSize;
};

// A panel around a child; events do not reach the child.
class Frame : public Widget {
public:
    explicit Frame(WidgetPtr child) : child(std::move(child)) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event&) override { return false; }
    Coord requestedSize() override { return lastSize; }

    WidgetPtr child;
    Coord lastSize;
};

// Fills progress (0 to 1) of its width.
class ProgressBar : public Widget {
public:
    ProgressBar() = default;
    void draw(SDL_Surface* target) override;
    bool handle(Event&) override { return false; }
    Coord requestedSize() override { return {4, 4}; }

    BoundValue<float> progress{0.0f};
    std::function<Rgba()> colourOf;
};

// A plain colour. Components must be exactly red, green and blue; otherwise
// std::runtime_error "Error: color components are " + their count.
class ColoredPane : public Widget {
public:
    explicit ColoredPane(std::vector<int> components);
    ColoredPane(std::uint8_t r, std::uint8_t g, std::uint8_t b)
        : ColoredPane(std::vector<int>{r, g, b}) {}
    explicit ColoredPane(Rgba c) : ColoredPane(std::vector<int>{c.red, c.green, c.blue}) {}
    void draw(SDL_Surface* target) override;
    bool handle(Event&) override { return false; }
    Coord requestedSize() override { return {0, 0}; }

    std::vector<std::uint8_t> color;
};

}  // namespace gui
