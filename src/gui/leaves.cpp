// Leaf widgets: texts, buttons, frames, progress bars and plain colour.
#include "gui/leaves.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tools/failure.hpp"

namespace gui {

namespace {

// The rendering of a text, or of the fallback word in the error colour when
// SDL_ttf renders nothing. Owned by the font's cache for this repaint.
SDL_Surface* renderOrFallback(gui::style& st, sdloo::TTF_FontClass& font, const std::string& t,
                              rgba colour, sdloo::fontsettings settings = {}) {
    if (SDL_Surface* r = font.renderCached(t, colour.toSDLColor(), settings)) return r;
    return st.font->renderCached(t.empty() ? "Empty" : "Err", st.errorColour.toSDLColor());
}

}  // namespace

// ---- text, textbox ----

void text::drawLabel(SDL_Surface* target) {
    gui::style& st = style();
    SDL_Surface* r = renderOrFallback(st, *st.font, label.get(), st.textColour);
    if (r) {
        lastSize = coord(r->w, r->h);
        rect dst(area.x + (area.w - r->w) / 2, area.y + (area.h - r->h) / 2, r->w, r->h);
        rect src(0, 0, r->w, r->h);
        // Too narrow (low): crop one pixel from each side until it fits.
        while (area.w < dst.w) {
            dst.w -= 2;
            src.w -= 2;
            dst.x += 1;
            src.x += 1;
        }
        while (area.h < dst.h) {
            dst.h -= 2;
            src.h -= 2;
            dst.y += 1;
            src.y += 1;
        }
        if (dst.w > 0 && dst.h > 0) sdloo::blit(r, &src, target, dst);
    }
    if (frameOnHover && hovered.get()) st.outline(target, area, st.textColour);
    clearChanged();
}

void text::draw(SDL_Surface* target) { drawLabel(target); }

bool text::handle(Event& e) {
    bool entered = dynamic_cast<MouseEntered*>(&e) != nullptr;
    if (!entered && !dynamic_cast<MouseLeft*>(&e)) return false;
    hovered.set(entered);
    setChanged();
    requestRepaint();
    return true;
}

std::string text::toString() const {
    return "widgets.text{" + const_cast<dgValue<std::string>&>(label).get() + "}";
}

void textbox::draw(SDL_Surface* target) {
    gui::style& st = style();
    st.fill(target, area, st.backColour);
    drawLabel(target);
}

// ---- formattedText ----

formattedText::formattedText(std::vector<dgValue<std::string>> p, bool centred,
                             WidgetPtr background)
    : parts(std::move(p)),
      settings(parts.size()),
      colours(parts.size(), rgba(0, 0, 0, 0)),
      fonts(parts.size(), 0),
      centred(centred),
      background(std::move(background)) {}

void formattedText::draw(SDL_Surface* target) {
    const std::size_t n = parts.size();
    tools::check(settings.size() == n && colours.size() == n && fonts.size() == n,
                 "formattedText: parts, settings, colours and fonts differ in length");
    gui::style& st = style();
    if (background) {
        background->area = area;
        background->draw(target);
    }
    std::vector<SDL_Surface*> renderings(n, nullptr);
    int width = 0, height = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sdloo::fontsettings look = settings[i];
        look.bold = false;  // drawn bold below: the renderer's bold is wider
        renderings[i] =
            renderOrFallback(st, st.fontByIndex(fonts[i]), parts[i].get(), colours[i], look);
        if (!renderings[i]) continue;
        width += renderings[i]->w;
        height = std::max(height, renderings[i]->h);
    }
    int x = centred ? area.x + (area.w - width) / 2 : area.x;
    const int y = area.y + (area.h - height) / 2;
    const int right = area.x + area.w, bottom = area.y + area.h;
    for (std::size_t i = 0; i < n; ++i) {
        SDL_Surface* r = renderings[i];
        if (!r) continue;
        if (x >= right) break;
        rect dst(x, y, r->w, r->h), src(0, 0, r->w, r->h);
        if (dst.x + dst.w > right) {
            const int cut = dst.x + dst.w - right;
            dst.w -= cut;
            src.w -= cut;
        }
        if (dst.x < area.x) {
            const int cut = area.x - dst.x;
            dst.x += cut;
            dst.w -= cut;
            src.x += cut;
            src.w -= cut;
        }
        // Kept inside the area vertically too (no blit past the target's edge).
        if (dst.y < area.y) {
            const int cut = area.y - dst.y;
            dst.y += cut;
            dst.h -= cut;
            src.y += cut;
            src.h -= cut;
        }
        if (dst.y + dst.h > bottom) {
            const int cut = dst.y + dst.h - bottom;
            dst.h -= cut;
            src.h -= cut;
        }
        if (dst.w > 0 && dst.h > 0) {
            sdloo::blit(r, &src, target, dst);
            if (settings[i].bold) {
                rect twice = dst, from = src;
                twice.x += 1;
                if (twice.x + twice.w > right) {
                    twice.w -= 1;
                    from.w -= 1;
                }
                if (twice.w > 0) sdloo::blit(r, &from, target, twice);
            }
        }
        x += r->w;
    }
    clearChanged();
}

// ---- button, frame ----

void button::draw(SDL_Surface* target) {
    gui::style& st = style();
    st.panel(target, area, st.textColour, highlighted ? st.faceColour : st.backColour, openBottom);
    if (child) {
        rect inner = area;
        if (inner.w > 1 && inner.h > 1) inner.shrink(1);
        if (std::int64_t{inner.w} * inner.h > 1) {
            child->area = inner;
            child->draw(target);
        }
        lastSize = child->requestedSize();
    }
    clearChanged();
}

bool button::handle(Event& e) {
    if (dynamic_cast<MouseUp*>(&e)) {
        if (onClick) onClick();
        return true;
    }
    const bool entered = dynamic_cast<MouseEntered*>(&e) != nullptr;
    if (entered || dynamic_cast<MouseLeft*>(&e)) {
        if (onHover) onHover(entered);
        return true;
    }
    return false;
}

std::string button::toString() const {
    return "widgets.button(" + (child ? child->toString() : std::string("(null)")) + ")";
}

void frame::draw(SDL_Surface* target) {
    gui::style& st = style();
    st.panel(target, area, st.textColour, st.faceColour, false);
    if (child) {
        child->area = shrunk(area, 3);
        child->draw(target);
        lastSize = child->requestedSize() + coord(3, 3);
    }
    clearChanged();
}

// ---- ProgressBar, ColoredPane ----

void ProgressBar::draw(SDL_Surface* target) {
    gui::style& st = style();
    float p = progress.get();
    if (!(p >= 0.0f)) p = 0.0f;  // also not-a-number
    p = std::min(p, 1.0f);
    rect done = area;
    done.w = static_cast<int>(area.w * p);
    st.fill(target, done, colourOf ? colourOf() : rgba(128, 128, 192, 255));
    clearChanged();
}

ColoredPane::ColoredPane(std::vector<int> components) {
    if (components.size() != 3)
        throw std::runtime_error("Error: color components are " +
                                 std::to_string(components.size()));
    for (int c : components) color.push_back(static_cast<std::uint8_t>(c));
}

void ColoredPane::draw(SDL_Surface* target) {
    SDL_Rect r = area.toSDLRect();
    if (area.w > 0 && area.h > 0)
        SDL_FillRect(target, &r, SDL_MapRGBA(target->format, color[0], color[1], color[2], 0));
    clearChanged();
}

}  // namespace gui
