// The image view.
#include "gui/showsurf.hpp"

#include <algorithm>
#include <cmath>

namespace gui {

showsurf::showsurf(sdloo::Surface surface, std::function<bool()> centre)
    : centre(std::move(centre)), surface_(std::move(surface)) {}

void showsurf::release() {
    if (!surface_) return;
    if (onLoopThread()) {
        surface_.reset();
    } else {
        // Freed by the loop's thread, never while it may be drawing it.
        SDL_Surface* s = surface_.release();
        retire(std::shared_ptr<SDL_Surface>(s, sdloo::SurfaceFree{}));
    }
}

double showsurf::widthRatio() const {
    return view.w > 0 ? double(image.w) / view.w : std::max(1.0, double(image.w));
}

double showsurf::heightRatio() const {
    return view.h > 0 ? double(image.h) / view.h : std::max(1.0, double(image.h));
}

std::shared_ptr<scrollbar> showsurf::makeBar(bool horizontal) {
    auto bar = std::make_shared<scrollbar>(
        horizontal ? std::function<double()>([this] { return widthRatio(); })
                   : std::function<double()>([this] { return heightRatio(); }),
        [this] { setChanged(); }, horizontal);
    if (ownStyle()) bar->setStyle(ownStyle());
    return bar;
}

void showsurf::setStyle(std::shared_ptr<gui::style> s) {
    if (vbar_) vbar_->setStyle(s);
    if (hbar_) hbar_->setStyle(s);
    widget::setStyle(std::move(s));
}

coord showsurf::requestedSize() {
    int u = style().unitSize;
    return {2 * u, 2 * u};
}

void showsurf::scrollVertical(double f) {
    if (!vbar_) return;
    float p = vbar_->clamp(vbar_->pos);
    vbar_->pos = vbar_->clamp(static_cast<float>(p + f * vbar_->knobLength()));
}

void showsurf::scrollHorizontal(double f) {
    if (!hbar_) return;
    float p = hbar_->clamp(hbar_->pos);
    hbar_->pos = hbar_->clamp(static_cast<float>(p + f * hbar_->knobLength()));
}

void showsurf::draw(SDL_Surface* target) {
    gui::style& st = style();
    const int u = st.unitSize;
    const rect a = area;
    view = a;
    if (!surface_) {
        st.fill(target, a, st.backColour);
        image = rect();
        vbar_.reset();
        hbar_.reset();
        clearChanged();
        return;
    }
    image = rect(0, 0, surface_->w, surface_->h);

    // Each bar takes unitSize from the other side of the view, so a bar may
    // make the other one needed.
    bool wide = false, tall = false;
    if (view.w < image.w) {
        wide = true;
        view.h -= u;
        if (view.h < image.h) {
            tall = true;
            view.w -= u;
        }
    } else if (view.h < image.h) {
        tall = true;
        view.w -= u;
        if (view.w < image.w) {
            wide = true;
            view.h -= u;
        }
    }
    if (wide && !hbar_) hbar_ = makeBar(true);
    if (!wide) hbar_.reset();
    if (tall && !vbar_) vbar_ = makeBar(false);
    if (!tall) vbar_.reset();
    if (hbar_) hbar_->area = rect(a.x, a.y + a.h - u, a.w - u, u);
    if (vbar_) vbar_->area = rect(a.x + a.w - u, a.y, u, a.h - u);

    const int vw = std::min(image.w, view.w), vh = std::min(image.h, view.h);
    const bool centred = centre && centre();
    const int srcX = hbar_ ? static_cast<int>(hbar_->fraction() * (image.w - view.w)) : 0;
    const int srcY = vbar_ ? static_cast<int>(vbar_->fraction() * (image.h - view.h)) : 0;
    // Centred within the view, so the image never covers a bar.
    const int offX = !hbar_ && centred ? (view.w - vw) / 2 : 0;
    const int offY = !vbar_ && centred ? (view.h - vh) / 2 : 0;
    const rect shown(a.x + offX, a.y + offY, std::max(vw, 0), std::max(vh, 0));

    // The background where the image does not cover it (all of it under an
    // image that is not opaque).
    if (surface_->flags & (SDL_SRCALPHA | SDL_SRCCOLORKEY) || shown.w == 0 || shown.h == 0) {
        st.fill(target, a, st.backColour);
    } else {
        const int right = a.x + a.w, bottom = a.y + a.h;
        const int shownRight = shown.x + shown.w, shownBottom = shown.y + shown.h;
        st.fill(target, rect(a.x, a.y, a.w, shown.y - a.y), st.backColour);
        st.fill(target, rect(a.x, shownBottom, a.w, bottom - shownBottom), st.backColour);
        st.fill(target, rect(a.x, shown.y, shown.x - a.x, shown.h), st.backColour);
        st.fill(target, rect(shownRight, shown.y, right - shownRight, shown.h), st.backColour);
    }
    for (const auto& bar : {hbar_, vbar_})
        if (bar) {
            bar->setChanged();
            bar->draw(target);
        }
    if (shown.w > 0 && shown.h > 0) {
        rect src(srcX, srcY, vw, vh);
        sdloo::blit(surface_.get(), &src, target, shown);
    }
    clearChanged();
}

bool showsurf::handle(Event& e) {
    if (auto* scroll = dynamic_cast<MouseScroll*>(&e)) {
        scrollVertical(scroll->up ? -0.1 : 0.1);
        setChanged();
        requestRepaint();
        return true;
    }
    auto* local = dynamic_cast<LocalEvent*>(&e);
    if (!local) return false;
    // Copies: a handler may cause the bars to be dropped.
    for (std::shared_ptr<scrollbar> bar : {vbar_, hbar_})
        if (bar && bar->area.contains(local->pos.x, local->pos.y) && bar->handle(e)) return true;
    return false;
}

}  // namespace gui
