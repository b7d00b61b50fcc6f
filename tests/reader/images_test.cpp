#include "reader/images.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "downloader/downloader.hpp"
#include "sdloo/window.hpp"
#include "support/http_server.hpp"
#include "support/temp_dir.hpp"

using namespace libgd;

namespace {

// ---- PNGs written byte by byte (with zlib), for exact headers and pixels ----

void put32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

std::string chunk(const std::string& type, const std::string& data) {
    std::string out;
    put32(out, static_cast<std::uint32_t>(data.size()));
    std::string body = type + data;
    out += body;
    put32(out, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
    return out;
}

// An RGBA PNG (colour type 6) with the given rows of pixels; width and height
// in the header may claim other values than the pixel data holds.
std::string rgbaPng(std::uint32_t width, std::uint32_t height, const std::string& rows) {
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    put32(header, width);
    put32(header, height);
    header += std::string("\x08\x06\x00\x00\x00", 5);
    png += chunk("IHDR", header);
    uLongf size = compressBound(rows.size());
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size,
             reinterpret_cast<const Bytef*>(rows.data()), rows.size());
    packed.resize(size);
    png += chunk("IDAT", packed);
    png += chunk("IEND", "");
    return png;
}

// ---- JPEG headers written byte by byte ----

// A JPEG of headers only: a comment, the frame (its marker, size and the sampling
// factors of each component, e.g. "\x11\x11\x11") and the header of a first
// scan over scanned components. The scan names no component of the frame, so
// libjpeg stops there, before GD allocates the image.
std::string jpegHeaders(unsigned char marker, int width, int height, const std::string& sampling,
                        int scanned) {
    const int n = static_cast<int>(sampling.size());
    std::string out = std::string("\xFF\xD8\xFF\xFE\x00\x02\xFF", 7);
    out += {static_cast<char>(marker), 0, static_cast<char>(8 + 3 * n), 8};
    out += {static_cast<char>(height >> 8), static_cast<char>(height),
            static_cast<char>(width >> 8), static_cast<char>(width), static_cast<char>(n)};
    for (int c = 0; c < n; ++c) out += {static_cast<char>(c + 1), sampling[c], 0};
    out += {'\xFF', '\xDA', 0, static_cast<char>(6 + 2 * scanned), static_cast<char>(scanned)};
    for (int c = 0; c < scanned; ++c) out += {static_cast<char>(0x40 + c), 0};
    out += std::string("\x00\x3F\x00\xFF\xD9", 5);
    return out;
}

// The bytes with a byte that is no marker put before the frame header.
std::string withJunkBeforeFrame(std::string jpeg) {
    for (std::size_t i = 2; i + 4 <= jpeg.size();) {
        const unsigned marker = static_cast<unsigned char>(jpeg[i + 1]);
        if (marker >= 0xC0 && marker <= 0xC2) return jpeg.insert(i, 1, '\0');
        i += 2 + (static_cast<unsigned char>(jpeg[i + 2]) << 8 |
                  static_cast<unsigned char>(jpeg[i + 3]));
    }
    return {};
}

// ---- images made by ImageMagick ----

class Images : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        sdloo::startVideo();
    }
    static void TearDownTestSuite() { sdloo::stopVideo(); }

    // The file that `convert <arguments> <name>` writes; skips without ImageMagick.
    std::string convert(const std::string& arguments, const std::string& name,
                        const std::string& format = "") {
        std::string tool =
            std::system("test -x /usr/bin/convert") == 0 ? "/usr/bin/convert" : "convert";
        if (!testsupport::haveProgram(tool)) return {};
        std::string file = dir_.file(name);
        if (testsupport::run(tool + " " + arguments + " '" + format + file + "' 2>/dev/null") != 0)
            return {};
        return testsupport::readFile(file);
    }

    testsupport::TempDir dir_;
};

#define IMAGE_OR_SKIP(var, args, name)                                    \
    std::string var = convert(args, name);                                \
    if (var.empty()) GTEST_SKIP() << "ImageMagick's convert is not here"; \
    static_assert(true)

