#include "reader/images.hpp"

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "reader/image_headers.hpp"
#include "tools/failure.hpp"
#include "tools/log.hpp"

namespace libgd {

using namespace headers;

namespace {

void refuseLarge(const std::optional<Size>& size);

// ---- HEIF through libheif ----

// Debian 12's GD hands back a blank (transparent black) image for HEIF files
// that libheif itself decodes correctly, so they are decoded here: the
// primary image as 8-bit RGBA rows into a true-colour GD image.
struct HeifContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HeifHandleFree {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct HeifImageFree {
    void operator()(heif_image* i) const { heif_image_release(i); }
};

Image heifToImage(std::string_view b) {
    std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
    if (!context) return nullptr;
    if (heif_context_read_from_memory_without_copy(context.get(), b.data(), b.size(), nullptr)
            .code != heif_error_Ok)
        return nullptr;
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok)
        return nullptr;
    std::unique_ptr<heif_image_handle, HeifHandleFree> heldHandle(handle);
    // The primary image's own size: checked before anything is decoded.
    refuseLarge(Size{heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)});
    heif_image* decoded = nullptr;
    if (heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                          nullptr)
            .code != heif_error_Ok)
        return nullptr;
    std::unique_ptr<heif_image, HeifImageFree> heldImage(decoded);
    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(decoded, heif_channel_interleaved);
    const int h = heif_image_get_height(decoded, heif_channel_interleaved);
    if (!plane || w <= 0 || h <= 0 || stride < w * 4) return nullptr;
    refuseLarge(Size{w, h});
    Image image(gdImageCreateTrueColor(w, h));
    if (!image) return nullptr;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* p = plane + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < w; ++x, p += 4)
            image->tpixels[y][x] = gdTrueColorAlpha(p[0], p[1], p[2], gdAlphaMax - (p[3] >> 1));
    }
    return image;
}

void refuseLarge(const std::optional<Size>& size) {
    if (!size) return;  // GD finds the damage itself and returns none
    if (size->width > maxWidth || size->height > maxHeight ||
        size->width * size->height > maxPixels)
        throw ImageTooLarge(size->width, size->height);
}

// An image within the size limits whose decoding would still take more than
// maxDecodingBytes is refused the same way.
void refuseCostly(const Size& size, long long decodingBytes) {
    if (decodingBytes > maxDecodingBytes) throw ImageTooLarge(size.width, size.height);
}

// GD may be built without a format: a clear error instead of a failed decode.
void requireSupport(const char* sample, const char* format) {
    if (!gdSupportsFileType(sample, 0))
        throw std::runtime_error(std::string("Cannot decode ") + format +
                                 " images: the GD library has no support for them");
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

std::string_view imageFormat(std::string_view bytes) {
    if (bytes.size() < 4) return {};
    if (bytes.substr(0, 4) == "GIF8") return "GIF";
    if (byteAt(bytes, 0) == 0xFF && byteAt(bytes, 1) == 0xD8 && byteAt(bytes, 2) == 0xFF)
        return "JPEG";
    if (bytes.substr(1, 3) == "PNG") return "PNG";
    if (bytes.size() >= 12 && bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "WEBP")
        return "WebP";
    const std::string_view brand = isoBrand(bytes);
    if (brand == "avif") return "AVIF";
    if (brand == "heif") return "HEIF";
    if (bytes.substr(0, 2) == "BM") return "BMP";
    return {};
}

std::recursive_mutex& decodingLock() {
    static std::recursive_mutex lock;
    return lock;
}

Image toImage(std::string_view bytes) {
    if (bytes.size() < 4)
        throw std::out_of_range("Image data of " + std::to_string(bytes.size()) +
                                " bytes: index 3 out of range");
    std::lock_guard<std::recursive_mutex> hold(decodingLock());
    const std::string_view format = imageFormat(bytes);
    if (format == "GIF") {
        const std::optional<Size> size = gifSize(bytes);
        if (!size) return nullptr;  // no logical screen
        refuseLarge(size);
        return Image(gdImageCreateFromGifPtr(length(bytes), data(bytes)));
    }
    if (format == "JPEG") {
        const std::optional<JpegFrame> frame = jpegFrame(bytes);
        if (!frame) return nullptr;  // libjpeg would stop before the pixels
        refuseLarge(frame->size);
        refuseCostly(frame->size, frame->decodingBytes);
        return Image(gdImageCreateFromJpegPtr(length(bytes), data(bytes)));
    }
    if (format == "PNG") {
        const std::optional<Size> size = pngSize(bytes);
        if (!size) return nullptr;  // libpng needs the header chunk
        refuseLarge(size);
        return Image(gdImageCreateFromPngPtr(length(bytes), data(bytes)));
    }
    if (format == "WebP") {
        const std::optional<Size> size = webpSize(bytes);
        if (!size) return nullptr;  // no size to check: damaged
        refuseLarge(size);
        requireSupport("strip.webp", "WebP");
        const std::optional<std::string> first = webpFirstFrame(bytes);
        if (!first) return nullptr;
        if (!first->empty()) {
            refuseLarge(webpSize(*first));
            const std::string_view still = *first;
            return Image(gdImageCreateFromWebpPtr(length(still), data(still)));
        }
        return Image(gdImageCreateFromWebpPtr(length(bytes), data(bytes)));
    }
    if (format == "AVIF" || format == "HEIF") {
        const std::optional<Size> size = ispeSize(bytes);
        if (!size) return nullptr;  // every image declares its size: damaged
        refuseLarge(size);
        if (!isoWithinBytes(bytes)) return nullptr;
        if (format == "AVIF") {
            requireSupport("strip.avif", "AVIF");
            return Image(gdImageCreateFromAvifPtr(length(bytes), data(bytes)));
        }
        return heifToImage(bytes);
    }
    if (format == "BMP") {
        const std::optional<Size> size = bmpSize(bytes);
        if (!size || size->width <= 0 || size->height <= 0) return nullptr;
        refuseLarge(size);
        requireSupport("strip.bmp", "BMP");
        const std::string readable = withShortBmpHeader(bytes);
        const std::string_view view = readable;
        return Image(gdImageCreateFromBmpPtr(length(view), data(view)));
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
        return sdloo::Rgba(gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c),
                           gdTrueColorGetAlpha(c));
    });
}

}  // namespace libgd
