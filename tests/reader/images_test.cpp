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
    IMAGE_OR_SKIP(bmp, "-size 4x4 xc:red", "x.bmp");
    ASSERT_EQ(bmp.substr(0, 2), "BM");
    testing::internal::CaptureStdout();
    try {
        toImage(bmp);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unidentified image type");
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Unidentified image type in toImage - magic marker was \"" +
                       bmp.substr(0, 4) + "\""),
              std::string::npos)
        << out;
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
    // GIF logical screen of 65535 x 65535.
    EXPECT_THROW(toImage(std::string("GIF89a\xFF\xFF\xFF\xFF\x00\x00\x00", 13)), ImageTooLarge);
    // A real JPEG one pixel wider than a surface can be.
    std::string wide = convert("-size 16384x1 xc:white", "wide.jpg");
    if (!wide.empty()) {
        try {
            toImage(wide);
            ADD_FAILURE() << "no exception";
        } catch (const ImageTooLarge& e) {
            EXPECT_STREQ(e.what(), "Image too large: 16384 x 1");
        }
    }
    // At the limits: accepted (a real strip of the widest size).
    std::string widest = convert("-size 16383x2 xc:white", "widest.png");
    if (!widest.empty()) {
        Image image = toImage(widest);
        ASSERT_TRUE(image);
        EXPECT_EQ(toSurface(image.get())->w, 16383);
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