// The row-wise conversion must store exactly what the walk through put stores.
void expectSamePixels(gdImagePtr image) {
    sdloo::Surface fast = toSurface(image);
    sdloo::Surface walked = toSurfaceByPixels(image);
    ASSERT_EQ(fast->w, gdImageSX(image));
    ASSERT_EQ(fast->h, gdImageSY(image));
    ASSERT_EQ(fast->format->BitsPerPixel, 32);
    ASSERT_EQ(fast->pitch, walked->pitch);
    for (int y = 0; y < fast->h; ++y)
        ASSERT_EQ(std::memcmp(static_cast<Uint8*>(fast->pixels) + y * fast->pitch,
                              static_cast<Uint8*>(walked->pixels) + y * walked->pitch,
                              std::size_t(fast->w) * 4),
                  0)
            << "row " << y;
}

}  // namespace

TEST_F(Images, EveryFormatDecodesAndConvertsExactly) {
    struct Case {
        const char* what;
        std::string args;
        std::string name;
        std::string magic;
    };
    std::vector<Case> cases = {
        {"PNG", "-size 40x30 gradient:red-blue", "a.png", "\x89PNG\r\n\x1a\n"},
        {"interlaced PNG", "-size 40x30 gradient:green-white -interlace PNG", "b.png", "\x89PNG"},
        {"paletted PNG", "-size 40x30 gradient:red-blue -colors 16", "c.png", "\x89PNG"},
        {"JPEG (odd width)", "-size 41x29 gradient:yellow-navy -quality 90", "d.jpg",
         "\xFF\xD8\xFF"},
        {"progressive JPEG", "-size 40x30 gradient:yellow-navy -interlace JPEG", "e.jpg",
         "\xFF\xD8\xFF"},
        {"GIF with transparency",
         "-size 20x10 xc:white -fill red -draw 'rectangle 0,0 9,9' -transparent white", "f.gif",
         "GIF89a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = convert(c.args, c.name, c.name == "c.png" ? "png8:" : "");
        if (bytes.empty()) GTEST_SKIP() << "ImageMagick's convert is not here";
        ASSERT_EQ(bytes.substr(0, c.magic.size()), c.magic);
        Image image = toImage(bytes);
        ASSERT_TRUE(image);
        expectSamePixels(image.get());
    }
}

TEST_F(Images, TransparentGifKeepsItsColoursAndGetsNoAlpha) {
    IMAGE_OR_SKIP(bytes,
                  "-size 20x10 xc:white -fill red -draw 'rectangle 0,0 9,9' -transparent white",
                  "t.gif");
    Image image = toImage(bytes);
    ASSERT_TRUE(image);
    ASSERT_FALSE(gdImageTrueColor(image.get()));
    ASSERT_GE(image->transparent, 0);
    sdloo::Surface s = toSurface(image.get());
    ASSERT_EQ(s->format->Amask, 0u);
    sdloo::SurfacePlane d(s.get());
    sdloo::Rgba red = d.get(2, 2), clear = d.get(15, 5);
    EXPECT_EQ(red.red, 255);
    EXPECT_EQ(red.green, 0);
    int t = image->transparent;
    EXPECT_EQ(clear.red, image->red[t]);
    EXPECT_EQ(clear.green, image->green[t]);
}

TEST_F(Images, OnePixelColourMapping) {
    // Row: filter byte 0, then red 255, green 128, blue 0, opaque.
    std::string png = rgbaPng(1, 1, std::string("\x00\xFF\x80\x00\xFF", 5));
    Image image = toImage(png);
    ASSERT_TRUE(image);
    EXPECT_EQ(gdImageGetTrueColorPixel(image.get(), 0, 0), 0x00FF8000);
    sdloo::Surface s = toSurface(image.get());
    sdloo::SurfacePlane d(s.get());
    sdloo::Rgba c = d.get(0, 0);
    EXPECT_EQ(c.red, 255);
    EXPECT_EQ(c.green, 128);
    EXPECT_EQ(c.blue, 0);
    // A half transparent pixel keeps its colour: the surface has no alpha channel.
    Image half = toImage(rgbaPng(1, 1, std::string("\x00\x10\x20\x30\x80", 5)));
    ASSERT_TRUE(half);
    EXPECT_GT(gdTrueColorGetAlpha(gdImageGetTrueColorPixel(half.get(), 0, 0)), 0);
    sdloo::Surface h = toSurface(half.get());
    sdloo::SurfacePlane dh(h.get());
    EXPECT_EQ(dh.get(0, 0).blue, 0x30);
    expectSamePixels(half.get());
}

TEST_F(Images, SignatureRulesInOrder) {
    // The PNG signature is tested from its second byte: a wrong first byte still
    // goes to GD's PNG decoder (which refuses it: none, no exception, no log).
    std::string png = rgbaPng(1, 1, std::string("\x00\x01\x02\x03\xFF", 5));
    EXPECT_TRUE(toImage(png));
    png[0] = 'X';
    testing::internal::CaptureStdout();
    EXPECT_FALSE(toImage(png));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // A web page: none, no log line.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(toImage("<!DOCTYPE html>\n<html><body>Not found</body></html>"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // An image whose bytes contain "<html" is still an image.
    std::string tagged = rgbaPng(1, 1, std::string("\x00\x01\x02\x03\xFF", 5));
    tagged.insert(33, chunk("tEXt", std::string("Comment\0<html>", 14)));
    EXPECT_TRUE(toImage(tagged));
    // Damaged data that GD refuses: none, handed on.
    std::string cut = rgbaPng(64, 64, std::string(64 * (1 + 64 * 4), '\x10'));
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(toImage(cut));
    EXPECT_FALSE(toImage(std::string("GIF89a\x01\x00\x01\x00", 10)));
}

TEST_F(Images, UnknownDataIsLoggedAndRefused) {
    const std::string tiff = std::string("II*\0", 4) + std::string(60, '\x01');
    testing::internal::CaptureStdout();
    try {
        toImage(tiff);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unidentified image type");
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Unidentified image type in toImage - magic marker was \"" +
                       tiff.substr(0, 4) + "\""),
              std::string::npos)
        << out;
    EXPECT_EQ(imageFormat(tiff), "");
}

