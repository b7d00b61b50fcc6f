#pragma once
// gui.showsurf: the image view, an owned surface in scroll bars.
//
// Threads: drawn and handled on the loop's thread; another thread changes a
// widget in the tree only under the GUI lock (gui/sdl_bridge.hpp); the
// surface is freed on the loop's thread (release, or with the widget through
// gui::retire).
#include <functional>
#include <memory>

#include "gui/base.hpp"
#include "gui/scrolling.hpp"

namespace gui {

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
    void release();
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

}  // namespace gui
