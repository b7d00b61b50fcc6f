#pragma once
// sdloo.video: a small object layer over SDL 1.2 video surfaces.
//
// coord and rect are integer geometry, rgba a colour, plane an abstract pixel
// grid, SDL_Drawable a plane over one SDL surface (locked for its whole life),
// box a rectangular window onto another plane. makeSurface and the two
// surfaceFrom functions make owned 32-bit surfaces; blit tests its destination
// first. The window itself is sdloo/window.hpp.
//
// All drawing happens on the interface thread; nothing here takes a lock.
#include <SDL/SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sdloo {

// A point or a size (x = width, y = height).
struct coord {
    std::int32_t x = 0;
    std::int32_t y = 0;

    coord() = default;
    coord(std::int32_t x_, std::int32_t y_) : x(x_), y(y_) {}
    coord& operator+=(const coord& other) {
        x += other.x;
        y += other.y;
        return *this;
    }
    friend coord operator+(coord a, const coord& b) { return a += b; }
    friend bool operator==(const coord&, const coord&) = default;
};

// An area in 32-bit coordinates.
struct rect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t w = 0;
    std::int32_t h = 0;

    rect() = default;
    rect(std::int32_t x_, std::int32_t y_, std::int32_t w_, std::int32_t h_)
        : x(x_), y(y_), w(w_), h(h_) {}

    void translate(const coord& p) {
        x += p.x;
        y += p.y;
    }
    // True when x <= px <= x + w and y <= py <= y + h: the far edges count too.
    bool contains(std::int32_t px, std::int32_t py) const;
    // Takes a border of width m off every side. Throws tools::Failure (with the
    // margin and the size in the text) unless m < w and m < h.
    void shrink(std::int32_t m);
    // The SDL form (16-bit fields). Values outside SDL's range are clamped, never
    // wrapped: x and y to [-32768, 32767], w and h to [0, 65535]. Areas that can
    // leave that range (tall strips) go through the rect overload of blit.
    SDL_Rect toSDLRect() const;

    friend bool operator==(const rect&, const rect&) = default;
};

// One colour: red, green, blue, alpha in memory order.
struct rgba {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t alpha = 0;

    rgba() = default;
    rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 0)
        : red(r), green(g), blue(b), alpha(a) {}

    // 0..3: red, green, blue, alpha; 4 or more throws std::out_of_range.
    std::uint8_t& operator[](std::size_t index);
    std::uint8_t operator[](std::size_t index) const;

    // red, green, blue and 0: the form SDL_ttf takes.
    SDL_Color toSDLColor() const;
    // trunc((1 - f) * own + f * other) per channel in double precision; alpha 0.
    rgba blend(const rgba& other, float f) const;
    // own = trunc(own/255 * other/255 * 255) per channel; alpha unchanged.
    rgba& modulate(const rgba& other);

    friend bool operator==(const rgba&, const rgba&) = default;
};

// Visits every colour of a pixel grid by reference.
class selector {
public:
    using ColourVisitor = std::function<int(rgba&)>;
    virtual ~selector() = default;
    virtual int each(const ColourVisitor& visit) = 0;
};

// An abstract pixel grid. Both walks go column by column (x outer, y inner),
// read with get, call the visitor and write the colour back with set; a
// non-zero visitor result stops the walk at once (that pixel is not written
// back) and is returned. 0 after the last pixel.
class plane : public selector {
public:
    using PixelVisitor = std::function<int(int& x, int& y, rgba&)>;

    virtual coord size() = 0;
    virtual rgba get(coord p) = 0;
    virtual void set(coord p, rgba colour) = 0;
    int each(const ColourVisitor& visit) override;
    // The visitor gets the walk's own x and y; the write-back goes to (x, y) as
    // they stand after the visitor returns.
    int each(const PixelVisitor& visit);
};

// A plane over one SDL surface. Locks the surface on construction and unlocks
// it on destruction; never frees it. Made for one drawing pass: end it before
// blitting the surface elsewhere.
class SDL_Drawable : public plane {
public:
    explicit SDL_Drawable(SDL_Surface* surface);
    ~SDL_Drawable() override;
    SDL_Drawable(const SDL_Drawable&) = delete;
    SDL_Drawable& operator=(const SDL_Drawable&) = delete;