// ---- today's formats, made by tools we did not write ----

namespace {

struct Made {
    const char* what;
    std::string command;  // RED, BLUE: solid strips; OUT: the file made
    std::string name;
    std::string format;
};

// Nearly the colour: lossy encoders move channels a little.
::testing::AssertionResult near(int r, int g, int b, int c) {
    const int dr = std::abs(gdTrueColorGetRed(c) - r), dg = std::abs(gdTrueColorGetGreen(c) - g),
              db = std::abs(gdTrueColorGetBlue(c) - b);
    if (dr <= 20 && dg <= 20 && db <= 20) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel " << gdTrueColorGetRed(c) << ","
                                         << gdTrueColorGetGreen(c) << "," << gdTrueColorGetBlue(c);
}

}  // namespace

TEST_F(Images, TodaysFormatsShowTheirStripOrTheirFirstFrame) {
    IMAGE_OR_SKIP(red, "-size 40x30 'xc:rgb(220,30,20)'", "red.png");
    convert("-size 40x30 'xc:rgb(20,40,210)'", "blue.png");
    const std::vector<Made> cases = {
        {"lossy WebP", "cwebp -quiet -q 90 RED -o OUT", "a.webp", "WebP"},
        {"lossless WebP", "cwebp -quiet -lossless RED -o OUT", "b.webp", "WebP"},
        {"animated lossless WebP", "img2webp -lossless RED BLUE -o OUT", "c.webp", "WebP"},
        {"animated lossy WebP", "img2webp -lossy RED BLUE -o OUT", "d.webp", "WebP"},
        {"animated WebP by ImageMagick", "convert -delay 10 RED BLUE -loop 0 OUT", "e.webp",
         "WebP"},
        {"AVIF", "avifenc -s 10 RED OUT", "f.avif", "AVIF"},
        {"AVIF by ImageMagick", "convert RED OUT", "g.avif", "AVIF"},
        {"HEIF by ImageMagick", "convert RED OUT", "h.heic", "HEIF"},
        {"BMP", "convert RED OUT", "i.bmp", "BMP"},
        {"BMP with the old header", "convert RED BMP2:OUT", "j.bmp", "BMP"},
        {"animated GIF", "convert -delay 10 RED BLUE -loop 0 OUT", "k.gif", "GIF"},
    };
    int shown = 0;
    for (const Made& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string tool = c.command.substr(0, c.command.find(' '));
        if (!testsupport::haveProgram(tool)) continue;
        std::string command = c.command;
        auto put = [&](const std::string& word, const std::string& with) {
            command.replace(command.find(word), word.size(), with);
        };
        put("RED", dir_.file("red.png"));
        if (command.find("BLUE") != std::string::npos) put("BLUE", dir_.file("blue.png"));
        put("OUT", dir_.file(c.name));
        if (testsupport::run(command + " >/dev/null 2>&1") != 0) continue;  // encoder missing
        const std::string bytes = testsupport::readFile(dir_.file(c.name));
        EXPECT_EQ(imageFormat(bytes), c.format);
        Image image = toImage(bytes);
        ASSERT_TRUE(image);
        EXPECT_EQ(gdImageSX(image.get()), 40);
        EXPECT_EQ(gdImageSY(image.get()), 30);
        EXPECT_TRUE(near(220, 30, 20, gdImageGetTrueColorPixel(image.get(), 20, 15)));
        expectSamePixels(image.get());
        ++shown;
    }
    if (shown == 0) GTEST_SKIP() << "no encoder of today's formats is here";
}

