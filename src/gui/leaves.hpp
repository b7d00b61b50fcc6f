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
