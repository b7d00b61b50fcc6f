#pragma once
// The sizes strip images declare, read from their headers the way the decoders
// read them, before any decoder sees the bytes; and the few rewrites of a file
// GD needs (an animated WebP's first frame, a BMP header GD understands).
// Every function reads only within the bytes it is given; none allocates more
// than the bytes' size.
// Thread safety: pure functions.
#include <optional>
#include <string>
#include <string_view>

namespace libgd::headers {

struct Size {
    long long width;
    long long height;
};

inline unsigned byteAt(std::string_view b, std::size_t i) {
    return static_cast<unsigned char>(b[i]);
}

// PNG: the IHDR chunk's size (chunks before it passed over as libpng does).
std::optional<Size> pngSize(std::string_view b);
// GIF: the logical screen, within which every frame GD decodes lies.
std::optional<Size> gifSize(std::string_view b);

// JPEG: the frame libjpeg decodes, and what decoding it allocates.
struct JpegFrame {
    Size size;
    long long decodingBytes;  // the GD image, and libjpeg's coefficients when it buffers them
};
std::optional<JpegFrame> jpegFrame(std::string_view b);

// WebP: the canvas of an extended file, or the size of a simple file's bitstream.
std::optional<Size> webpSize(std::string_view b);
// An animated WebP's first frame as a still file of its own; empty when the
// file is not animated, none when it holds no readable frame.
std::optional<std::string> webpFirstFrame(std::string_view b);

// AVIF / HEIF: "avif" or "heif" by the leading file-type box's brands, or empty.
std::string_view isoBrand(std::string_view b);
// Whether the boxes and item extents the decoders read lie within the bytes.
bool isoWithinBytes(std::string_view b);
// The largest size the image spatial extents declare.
std::optional<Size> ispeSize(std::string_view b);

// BMP: the declared size, and the same file with the 40-byte header GD reads.
std::optional<Size> bmpSize(std::string_view b);
std::string withShortBmpHeader(std::string_view b);

}  // namespace libgd::headers