namespace {

void putLittle(std::string& b, std::size_t at, std::uint32_t v, int n) {
    for (int k = 0; k < n; ++k) b[at + k] = static_cast<char>(v >> (8 * k));
}

}  // namespace

TEST_F(Images, TodaysFormatsRefuseHugeHeadersBeforeDecoding) {
    // Lossless WebP: 14-bit sizes minus one after the 0x2F signature.
    std::string vp8l = std::string("RIFF\0\0\0\0WEBPVP8L\x0a\0\0\0\x2f", 21) + std::string(9, '\0');
    putLittle(vp8l, 21, (16383u) | (0u << 14), 4);  // 16384 x 1
    try {
        toImage(vp8l);
        ADD_FAILURE() << "no exception";
    } catch (const ImageTooLarge& e) {
        EXPECT_STREQ(e.what(), "Image too large: 16384 x 1");
    }
    // Extended WebP: a canvas of 16777216 x 16777216.
    std::string vp8x = std::string("RIFF\0\0\0\0WEBPVP8X\x0a\0\0\0", 20) + std::string(10, '\xff');
    EXPECT_THROW(toImage(vp8x), ImageTooLarge);
    // BMP: 100000 x 100000, also written top-down (negative height).
    std::string bmp = "BM" + std::string(52, '\0');
    putLittle(bmp, 14, 40, 4);
    putLittle(bmp, 18, 100000, 4);
    putLittle(bmp, 22, 100000, 4);
    EXPECT_THROW(toImage(bmp), ImageTooLarge);
    putLittle(bmp, 22, static_cast<std::uint32_t>(-100000), 4);
    EXPECT_THROW(toImage(bmp), ImageTooLarge);
    putLittle(bmp, 18, static_cast<std::uint32_t>(-4), 4);  // negative width: damaged
    EXPECT_FALSE(toImage(bmp));
    // A real AVIF whose declared extent is made enormous.
    std::string avif = convert("-size 40x30 'xc:rgb(220,30,20)'", "big.avif");
    if (!avif.empty()) {
        const std::size_t at = avif.find("ispe");
        ASSERT_NE(at, std::string::npos);
        std::string big = avif;
        for (std::size_t k = 8; k < 16; ++k) big[at + k] = '\x7f';
        EXPECT_THROW(toImage(big), ImageTooLarge);
        std::string blind = avif;  // no extent at all: not decoded
        blind[at] = 'x';
        EXPECT_FALSE(toImage(blind));
        // Boxes and item extents past the end: not decoded (GD's reader for
        // libavif allocates what a box claims before it reads the box).
        const std::string free = "free..";  // the type and two bytes
        EXPECT_TRUE(toImage(avif + std::string("\0\0\0\x0a", 4) + free));
        EXPECT_FALSE(toImage(avif + std::string("\x7f\xff\xff\xff", 4) + free));
        EXPECT_FALSE(toImage(avif + std::string("\0\0\0\x01", 4) + "free" +
                             std::string("\0\0\0\x01\0\0\0\0", 8)));  // 64-bit: 4 GB
        EXPECT_FALSE(toImage(avif + std::string(2, '\0')));
        std::string ftyp = avif;  // the first box: 1.1 GB
        ftyp.replace(0, 4, "BMNB");
        EXPECT_FALSE(toImage(ftyp));
        const std::size_t iloc = avif.find("iloc");
        ASSERT_NE(iloc, std::string::npos);
        if (avif.compare(iloc + 4, 8, std::string("\0\0\0\0\x44\x40\0\x01", 8)) == 0) {
            std::string extent = avif;  // item 1's only extent, its length
            extent.replace(iloc + 22, 4, std::string("\x10\0\0\0", 4));
            EXPECT_FALSE(toImage(extent));
        }
    }
    std::string heif = convert("-size 40x30 'xc:rgb(220,30,20)'", "big.heic");
    if (!heif.empty()) {
        EXPECT_TRUE(toImage(heif));
        EXPECT_FALSE(toImage(heif + std::string("\x7f\xff\xff\xff", 4) + "free.."));
    }
}