    SDL_Surface* surface() const { return surface_; }

    coord size() override;
    rgba get(coord p) override { return get(p.x, p.y); }
    void set(coord p, rgba colour) override { put(p.x, p.y, colour); }
    using plane::each;

    // SDL_FillRect of the area (clipped by SDL) with the mapped colour.
    void fill(rect area, rgba colour);
    // Unlock, SDL_Flip, lock again.
    void flip();

    void putPixel8(int x, int y, rgba colour);
    void putPixel16(int x, int y, rgba colour);
    void putPixel24(int x, int y, rgba colour);  // always throws
    void putPixel32(int x, int y, rgba colour);
    rgba getPixel8(int x, int y);
    rgba getPixel16(int x, int y);
    rgba getPixel24(int x, int y);  // always throws
    rgba getPixel32(int x, int y);

    // Outside the surface: the "X is " line on standard output, nothing drawn.
    void put(int x, int y, rgba colour);
    // No bounds test: callers stay inside the surface.
    rgba get(int x, int y);

private:
    SDL_Surface* surface_;
};

// A rectangular window onto a parent plane: corners (x1, y1) inclusive and
// (x2, y2) exclusive. Tests no bounds of its own.
class box : public plane {
public:
    box(plane& parent, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2)
        : parent_(parent), x1(x1), y1(y1), x2(x2), y2(y2) {}

    coord size() override { return {x2 - x1, y2 - y1}; }
    rgba get(coord p) override { return parent_.get({p.x + x1, p.y + y1}); }
    void set(coord p, rgba colour) override { parent_.set({p.x + x1, p.y + y1}, colour); }

private:
    plane& parent_;

public:
    std::int32_t x1, y1, x2, y2;
};

// Owner of an SDL surface: frees it with SDL_FreeSurface.
struct SurfaceFree {
    void operator()(SDL_Surface* surface) const {
        if (surface) SDL_FreeSurface(surface);
    }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceFree>;

// A new software surface of 32 bits per pixel in SDL's default 8:8:8 layout
// (SDL_ANYFORMAT, all masks 0). Throws std::runtime_error "Can't create a
// surface of W x H: " + SDL's error when SDL cannot make it (also for a
// width above maxSurfaceWidth or a negative size).
Surface makeSurface(int width, int height);

// A new surface (as makeSurface) filled row by row: fillRow(y, row) writes the
// width pixels of row y as values 0x00RRGGBB (the top byte is ignored), which
// is the layout makeSurface's surfaces store. The surface is locked meanwhile.
// Throws what makeSurface throws.
using RowFiller = std::function<void(int y, std::uint32_t* row)>;
Surface surfaceFromRows(int width, int height, const RowFiller& fillRow);

// A new surface (as makeSurface) painted pixel by pixel, column by column,
// through SDL_Drawable::put with colourAt(x, y) (an rgba): the slow reference
// for surfaceFromRows.
template <class ColourAt>
Surface surfaceFromPixels(int width, int height, ColourAt colourAt) {
    Surface surface = makeSurface(width, height);
    SDL_Drawable drawable(surface.get());
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y) drawable.put(x, y, colourAt(x, y));
    return surface;
}

// SDL 1.2 keeps a surface's pitch in 16 bits: a 32-bit surface must stay at or
// below this width.
inline constexpr int maxSurfaceWidth = 16383;

// Tests the destination rectangle (the "Dest - x " / "Dest - y " lines on
// standard output when it reaches past the right or bottom edge), then blits
// with SDL_UpperBlit, clipped to the destination so nothing is written past its
// edges. Returns SDL_UpperBlit's result (0 on success); dstArea receives the
// final blit rectangle, as with SDL.
int blit(SDL_Surface* src, SDL_Rect* srcArea, SDL_Surface* dst, SDL_Rect* dstArea);
// The same in 32-bit coordinates, for sources or positions outside SDL's
// 16-bit range (strips taller than 32767 pixels at any offset, drawn at any
// negative position). srcArea null means the whole source. dstArea gives the
// position; its w and h serve the diagnostic only, as with SDL. result, when
// given, receives the final blit rectangle in 32-bit coordinates.
int blit(SDL_Surface* src, const rect* srcArea, SDL_Surface* dst, const rect& dstArea,
         rect* result = nullptr);

}  // namespace sdloo
