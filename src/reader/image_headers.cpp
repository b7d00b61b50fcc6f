#include "reader/image_headers.hpp"

#include <algorithm>
#include <cstddef>

namespace libgd::headers {

namespace {

unsigned long long bigEndian(std::string_view b, std::size_t at, int n) {
    unsigned long long v = 0;
    for (int k = 0; k < n; ++k) v = (v << 8) | byteAt(b, at + k);
    return v;
}

}  // namespace

// The IHDR chunk's size, found as libpng finds it: the chunks before it (which
// libpng skips when they are ancillary) are passed over. None without one.
std::optional<Size> pngSize(std::string_view b) {
    for (std::size_t at = 8; at + 8 <= b.size();) {
        const unsigned long long length = bigEndian(b, at, 4);
        if (b.substr(at + 4, 4) == "IHDR") {
            if (length != 13 || b.size() - at < 16) return std::nullopt;
            return Size{static_cast<long long>(bigEndian(b, at + 8, 4)),
                        static_cast<long long>(bigEndian(b, at + 12, 4))};
        }
        if (length > b.size() - at - 8 || b.size() - at - 8 - length < 4) return std::nullopt;
        at += 12 + length;  // length, type, data and checksum
    }
    return std::nullopt;
}

// The logical screen; every frame GD decodes lies within it.
std::optional<Size> gifSize(std::string_view b) {
    if (b.size() < 10) return std::nullopt;
    return Size{byteAt(b, 6) | (byteAt(b, 7) << 8), byteAt(b, 8) | (byteAt(b, 9) << 8)};
}

namespace {

long long roundUp(long long v, long long step) { return (v + step - 1) / step * step; }

// A true-colour GD image: four bytes a pixel and a pointer a row.
long long gdImageBytes(const Size& s) { return s.width * s.height * 4 + s.height * 8; }

}  // namespace

// ---- JPEG ----

// The frame header and the first scan header, found as libjpeg finds them:
// bytes that are not a marker are skipped, the first frame header is the one
// decoded (a second one, a second start of image, a scan before the frame or
// the end before a scan stop libjpeg before it decodes: none then).
//
// A progressive file, or one whose first scan holds only some of the
// components, makes libjpeg keep the coefficients of the whole image, 128
// bytes for each 8 x 8 block of every component, until the last scan.
std::optional<JpegFrame> jpegFrame(std::string_view b) {
    std::optional<JpegFrame> frame;
    bool progressive = false;
    std::string_view components;  // three bytes each: id, sampling factors, table
    for (std::size_t i = 2;;) {
        while (i < b.size() && byteAt(b, i) != 0xFF) ++i;
        while (i < b.size() && byteAt(b, i) == 0xFF) ++i;  // fill bytes
        if (i >= b.size()) return std::nullopt;
        const unsigned marker = byteAt(b, i++);
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (marker == 0xD8 || marker == 0xD9 || b.size() - i < 2) return std::nullopt;
        const std::size_t length = bigEndian(b, i, 2);
        if (length < 2 || length > b.size() - i) return std::nullopt;
        const std::string_view segment = b.substr(i + 2, length - 2);
        i += length;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            if (frame || segment.size() < 6 || segment.size() != 6 + 3 * byteAt(segment, 5))
                return std::nullopt;
            const Size size{static_cast<long long>(bigEndian(segment, 3, 2)),
                            static_cast<long long>(bigEndian(segment, 1, 2))};
            frame = JpegFrame{size, gdImageBytes(size)};
            progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            components = segment.substr(6);
        } else if (marker == 0xDA) {
            if (!frame || segment.empty()) return std::nullopt;
            const std::size_t count = components.size() / 3;
            if (!progressive && byteAt(segment, 0) >= count) return frame;
            long long hMax = 1, vMax = 1;
            for (std::size_t c = 0; c < count; ++c) {
                const long long h = byteAt(components, 3 * c + 1) >> 4,
                                v = byteAt(components, 3 * c + 1) & 15;
                if (h < 1 || h > 4 || v < 1 || v > 4) return std::nullopt;
                hMax = std::max(hMax, h);
                vMax = std::max(vMax, v);
            }
            for (std::size_t c = 0; c < count; ++c) {
                const long long h = byteAt(components, 3 * c + 1) >> 4,
                                v = byteAt(components, 3 * c + 1) & 15;
                const long long columns = (frame->size.width * h + 8 * hMax - 1) / (8 * hMax),
                                rows = (frame->size.height * v + 8 * vMax - 1) / (8 * vMax);
                frame->decodingBytes += roundUp(columns, h) * roundUp(rows, v) * 128;
            }
            return frame;
        }
    }
}