TEST_F(Images, DamagedTodaysFormatsNeverEndTheProcess) {
    IMAGE_OR_SKIP(red, "-size 30x20 gradient:red-blue", "d.png");
    std::vector<std::string> originals;
    for (const char* name : {"m.webp", "m.bmp", "m.avif", "m.heic"}) {
        std::string made = convert("-size 30x20 gradient:red-blue", name);
        if (!made.empty()) originals.push_back(made);
    }
    if (testsupport::haveProgram("img2webp")) {
        convert("-size 30x20 xc:blue", "b.png");
        if (testsupport::run("img2webp -lossy " + dir_.file("d.png") + " " + dir_.file("b.png") +
                             " -o " + dir_.file("anim.webp") + " >/dev/null 2>&1") == 0)
            originals.push_back(testsupport::readFile(dir_.file("anim.webp")));
    }
    int tried = 0;
    for (const std::string& original : originals) {
        ASSERT_GT(original.size(), 16u);
        unsigned seed = 11;
        for (int round = 0; round < 40; ++round) {
            std::string bytes = original;
            for (int k = 0; k < 1 + round % 4; ++k) {
                seed = seed * 1103515245u + 12345u;
                std::size_t at = 12 + (seed >> 8) % (bytes.size() - 12);
                bytes[at] = static_cast<char>(seed >> 24);
            }
            if (round % 5 == 0) bytes.resize(12 + (seed >> 4) % (bytes.size() - 12));
            try {
                Image image = toImage(bytes);
                if (image && gdImageSX(image.get()) <= maxWidth) toSurface(image.get());
            } catch (const std::exception&) {
                // A clear refusal is as good as a decode.
            }
            ++tried;
        }
    }
    EXPECT_EQ(tried, 40 * static_cast<int>(originals.size()));
}

TEST_F(Images, TooFewBytesIsACleanError) {
    EXPECT_THROW(toImage(""), std::out_of_range);
    EXPECT_THROW(toImage("GIF"), std::out_of_range);
    EXPECT_THROW(toImage(std::string("\xFF\xD8\xFF", 3)), std::out_of_range);
    // Exactly four bytes: identified, and GD finds nothing to decode.
    EXPECT_FALSE(toImage("GIF8"));
    EXPECT_FALSE(toImage(std::string("\xFF\xD8\xFF\xE0", 4)));
}

