#include "reader/images.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "tools/failure.hpp"
#include "tools/log.hpp"

namespace libgd {

namespace {

struct Size {
    long long width;
    long long height;
};

unsigned byteAt(std::string_view b, std::size_t i) { return static_cast<unsigned char>(b[i]); }

unsigned long long bigEndian(std::string_view b, std::size_t at, int n) {
    unsigned long long v = 0;
    for (int k = 0; k < n; ++k) v = (v << 8) | byteAt(b, at + k);
    return v;
}

// The IHDR chunk's size; it must come first in a PNG.
std::optional<Size> pngSize(std::string_view b) {
    if (b.size() < 24 || b.substr(12, 4) != "IHDR") return std::nullopt;
    return Size{static_cast<long long>(bigEndian(b, 16, 4)),
                static_cast<long long>(bigEndian(b, 20, 4))};
}

// The logical screen; every frame GD decodes lies within it.
std::optional<Size> gifSize(std::string_view b) {
    if (b.size() < 10) return std::nullopt;
    return Size{byteAt(b, 6) | (byteAt(b, 7) << 8), byteAt(b, 8) | (byteAt(b, 9) << 8)};
}

// The first start-of-frame segment before the scan data.
std::optional<Size> jpegSize(std::string_view b) {
    std::size_t i = 2;
    while (i + 4 <= b.size()) {
        if (byteAt(b, i) != 0xFF) return std::nullopt;
        unsigned marker = byteAt(b, i + 1);
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt;
        std::size_t length = bigEndian(b, i + 2, 2);
        bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (i + 9 > b.size()) return std::nullopt;
            return Size{static_cast<long long>(bigEndian(b, i + 7, 2)),
                        static_cast<long long>(bigEndian(b, i + 5, 2))};
        }
        if (length < 2) return std::nullopt;
        i += 2 + length;
    }
    return std::nullopt;
}

void refuseLarge(const std::optional<Size>& size) {
    if (!size) return;  // GD finds the damage itself and returns none
    if (size->width > maxWidth || size->height > maxHeight ||
        size->width * size->height > maxPixels)
        throw ImageTooLarge(size->width, size->height);
}

void* data(std::string_view bytes) { return const_cast<char*>(bytes.data()); }

int length(std::string_view bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
        throw std::runtime_error("Image data too long: " + std::to_string(bytes.size()) + " bytes");
    return static_cast<int>(bytes.size());
}

// GD's true-colour values with the alpha bits cleared, two pixels at a time.
void copyDroppingAlpha(std::uint32_t* __restrict to, const int* __restrict from, int n) {
    int x = 0;
    for (; x + 1 < n; x += 2) {
        std::uint64_t pair;
        std::memcpy(&pair, from + x, 8);
        pair &= 0x00FFFFFF00FFFFFFull;
        std::memcpy(to + x, &pair, 8);
    }
    if (x < n) to[x] = static_cast<std::uint32_t>(from[x]) & 0x00FFFFFF;
}

}  // namespace

ImageTooLarge::ImageTooLarge(long long width, long long height)
    : std::runtime_error("Image too large: " + std::to_string(width) + " x " +
                         std::to_string(height)) {}

std::recursive_mutex& decodingLock() {
    static std::recursive_mutex lock;
    return lock;
}

Image toImage(std::string_view bytes) {
    if (bytes.size() < 4)
        throw std::out_of_range("Image data of " + std::to_string(bytes.size()) +
                                " bytes: index 3 out of range");
    std::lock_guard<std::recursive_mutex> hold(decodingLock());
    if (bytes.substr(0, 4) == "GIF8") {
        refuseLarge(gifSize(bytes));
        return Image(gdImageCreateFromGifPtr(length(bytes), data(bytes)));
    }
    if (byteAt(bytes, 0) == 0xFF && byteAt(bytes, 1) == 0xD8 && byteAt(bytes, 2) == 0xFF) {
        refuseLarge(jpegSize(bytes));
        return Image(gdImageCreateFromJpegPtr(length(bytes), data(bytes)));
    }
    if (bytes.substr(1, 3) == "PNG") {
        refuseLarge(pngSize(bytes));
        return Image(gdImageCreateFromPngPtr(length(bytes), data(bytes)));
    }
    if (bytes.find("<html") != std::string_view::npos) return nullptr;
    tools::logln("Unidentified image type in toImage - magic marker was ", '"', bytes.substr(0, 4),
                 '"');
    throw std::runtime_error("Unidentified image type");
}

sdloo::Surface toSurface(gdImagePtr image) {
    tools::check(image != nullptr, "no image to convert");
    const int w = gdImageSX(image), h = gdImageSY(image);
    if (gdImageTrueColor(image))
        return sdloo::surfaceFromRows(w, h, [image, w](int y, std::uint32_t* row) {
            copyDroppingAlpha(row, image->tpixels[y], w);
        });
    // A palette image: every index becomes its colour (a surface without alpha).
    std::array<std::uint32_t, gdMaxColors> palette;
    for (int p = 0; p < gdMaxColors; ++p)
        palette[p] = std::uint32_t(image->red[p]) << 16 | std::uint32_t(image->green[p]) << 8 |
                     std::uint32_t(image->blue[p]);
    return sdloo::surfaceFromRows(w, h, [image, w, &palette](int y, std::uint32_t* row) {
        const unsigned char* from = image->pixels[y];
        for (int x = 0; x < w; ++x) row[x] = palette[from[x]];
    });
}

sdloo::Surface toSurfaceByPixels(gdImagePtr image) {
    tools::check(image != nullptr, "no image to convert");
    return sdloo::surfaceFromPixels(gdImageSX(image), gdImageSY(image), [image](int x, int y) {
        int c = gdImageGetTrueColorPixel(image, x, y);
        return sdloo::rgba(gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c),
                           gdTrueColorGetAlpha(c));
    });
}

}  // namespace libgd
