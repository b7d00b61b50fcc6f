#include "sdloo/video.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "tools/failure.hpp"

namespace sdloo {

namespace {

// One diagnostic line on standard output (not the log), written in one call.
void say(const std::string& line) {
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

template <class T>
T clampTo(std::int64_t v) {
    return static_cast<T>(
        std::clamp<std::int64_t>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

std::uint8_t truncByte(double v) { return static_cast<std::uint8_t>(std::trunc(v)); }

}  // namespace

// ---- rect ----

bool rect::contains(std::int32_t px, std::int32_t py) const {
    std::int64_t right = std::int64_t{x} + w, bottom = std::int64_t{y} + h;
    return x <= px && px <= right && y <= py && py <= bottom;
}

void rect::shrink(std::int32_t m) {
    if (!(m < w && m < h))
        throw tools::Failure("can't shrink a rectangle of " + std::to_string(w) + " x " +
                             std::to_string(h) + " by a margin of " + std::to_string(m));
    x += m;
    y += m;
    w -= 2 * m;
    h -= 2 * m;
}

SDL_Rect rect::toSDLRect() const {
    SDL_Rect r;
    r.x = clampTo<Sint16>(x);
    r.y = clampTo<Sint16>(y);
    r.w = clampTo<Uint16>(w);
    r.h = clampTo<Uint16>(h);
    return r;
}

// ---- rgba ----

std::uint8_t& rgba::operator[](std::size_t index) {
    switch (index) {
        case 0:
            return red;
        case 1:
            return green;
        case 2:
            return blue;
        case 3:
            return alpha;
    }
    throw std::out_of_range("rgba index " + std::to_string(index) + " out of range");
}

std::uint8_t rgba::operator[](std::size_t index) const { return const_cast<rgba&>(*this)[index]; }

SDL_Color rgba::toSDLColor() const {
    SDL_Color c;
    c.r = red;
    c.g = green;
    c.b = blue;
    c.unused = 0;
    return c;
}

rgba rgba::blend(const rgba& other, float f) const {
    double g = f;
    auto mix = [g](std::uint8_t own, std::uint8_t theirs) {
        return truncByte((1.0 - g) * own + g * theirs);
    };
    return rgba(mix(red, other.red), mix(green, other.green), mix(blue, other.blue), 0);
}

rgba& rgba::modulate(const rgba& other) {
    auto mod = [](std::uint8_t own, std::uint8_t by) {
        return truncByte((own / 255.0) * (by / 255.0) * 255.0);
    };
    red = mod(red, other.red);
    green = mod(green, other.green);
    blue = mod(blue, other.blue);
    return *this;
}

// ---- plane ----

int plane::each(const ColourVisitor& visit) {
    coord s = size();
    for (int x = 0; x < s.x; ++x)
        for (int y = 0; y < s.y; ++y) {
            rgba c = get({x, y});
            if (int r = visit(c)) return r;
            set({x, y}, c);
        }
    return 0;
}

int plane::each(const PixelVisitor& visit) {
    coord s = size();
    for (int x = 0; x < s.x; ++x)
        for (int y = 0; y < s.y; ++y) {
            rgba c = get({x, y});
            if (int r = visit(x, y, c)) return r;
            set({x, y}, c);
        }
    return 0;
}

// ---- SDL_Drawable ----

SDL_Drawable::SDL_Drawable(SDL_Surface* surface) : surface_(surface) {
    tools::check(surface_ != nullptr, "no surface to draw on");
    if (SDL_LockSurface(surface_) < 0)
        throw std::runtime_error(std::string("Can't lock a surface: ") + SDL_GetError());
}

SDL_Drawable::~SDL_Drawable() { SDL_UnlockSurface(surface_); }

coord SDL_Drawable::size() { return {surface_->w, surface_->h}; }

void SDL_Drawable::fill(rect area, rgba colour) {
    SDL_Rect r = area.toSDLRect();
    SDL_FillRect(
        surface_, &r,
        SDL_MapRGBA(surface_->format, colour.red, colour.green, colour.blue, colour.alpha));
}

void SDL_Drawable::flip() {
    SDL_UnlockSurface(surface_);
    SDL_Flip(surface_);
    SDL_LockSurface(surface_);
}

namespace {

// The pixel addresses, as integer arithmetic on the row length.
inline Uint8* address8(SDL_Surface* s, int x, int y) {
    return static_cast<Uint8*>(s->pixels) + std::ptrdiff_t{s->pitch} * y + x;
}
inline Uint8* address16(SDL_Surface* s, int x, int y) {
    return static_cast<Uint8*>(s->pixels) + 2 * (std::ptrdiff_t{s->pitch} * y / 2) +
           2 * std::ptrdiff_t{x};
}
inline Uint8* address32(SDL_Surface* s, int x, int y) {
    return static_cast<Uint8*>(s->pixels) + 4 * (std::ptrdiff_t{s->pitch} * y / 4) +
           4 * std::ptrdiff_t{x};
}

inline Uint32 mapped(SDL_Surface* s, rgba c) {
    return SDL_MapRGBA(s->format, c.red, c.green, c.blue, c.alpha);
}

inline rgba unmapped(SDL_Surface* s, Uint32 value) {
    rgba c;
    SDL_GetRGBA(value, s->format, &c.red, &c.green, &c.blue, &c.alpha);
    return c;
}

}  // namespace

void SDL_Drawable::putPixel8(int x, int y, rgba colour) {
    *address8(surface_, x, y) = static_cast<Uint8>(mapped(surface_, colour));
}

void SDL_Drawable::putPixel16(int x, int y, rgba colour) {
    *reinterpret_cast<Uint16*>(address16(surface_, x, y)) =
        static_cast<Uint16>(mapped(surface_, colour));
}

void SDL_Drawable::putPixel24(int, int, rgba) {
    throw std::runtime_error(
        "No support for alpha on 24bit yet ... you're fucked .. but srsly, you knew this when "
        "you chose 24bit.");
}

void SDL_Drawable::putPixel32(int x, int y, rgba colour) {
    *reinterpret_cast<Uint32*>(address32(surface_, x, y)) = mapped(surface_, colour);
}

rgba SDL_Drawable::getPixel8(int x, int y) { return unmapped(surface_, *address8(surface_, x, y)); }

rgba SDL_Drawable::getPixel16(int x, int y) {
    return unmapped(surface_, *reinterpret_cast<Uint16*>(address16(surface_, x, y)));
}

rgba SDL_Drawable::getPixel24(int, int) {
    throw std::runtime_error("Didn't I say you were fucked?");
}

rgba SDL_Drawable::getPixel32(int x, int y) {
    return unmapped(surface_, *reinterpret_cast<Uint32*>(address32(surface_, x, y)));
}

void SDL_Drawable::put(int x, int y, rgba colour) {
    if (x < 0 || y < 0 || x >= surface_->w || y >= surface_->h) {
        say("X is " + std::to_string(x) + ", Y is " + std::to_string(y) + " Size is [" +
            std::to_string(surface_->w) + ", " + std::to_string(surface_->h) + "]");
        return;
    }
    switch (surface_->format->BytesPerPixel) {
        case 1:
            return putPixel8(x, y, colour);
        case 2:
            return putPixel16(x, y, colour);
        case 3:
            return putPixel24(x, y, colour);
        case 4:
            return putPixel32(x, y, colour);
    }
    throw tools::Failure();
}

rgba SDL_Drawable::get(int x, int y) {
    switch (surface_->format->BytesPerPixel) {
        case 1:
            return getPixel8(x, y);
        case 2:
            return getPixel16(x, y);
        case 3:
            return getPixel24(x, y);
        case 4:
            return getPixel32(x, y);
    }
    throw tools::Failure();
}

// ---- surfaces ----

Surface makeSurface(int width, int height) {
    auto refuse = [&](const std::string& why) {
        return std::runtime_error("Can't create a surface of " + std::to_string(width) + " x " +
                                  std::to_string(height) + ": " + why);
    };
    if (width < 0 || height < 0) throw refuse("negative size");
    if (width > maxSurfaceWidth) throw refuse("wider than " + std::to_string(maxSurfaceWidth));
    // SDL allocates height * pitch bytes in an int.
    if (std::int64_t{height} * (std::int64_t{width} * 4 + 3) > INT_MAX) throw refuse("too large");
    Surface s(SDL_CreateRGBSurface(0x10000000 /* SDL_ANYFORMAT */, width, height, 32, 0, 0, 0, 0));
    if (!s) throw refuse(SDL_GetError());
    return s;
}

Surface surfaceFromRows(int width, int height, const RowFiller& fillRow) {
    Surface surface = makeSurface(width, height);
    SDL_Drawable locked(surface.get());
    const SDL_PixelFormat* f = surface->format;
    // SDL's default 32-bit layout stores the values as they are.
    const bool xrgb = f->Rmask == 0xFF0000 && f->Gmask == 0xFF00 && f->Bmask == 0xFF &&
                      f->Amask == 0 && f->BytesPerPixel == 4;
    auto* pixels = static_cast<Uint8*>(surface->pixels);
    const std::ptrdiff_t pitch = surface->pitch;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(pixels + 4 * (pitch * y / 4));
        fillRow(y, row);
        if (xrgb) continue;
        for (int x = 0; x < width; ++x)
            row[x] = SDL_MapRGB(f, (row[x] >> 16) & 0xFF, (row[x] >> 8) & 0xFF, row[x] & 0xFF);
    }
    return surface;
}

// ---- blit ----

namespace {

void diagnose(SDL_Surface* dst, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
    if (x + w > dst->w)
        say("Dest - x " + std::to_string(x) + ", w " + std::to_string(w) + ", dest.w " +
            std::to_string(dst->w));
    if (y + h > dst->h)
        say("Dest - y " + std::to_string(y) + ", h " + std::to_string(h) + ", dest.h " +
            std::to_string(dst->h));
}

// Clips in 64-bit arithmetic to both surfaces (the destination's clip
// rectangle), then blits with rectangles that fit SDL's 16-bit fields; a source
// offset beyond them goes through a view onto the source's pixels.
int clippedBlit(SDL_Surface* src, std::int64_t sx, std::int64_t sy, std::int64_t w, std::int64_t h,
                SDL_Surface* dst, std::int64_t dx, std::int64_t dy, rect* result) {
    // Source bounds.
    if (sx < 0) w += sx, dx -= sx, sx = 0;
    if (sy < 0) h += sy, dy -= sy, sy = 0;
    w = std::min<std::int64_t>(w, src->w - sx);
    h = std::min<std::int64_t>(h, src->h - sy);
    // Destination clip rectangle.
    const SDL_Rect& clip = dst->clip_rect;
    std::int64_t cx = clip.x, cy = clip.y, cw = clip.w, ch = clip.h;
    if (dx < cx) w -= cx - dx, sx += cx - dx, dx = cx;
    if (dy < cy) h -= cy - dy, sy += cy - dy, dy = cy;
    w = std::min(w, cx + cw - dx);
    h = std::min(h, cy + ch - dy);
    if (result) *result = rect(clampTo<std::int32_t>(dx), clampTo<std::int32_t>(dy), 0, 0);
    if (w <= 0 || h <= 0) return 0;
    if (result)
        *result = rect(static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy),
                       static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));

    SDL_Rect d;
    d.x = static_cast<Sint16>(dx);
    d.y = static_cast<Sint16>(dy);
    d.w = static_cast<Uint16>(w);
    d.h = static_cast<Uint16>(h);
    if (sx <= SHRT_MAX && sy <= SHRT_MAX) {
        SDL_Rect s;
        s.x = static_cast<Sint16>(sx);
        s.y = static_cast<Sint16>(sy);
        s.w = static_cast<Uint16>(w);
        s.h = static_cast<Uint16>(h);
        return SDL_UpperBlit(src, &s, dst, &d);
    }
    // A view onto the source's pixels starting at (sx, sy), with its look.
    if (SDL_LockSurface(src) < 0) return -1;
    struct Unlock {
        SDL_Surface* s;
        ~Unlock() { SDL_UnlockSurface(s); }
    } unlock{src};
    SDL_PixelFormat* f = src->format;
    Uint8* start = static_cast<Uint8*>(src->pixels) + sy * src->pitch + sx * f->BytesPerPixel;
    Surface view(SDL_CreateRGBSurfaceFrom(start, static_cast<int>(w), static_cast<int>(h),
                                          f->BitsPerPixel, src->pitch, f->Rmask, f->Gmask, f->Bmask,
                                          f->Amask));
    if (!view) return -1;
    if (f->palette) SDL_SetColors(view.get(), f->palette->colors, 0, f->palette->ncolors);
    if (src->flags & SDL_SRCCOLORKEY) SDL_SetColorKey(view.get(), SDL_SRCCOLORKEY, f->colorkey);
    if (src->flags & SDL_SRCALPHA)
        SDL_SetAlpha(view.get(), SDL_SRCALPHA, f->alpha);
    else
        SDL_SetAlpha(view.get(), 0, f->alpha);
    return SDL_UpperBlit(view.get(), nullptr, dst, &d);
}

}  // namespace

int blit(SDL_Surface* src, SDL_Rect* srcArea, SDL_Surface* dst, SDL_Rect* dstArea) {
    tools::check(src && dst, "blit without a surface");
    std::int64_t dx = dstArea ? dstArea->x : 0, dy = dstArea ? dstArea->y : 0;
    if (dstArea) diagnose(dst, dx, dy, dstArea->w, dstArea->h);
    std::int64_t sx = 0, sy = 0, w = src->w, h = src->h;
    if (srcArea) sx = srcArea->x, sy = srcArea->y, w = srcArea->w, h = srcArea->h;
    rect done;
    int r = clippedBlit(src, sx, sy, w, h, dst, dx, dy, &done);
    if (dstArea) *dstArea = done.toSDLRect();
    return r;
}

int blit(SDL_Surface* src, const rect* srcArea, SDL_Surface* dst, const rect& dstArea,
         rect* result) {
    tools::check(src && dst, "blit without a surface");
    diagnose(dst, dstArea.x, dstArea.y, dstArea.w, dstArea.h);
    rect s = srcArea ? *srcArea : rect(0, 0, src->w, src->h);
    return clippedBlit(src, s.x, s.y, s.w, s.h, dst, dstArea.x, dstArea.y, result);
}

}  // namespace sdloo