TEST_F(Images, HugeHeadersAreRefusedBeforeDecoding) {
    // The pixel data is a single row: GD would allocate the whole claimed size.
    try {
        toImage(rgbaPng(100000, 100000, std::string(5, '\0')));
        ADD_FAILURE() << "no exception";
    } catch (const ImageTooLarge& e) {
        EXPECT_STREQ(e.what(), "Image too large: 100000 x 100000");
    }
    EXPECT_THROW(toImage(rgbaPng(16384, 1, std::string(5, '\0'))), ImageTooLarge);
    EXPECT_THROW(toImage(rgbaPng(10000, 6000, std::string(5, '\0'))), ImageTooLarge);  // 60 MP
    EXPECT_THROW(toImage(rgbaPng(1, 65536, std::string(5, '\0'))), ImageTooLarge);
    // libpng skips ancillary chunks before the header: so is the size check.
    std::string early = rgbaPng(100000, 100000, std::string(5, '\0'));
    early.insert(8, chunk("prVt", "first"));
    EXPECT_THROW(toImage(early), ImageTooLarge);
    std::string small = rgbaPng(1, 1, std::string("\x00\x01\x02\x03\xFF", 5));
    small.insert(8, chunk("prVt", "first"));
    EXPECT_TRUE(toImage(small));
    EXPECT_FALSE(toImage(small.substr(0, 8) + chunk("prVt", "no header")));
    // GIF logical screen of 65535 x 65535.
    EXPECT_THROW(toImage(std::string("GIF89a\xFF\xFF\xFF\xFF\x00\x00\x00", 13)), ImageTooLarge);
    // A frame beyond a small screen: GD refuses it without making it.
    EXPECT_FALSE(
        toImage(std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00"
                            ",\x00\x00\x00\x00\x40\x1F\x40\x1F\x00\x02\x02\x44\x01\x00;",
                            29)));
    // JPEG frames whose coefficients libjpeg keeps for the whole image: with
    // a progressive frame, or a sequential one whose first scan is of one
    // component. 4:4:4 and 4:2:0 strips at the pixel limit fit, four
    // components at almost the limit do not.
    struct Frame {
        const char* what;
        unsigned char marker;
        int width, height;
        std::string sampling;
        int scanned;
        bool refused;
    };
    const std::vector<Frame> frames = {
        {"progressive 4:4:4 at the limit", 0xC2, 7071, 7071, "\x11\x11\x11", 1, false},
        {"progressive 4:2:0 at the limit", 0xC2, 762, 65535, "\x22\x11\x11", 1, false},
        {"progressive CMYK", 0xC2, 7000, 7000, "\x11\x11\x11\x11", 1, true},
        {"arithmetic progressive CMYK", 0xCA, 7000, 7000, "\x11\x11\x11\x11", 4, true},
        {"sequential CMYK, one scan", 0xC0, 7000, 7000, "\x11\x11\x11\x11", 4, false},
        {"sequential CMYK, a scan each", 0xC1, 7000, 7000, "\x11\x11\x11\x11", 1, true},
        {"progressive CMYK, small", 0xC2, 3000, 3000, "\x11\x11\x11\x11", 1, false},
    };
    for (const Frame& f : frames) {
        SCOPED_TRACE(f.what);
        const std::string jpeg = jpegHeaders(f.marker, f.width, f.height, f.sampling, f.scanned);
        if (f.refused) {
            try {
                toImage(jpeg);
                ADD_FAILURE() << "no exception";
            } catch (const ImageTooLarge& e) {
                EXPECT_EQ(e.what(), "Image too large: " + std::to_string(f.width) + " x " +
                                        std::to_string(f.height));
            }
        } else {
            EXPECT_FALSE(toImage(jpeg));  // checked, then refused by libjpeg
        }
    }
    // Frame headers as libjpeg reads them: after bytes that are no marker, and
    // only the first; none at all gives no image.
    const std::string huge = jpegHeaders(0xC2, 30000, 30000, "\x11\x11\x11", 3);
    EXPECT_THROW(toImage(withJunkBeforeFrame(huge)), ImageTooLarge);
    std::string twice = huge;
    twice.insert(6, jpegHeaders(0xC0, 8, 8, "\x11\x11\x11", 3).substr(6, 19));
    EXPECT_FALSE(toImage(twice));  // libjpeg stops at the second frame header
    EXPECT_FALSE(
        toImage(std::string("\xFF\xD8\xFF\xFE\x00\x04"
                            "ab\xFF\xD9",
                            10)));
    // A real JPEG one pixel wider than a surface can be.
    std::string wide = convert("-size 16384x1 xc:white", "wide.jpg");
    if (!wide.empty()) {
        for (const std::string& bytes : {wide, withJunkBeforeFrame(wide)}) {
            try {
                toImage(bytes);
                ADD_FAILURE() << "no exception";
            } catch (const ImageTooLarge& e) {
                EXPECT_STREQ(e.what(), "Image too large: 16384 x 1");
            }
        }
        // libjpeg decodes past such a byte.
        std::string junk = withJunkBeforeFrame(convert("-size 40x30 xc:white", "junk.jpg"));
        ASSERT_FALSE(junk.empty());
        EXPECT_TRUE(toImage(junk));
    }
    // At the limits: accepted (a real strip of the widest size).
    std::string widest = convert("-size 16383x2 xc:white", "widest.png");
    if (!widest.empty()) {
        Image image = toImage(widest);
        ASSERT_TRUE(image);
        EXPECT_EQ(toSurface(image.get())->w, 16383);
    }
    // Long strips, progressive JPEG in 4:4:4 too.
    for (const char* name : {"long.png", "long.jpg"}) {
        std::string bytes =
            convert("-size 1000x20000 xc:white -interlace plane -sampling-factor 1x1", name);
        if (bytes.empty()) continue;
        Image image = toImage(bytes);
        ASSERT_TRUE(image) << name;
        EXPECT_EQ(gdImageSY(image.get()), 20000) << name;
    }
}

