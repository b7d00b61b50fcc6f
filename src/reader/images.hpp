#pragma once
// libgd: strip images from raw bytes to GD images (toImage) and from GD images
// to 32-bit surfaces (toSurface, through sdloo::surfaceFromRows). HEIF files
// are decoded with libheif into a GD image (GD's own reader gives a blank one).
//
// toImage recognises the format by its first bytes: "GIF8" at 0, FF D8 FF at 0,
// "PNG" at 1, "RIFF"...."WEBP" (WebP), a leading "ftyp" box with an AVIF or
// HEIF brand, "BM" (BMP); "<html" anywhere means a web page (no image);
// anything else is logged and refused with "Unidentified image type". Before
// GD sees the bytes, the size in the image's header is checked, read the way
// the decoder reads it, so a hostile header cannot make GD allocate gigabytes;
// a file whose header declares no size is not decoded at all, nor an AVIF or
// HEIF file whose boxes or item extents reach past its end. Animated GIF and WebP
// files give their first frame (a WebP frame is cut out of the container).
//
// Threads: toImage from any thread (every decode runs under the process-wide
// decoding lock); the conversions on the interface thread, like all surfaces.
#include <gd.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "sdloo/video.hpp"

namespace libgd {

// Owner of a GD image: gdImageDestroy.
struct ImageFree {
    void operator()(gdImagePtr image) const {
        if (image) gdImageDestroy(image);
    }
};
using Image = std::unique_ptr<gdImage, ImageFree>;

// Largest image accepted: a surface holds a 32-bit row of at most
// sdloo::maxSurfaceWidth (16383) pixels.
inline constexpr int maxWidth = 16383;
inline constexpr int maxHeight = 65535;
inline constexpr long long maxPixels = 50'000'000;
// What decoding one image may allocate by the estimate its header gives: the
// GD image and the decoder's buffers for the whole image (libjpeg keeps the
// coefficients of a progressive JPEG). A strip at the pixel limit fits, a
// progressive one too, except with four components.
inline constexpr long long maxDecodingBytes = 512LL << 20;

// An image whose header claims more than the limits above, or whose decoding
// would take more than maxDecodingBytes: "Image too large: W x H".
class ImageTooLarge : public std::runtime_error {
public:
    ImageTooLarge(long long width, long long height);
};

// The decoded image; null for a web page or when GD cannot decode the data.
// Throws std::out_of_range for fewer than four bytes, ImageTooLarge, and
// std::runtime_error "Unidentified image type" (after the log line), or when
// the GD library was built without the format.
Image toImage(std::string_view bytes);

// The name of the image format the bytes begin with ("GIF", "JPEG", "PNG",
// "WebP", "AVIF", "HEIF", "BMP"), or empty.
std::string_view imageFormat(std::string_view bytes);

// A new 32-bit surface (the default 8:8:8 layout, no alpha channel) with the
// image's pixels, converted row by row with exactly the values that the pixel
// walk of toSurfaceByPixels stores. The image stays the caller's. Throws
// std::runtime_error when the surface cannot be made.
sdloo::Surface toSurface(gdImagePtr image);

// The same conversion as a pixel-by-pixel walk (sdloo::surfaceFromPixels):
// the reference the row-wise conversion is checked and measured against.
sdloo::Surface toSurfaceByPixels(gdImagePtr image);

// The process-wide decoding lock. toImage takes it itself; callers may hold it
// around a decode and what belongs with it (it is recursive).
std::recursive_mutex& decodingLock();

}  // namespace libgd