namespace {

unsigned long long littleEndian(std::string_view b, std::size_t at, int n) {
    unsigned long long v = 0;
    for (int k = n - 1; k >= 0; --k) v = (v << 8) | byteAt(b, at + k);
    return v;
}

// ---- WebP: a RIFF container of chunks ----

struct Chunk {
    std::string_view type;
    std::string_view data;
    std::size_t end;  // offset after the chunk and its padding
};

// The chunk at an offset, when the whole chunk lies within the bytes.
std::optional<Chunk> chunkAt(std::string_view b, std::size_t at) {
    if (at > b.size() || b.size() - at < 8) return std::nullopt;
    const std::size_t length = littleEndian(b, at + 4, 4);
    if (length > b.size() - at - 8) return std::nullopt;
    const std::size_t end = at + 8 + length + (length & 1);
    return Chunk{b.substr(at, 4), b.substr(at + 8, length), std::min(end, b.size())};
}

// The size a VP8 (lossy) or VP8L (lossless) bitstream chunk declares.
std::optional<Size> bitstreamSize(const Chunk& c) {
    const std::string_view d = c.data;
    if (c.type == "VP8 " && d.size() >= 10 && byteAt(d, 3) == 0x9D && byteAt(d, 4) == 0x01 &&
        byteAt(d, 5) == 0x2A)
        return Size{static_cast<long long>(littleEndian(d, 6, 2) & 0x3FFF),
                    static_cast<long long>(littleEndian(d, 8, 2) & 0x3FFF)};
    if (c.type == "VP8L" && d.size() >= 5 && byteAt(d, 0) == 0x2F) {
        const unsigned long long bits = littleEndian(d, 1, 4);
        return Size{static_cast<long long>((bits & 0x3FFF) + 1),
                    static_cast<long long>(((bits >> 14) & 0x3FFF) + 1)};
    }
    return std::nullopt;
}

}  // namespace

// The canvas of an extended file (VP8X), or the size of a simple file's bitstream.
std::optional<Size> webpSize(std::string_view b) {
    const std::optional<Chunk> first = chunkAt(b, 12);
    if (!first) return std::nullopt;
    if (first->type == "VP8X") {
        if (first->data.size() < 10) return std::nullopt;
        return Size{static_cast<long long>(littleEndian(first->data, 4, 3) + 1),
                    static_cast<long long>(littleEndian(first->data, 7, 3) + 1)};
    }
    return bitstreamSize(*first);
}