TEST_F(Images, DamagedImagesNeverEndTheProcess) {
    IMAGE_OR_SKIP(png, "-size 30x20 gradient:red-blue", "m.png");
    std::string jpeg = convert("-size 30x20 gradient:red-blue", "m.jpg");
    std::string gif = convert("-size 30x20 gradient:red-blue", "m.gif");
    int decoded = 0, refused = 0;
    for (const std::string* original : {&png, &jpeg, &gif}) {
        ASSERT_FALSE(original->empty());
        // Deterministic damage: bytes overwritten past the signature, and cuts.
        unsigned seed = 7;
        for (int round = 0; round < 60; ++round) {
            std::string bytes = *original;
            for (int k = 0; k < 1 + round % 4; ++k) {
                seed = seed * 1103515245u + 12345u;
                std::size_t at = 4 + (seed >> 8) % (bytes.size() - 4);
                bytes[at] = static_cast<char>(seed >> 24);
            }
            if (round % 5 == 0) bytes.resize(4 + (seed >> 4) % (bytes.size() - 4));
            try {
                Image image = toImage(bytes);
                if (image) {
                    ++decoded;
                    if (gdImageSX(image.get()) <= maxWidth) toSurface(image.get());
                } else {
                    ++refused;
                }
            } catch (const ImageTooLarge&) {
                ++refused;
            }
        }
    }
    EXPECT_EQ(decoded + refused, 180);
}

// Strips from hostile servers, fetched as the reader fetches them (through the cache):
// a decompression bomb is refused before decoding, and a web page served as a strip,
// with or without an error status, comes back as text to show instead of the image.
TEST_F(Images, HostileStripsFromAServer) {
    testsupport::HttpServer server;
    server.route("/bomb.png", rgbaPng(100000, 100000, std::string(5, '\0')), "image/png");
    server.route("/page.png", "<html><body>Strip moved</body></html>");
    server.route("/gone.png", "<html><body>No such strip</body></html>", "text/html", 404);
    const std::string bomb = downloader::download(server.url("/bomb.png"), {}, true);
    EXPECT_THROW(toImage(bomb), ImageTooLarge);
    for (const char* path : {"/page.png", "/gone.png"}) {
        const std::string body = downloader::download(server.url(path), {}, true);
        EXPECT_NE(body.find("<html>"), std::string::npos) << path;
        EXPECT_FALSE(toImage(body)) << path;
    }
}