namespace {

void appendLittleEndian(std::string& out, unsigned long long v, int n) {
    for (int k = 0; k < n; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
}

void putLittleEndianAt(std::string& out, std::size_t at, unsigned long long v, int n) {
    for (int k = 0; k < n; ++k) out[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
}

void appendChunk(std::string& out, const Chunk& c) {
    out.append(c.type);
    appendLittleEndian(out, c.data.size(), 4);
    out.append(c.data);
    if (c.data.size() & 1) out.push_back('\0');
}

}  // namespace

// An animated file (VP8X with the animation flag): its first frame as a still
// file of its own, which GD's reader accepts. Empty when the file is not
// animated; std::nullopt when it is but holds no readable frame.
std::optional<std::string> webpFirstFrame(std::string_view b) {
    const std::optional<Chunk> header = chunkAt(b, 12);
    if (!header || header->type != "VP8X" || header->data.size() < 10) return std::string();
    if (!(byteAt(header->data, 0) & 0x02)) return std::string();  // not animated
    for (std::size_t at = header->end; at < b.size();) {
        const std::optional<Chunk> c = chunkAt(b, at);
        if (!c) return std::nullopt;
        at = c->end;
        if (c->type != "ANMF") continue;
        // The frame: 16 bytes of placement and timing, then an optional alpha
        // chunk and the bitstream chunk.
        std::optional<Chunk> alpha, image;
        for (std::size_t in = 16; in < c->data.size();) {
            const std::optional<Chunk> sub = chunkAt(c->data, in);
            if (!sub) break;
            in = sub->end;
            if (sub->type == "ALPH") alpha = sub;
            if (sub->type == "VP8 " || sub->type == "VP8L") {
                image = sub;
                break;
            }
        }
        if (!image) return std::nullopt;
        const std::optional<Size> size = bitstreamSize(*image);
        if (!size || size->width < 1 || size->height < 1) return std::nullopt;
        std::string body = "WEBP";
        if (alpha && image->type == "VP8 ") {
            // Lossy pixels with separate alpha need the extended header.
            body.append("VP8X");
            appendLittleEndian(body, 10, 4);
            body.push_back(0x10);  // alpha
            body.append(3, '\0');
            appendLittleEndian(body, static_cast<unsigned long long>(size->width - 1), 3);
            appendLittleEndian(body, static_cast<unsigned long long>(size->height - 1), 3);
            appendChunk(body, *alpha);
        }
        appendChunk(body, *image);
        std::string still = "RIFF";
        appendLittleEndian(still, body.size(), 4);
        return still + body;
    }
    return std::nullopt;
}

// ---- AVIF and HEIF: ISO base media boxes ----

// "avif" or "heif" by the brands of the leading file-type box, or empty.
std::string_view isoBrand(std::string_view b) {
    if (b.size() < 16 || b.substr(4, 4) != "ftyp") return {};
    const std::size_t boxEnd = std::min<std::size_t>(bigEndian(b, 0, 4), b.size());
    bool heif = false;
    for (std::size_t at = 8; at + 4 <= boxEnd; at += at == 8 ? 8 : 4) {
        const std::string_view brand = b.substr(at, 4);
        if (brand == "avif" || brand == "avis") return "avif";
        if (brand == "heic" || brand == "heix" || brand == "heim" || brand == "heis" ||
            brand == "hevc" || brand == "hevx" || brand == "mif1" || brand == "msf1")
            heif = true;
    }
    return heif ? "heif" : "";
}

namespace {

// A box: the payload after its header; the whole box lies within the bytes.
// A size of 0 runs to the end, 1 means a 64-bit size after the type.
struct Box {
    std::string_view type;
    std::string_view data;
    std::size_t end;
};

std::optional<Box> boxAt(std::string_view b, std::size_t at) {
    if (at > b.size() || b.size() - at < 8) return std::nullopt;
    unsigned long long size = bigEndian(b, at, 4);
    std::size_t header = 8;
    if (size == 1) {
        if (b.size() - at < 16) return std::nullopt;
        size = bigEndian(b, at + 8, 8);
        header = 16;
    } else if (size == 0) {
        size = b.size() - at;
    }
    if (size < header || size > b.size() - at) return std::nullopt;
    return Box{b.substr(at + 4, 4), b.substr(at + header, size - header), at + size};
}

// Big-endian fields read in turn; a read past the end gives 0 and fails the reader.
class FieldReader {
public:
    explicit FieldReader(std::string_view b) : b_(b) {}
    unsigned long long take(std::size_t n) {
        if (!ok_ || n > b_.size() - at_) {
            ok_ = false;
            return 0;
        }
        const unsigned long long v = bigEndian(b_, at_, static_cast<int>(n));
        at_ += n;
        return v;
    }
    bool ok() const { return ok_; }

private:
    std::string_view b_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// The item locations box: every extent stored at a file offset lies within
// the file, and all of them together are no more than the file holds.
bool itemLocationsWithin(std::string_view iloc, unsigned long long fileSize) {
    FieldReader r(iloc);
    const unsigned long long version = r.take(1);
    r.take(3);  // flags
    const unsigned long long sizes = r.take(1), more = r.take(1);
    const std::size_t offsetSize = sizes >> 4, lengthSize = sizes & 15, baseSize = more >> 4,
                      indexSize = version >= 1 ? more & 15 : 0;
    for (std::size_t n : {offsetSize, lengthSize, baseSize, indexSize})
        if (n != 0 && n != 4 && n != 8) return false;
    const unsigned long long items = r.take(version < 2 ? 2 : 4);
    unsigned long long total = 0;
    for (unsigned long long item = 0; item < items && r.ok(); ++item) {
        r.take(version < 2 ? 2 : 4);  // item
        const unsigned long long method = version >= 1 ? r.take(2) & 15 : 0;
        r.take(2);  // data reference
        const unsigned long long base = r.take(baseSize), extents = r.take(2);
        for (unsigned long long e = 0; e < extents && r.ok(); ++e) {
            r.take(indexSize);
            const unsigned long long offset = r.take(offsetSize), length = r.take(lengthSize);
            if (method != 0) continue;  // in the meta box's own data, or another item's
            if (base > fileSize || offset > fileSize - base || length > fileSize - base - offset)
                return false;
            total += length;
            if (total > fileSize) return false;
        }
    }
    return r.ok();
}

}  // namespace

// Whether everything the decoders will read lies within the bytes: the
// top-level boxes, the boxes of the meta box, and the item extents. The AVIF
// reader GD hands to libavif allocates each read in full before it reads, so a
// box header claiming 2 GB costs 2 GB even in a file of a hundred bytes.
bool isoWithinBytes(std::string_view b) {
    for (std::size_t at = 0; at < b.size();) {
        const std::optional<Box> box = boxAt(b, at);
        if (!box) return false;
        at = box->end;
        if (box->type != "meta") continue;
        if (box->data.size() < 4) return false;  // version and flags, then boxes
        for (std::size_t in = 4; in < box->data.size();) {
            const std::optional<Box> inner = boxAt(box->data, in);
            if (!inner) return false;
            in = inner->end;
            if (inner->type == "iloc" && !itemLocationsWithin(inner->data, b.size())) return false;
        }
    }
    return true;
}

// The largest of the sizes the image spatial extents ("ispe") declare: every
// image of the file (tiles, thumbnails, a grid) has one.
std::optional<Size> ispeSize(std::string_view b) {
    std::optional<Size> largest;
    for (std::size_t at = b.find("ispe"); at != std::string_view::npos;
         at = b.find("ispe", at + 4)) {
        if (at < 4 || at + 16 > b.size()) continue;
        const Size s{static_cast<long long>(bigEndian(b, at + 8, 4)),
                     static_cast<long long>(bigEndian(b, at + 12, 4))};
        if (!largest) largest = s;
        largest->width = std::max(largest->width, s.width);
        largest->height = std::max(largest->height, s.height);
    }
    return largest;
}

// ---- BMP ----

std::optional<Size> bmpSize(std::string_view b) {
    if (b.size() < 26) return std::nullopt;
    if (littleEndian(b, 14, 4) == 12)  // the old core header: 16-bit sizes
        return Size{static_cast<long long>(littleEndian(b, 18, 2)),
                    static_cast<long long>(littleEndian(b, 20, 2))};
    const auto width = static_cast<std::int32_t>(littleEndian(b, 18, 4));
    const auto height = static_cast<std::int32_t>(littleEndian(b, 22, 4));  // < 0: top-down
    return Size{width, height < 0 ? -static_cast<long long>(height) : height};
}

// GD reads the later Windows headers (108 and 124 bytes) as the 40-byte one
// and then looks for the palette right after those 40 bytes. The same file
// with the 40-byte header (and, for bit fields, the three masks after it).
std::string withShortBmpHeader(std::string_view b) {
    const std::size_t header = littleEndian(b, 14, 4);
    if ((header != 108 && header != 124) || b.size() < 14 + header) return std::string(b);
    const bool masks = littleEndian(b, 30, 4) == 3;  // BI_BITFIELDS
    const std::size_t kept = masks ? 52 : 40;
    const std::size_t cut = header - kept;
    const std::size_t pixels = littleEndian(b, 10, 4);
    if (pixels < 14 + header) return std::string(b);
    std::string out(b.substr(0, 14 + kept));
    out.append(b.substr(14 + header));
    putLittleEndianAt(out, 2, out.size(), 4);
    putLittleEndianAt(out, 10, pixels - cut, 4);
    putLittleEndianAt(out, 14, 40, 4);
    return out;
}

}  // namespace libgd::headers
