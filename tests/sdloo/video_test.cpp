#include "sdloo/video.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "sdloo/window.hpp"
#include "tools/failure.hpp"

using namespace sdloo;

namespace {

class Video : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        startVideo();
    }
    static void TearDownTestSuite() { stopVideo(); }
};

Surface surfaceOf(int w, int h, int bpp) {
    Uint32 r = 0, g = 0, b = 0, a = 0;
    if (bpp == 16) r = 0xF800, g = 0x07E0, b = 0x001F;
    if (bpp == 24) r = 0xFF0000, g = 0x00FF00, b = 0x0000FF;
    if (bpp == 32) r = 0x00FF0000, g = 0x0000FF00, b = 0x000000FF, a = 0xFF000000;
    Surface s(SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, bpp, r, g, b, a));
    if (!s) throw std::runtime_error(SDL_GetError());
    if (bpp == 8) {
        std::vector<SDL_Color> grey(256);
        for (int i = 0; i < 256; ++i)
            grey[i].r = grey[i].g = grey[i].b = static_cast<Uint8>(i), grey[i].unused = 0;
        SDL_SetColors(s.get(), grey.data(), 0, 256);
    }
    return s;
}

std::vector<Uint8> pixelBytes(SDL_Surface* s) {
    auto* p = static_cast<Uint8*>(s->pixels);
    return std::vector<Uint8>(p, p + std::size_t(s->pitch) * s->h);
}

}  // namespace

TEST(Geometry, ContainsCountsAllFourEdges) {
    rect r(10, 20, 30, 40);
    EXPECT_TRUE(r.contains(10, 20));
    EXPECT_TRUE(r.contains(40, 60));  // x + w, y + h
    EXPECT_TRUE(r.contains(40, 20));
    EXPECT_TRUE(r.contains(10, 60));
    EXPECT_FALSE(r.contains(9, 30));
    EXPECT_FALSE(r.contains(41, 30));
    EXPECT_FALSE(r.contains(20, 19));
    EXPECT_FALSE(r.contains(20, 61));
}

TEST(Geometry, ShrinkTakesABorderAndRefusesTooLargeMargins) {
    rect r(0, 0, 10, 8);
    r.shrink(3);
    EXPECT_EQ(r, rect(3, 3, 4, 2));
    EXPECT_THROW(rect(0, 0, 10, 8).shrink(8), tools::Failure);  // m == h
    EXPECT_THROW(rect(0, 0, 8, 10).shrink(8), tools::Failure);  // m == w
    EXPECT_THROW(rect(0, 0, 10, 10).shrink(20), tools::Failure);
    rect t(1, 2, 3, 4);
    t.translate({10, -2});
    EXPECT_EQ(t, rect(11, 0, 3, 4));
    coord c(1, 2);
    c += coord(3, 4);
    EXPECT_EQ(c, coord(4, 6));
}

TEST(Geometry, ToSDLRectClampsInsteadOfWrapping) {
    SDL_Rect r = rect(5, -7, 100, 200).toSDLRect();
    EXPECT_EQ(r.x, 5);
    EXPECT_EQ(r.y, -7);
    EXPECT_EQ(r.w, 100);
    EXPECT_EQ(r.h, 200);
    r = rect(40000, -40000, 70000, -5).toSDLRect();
    EXPECT_EQ(r.x, 32767);
    EXPECT_EQ(r.y, -32768);
    EXPECT_EQ(r.w, 65535);
    EXPECT_EQ(r.h, 0);
}

TEST(Colour, BlendTruncatesAndClearsAlpha) {
    rgba a(200, 100, 0, 9), b(0, 100, 255, 9);
    EXPECT_EQ(a.blend(b, 0.5f), rgba(100, 100, 127, 0));
    EXPECT_EQ(a.blend(b, 0.0f), rgba(200, 100, 0, 0));
    EXPECT_EQ(a.blend(b, 1.0f), rgba(0, 100, 255, 0));
    // 0.3 as a float is a little above 0.3: 255 * 0.3000000119 = 76.50000...
    EXPECT_EQ(rgba(0, 0, 0).blend(rgba(255, 255, 255), 0.3f).red, 76);
}

TEST(Colour, ModulateKeepsAlphaAndIndexing) {
    rgba c(255, 128, 10, 77);
    c.modulate(rgba(255, 0, 0, 0));
    EXPECT_EQ(c, rgba(255, 0, 0, 77));
    rgba d(200, 100, 50, 1);
    d.modulate(rgba(128, 128, 128, 0));
    EXPECT_EQ(d, rgba(100, 50, 25, 1));  // 200*128/255 = 100.39 -> 100
    rgba e(1, 2, 3, 4);
    EXPECT_EQ(e[0], 1);
    EXPECT_EQ(e[3], 4);
    e[2] = 9;
    EXPECT_EQ(e.blue, 9);
    EXPECT_THROW(e[4], std::out_of_range);
    SDL_Color s = rgba(7, 8, 9, 200).toSDLColor();
    EXPECT_EQ(s.r, 7);
    EXPECT_EQ(s.g, 8);
    EXPECT_EQ(s.b, 9);
    EXPECT_EQ(s.unused, 0);
}

TEST_F(Video, PixelAddressesOnEightSixteenAndThirtyTwoBits) {
    for (int bpp : {8, 16, 32}) {
        SCOPED_TRACE(bpp);
        Surface s = surfaceOf(5, 3, bpp);
        SDL_Drawable d(s.get());
        EXPECT_EQ(d.size(), coord(5, 3));
        // Colours each format holds exactly (16 bits keep 5 or 6 bits a channel).
        rgba colour = bpp == 8    ? rgba(77, 77, 77, 255)
                      : bpp == 16 ? rgba(255, 0, 255, 255)
                                  : rgba(248, 128, 16, 255);
        d.put(3, 2, colour);
        Uint32 expected = SDL_MapRGBA(s->format, colour.red, colour.green, colour.blue, 255);
        auto* base = static_cast<Uint8*>(s->pixels) + s->pitch * 2;
        Uint32 stored = 0;
        if (bpp == 8) stored = base[3];
        if (bpp == 16) stored = *reinterpret_cast<Uint16*>(base + 6);
        if (bpp == 32) stored = *reinterpret_cast<Uint32*>(base + 12);
        EXPECT_EQ(stored, expected);
        EXPECT_EQ(d.get(3, 2), colour);
        EXPECT_EQ(d.get({3, 2}), colour);
        // Nothing else changed.
        int nonZero = 0;
        for (Uint8 byte : pixelBytes(s.get())) nonZero += byte != 0;
        EXPECT_LE(nonZero, bpp / 8);
    }
}

TEST_F(Video, TwentyFourBitsAndOutOfBoundsPuts) {
    Surface s24 = surfaceOf(4, 4, 24);
    {
        SDL_Drawable d(s24.get());
        try {
            d.put(1, 1, rgba(1, 2, 3));
            FAIL();
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(),
                         "No support for alpha on 24bit yet ... you're fucked .. but srsly, you "
                         "knew this when you chose 24bit.");
        }
        try {
            d.get(1, 1);
            FAIL();
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "Didn't I say you were fucked?");
        }
    }
    Surface s = surfaceOf(6, 4, 32);
    auto before = pixelBytes(s.get());
    SDL_Drawable d(s.get());
    testing::internal::CaptureStdout();
    d.put(-1, 0, rgba(255, 255, 255));
    d.put(6, 0, rgba(255, 255, 255));
    d.put(0, 4, rgba(255, 255, 255));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "X is -1, Y is 0 Size is [6, 4]\n"
              "X is 6, Y is 0 Size is [6, 4]\n"
              "X is 0, Y is 4 Size is [6, 4]\n");
    EXPECT_EQ(pixelBytes(s.get()), before);
}

TEST_F(Video, EachWalksColumnsAndStopsAtTheFirstNonZero) {
    Surface s = surfaceOf(3, 2, 32);
    SDL_Drawable d(s.get());
    std::vector<coord> order;
    int result = d.each([&](int& x, int& y, rgba& c) {
        order.push_back({x, y});
        c = rgba(10, 20, 30, 255);
        return order.size() == 4 ? 42 : 0;
    });
    EXPECT_EQ(result, 42);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[0], coord(0, 0));
    EXPECT_EQ(order[1], coord(0, 1));
    EXPECT_EQ(order[2], coord(1, 0));
    EXPECT_EQ(order[3], coord(1, 1));
    EXPECT_EQ(d.get(1, 0), rgba(10, 20, 30, 255));
    EXPECT_EQ(d.get(1, 1), rgba(0, 0, 0, 0));  // the stopping pixel is not written back

    int visits = 0;
    EXPECT_EQ(d.each([&](rgba& c) {
        ++visits;
        c.red = 99;
        return 0;
    }),
              0);
    EXPECT_EQ(visits, 6);
    EXPECT_EQ(d.get(2, 1).red, 99);

    // The write-back goes where the visitor moved x and y.
    Surface t = surfaceOf(2, 2, 32);
    SDL_Drawable e(t.get());
    e.each([&](int& x, int& y, rgba& c) {
        if (x == 0 && y == 0) {
            c = rgba(1, 2, 3, 255);
            y = 1;
            x = 1;
        }
        return 0;
    });
    EXPECT_EQ(e.get(1, 1), rgba(1, 2, 3, 255));
}

TEST_F(Video, BoxMapsOntoItsParent) {
    Surface s = surfaceOf(40, 30, 32);
    SDL_Drawable d(s.get());
    box b(d, 10, 20, 30, 25);
    EXPECT_EQ(b.size(), coord(20, 5));
    b.set({0, 0}, rgba(5, 6, 7, 255));
    EXPECT_EQ(d.get(10, 20), rgba(5, 6, 7, 255));
    d.put(29, 24, rgba(9, 9, 9, 255));
    EXPECT_EQ(b.get({19, 4}), rgba(9, 9, 9, 255));
    int n = 0;
    b.each([&](rgba&) { return ++n, 0; });
    EXPECT_EQ(n, 100);
}

TEST_F(Video, FillClipsAndFlipKeepsTheScreenLocked) {
    Surface s = surfaceOf(8, 8, 32);
    {
        SDL_Drawable d(s.get());
        d.fill(rect(6, 6, 10, 10), rgba(255, 0, 0, 255));
        EXPECT_EQ(d.get(7, 7), rgba(255, 0, 0, 255));
        EXPECT_EQ(d.get(5, 5), rgba(0, 0, 0, 0));
    }
    SDL_Surface* window = SDL_SetVideoMode(64, 48, 32, SDL_SWSURFACE);
    ASSERT_NE(window, nullptr);
    SDL_Drawable d(window);
    d.fill(rect(0, 0, 64, 48), rgba(1, 2, 3, 0));
    d.flip();
    EXPECT_GT(window->locked, 0u);
    EXPECT_EQ(d.get(10, 10).green, 2);
}

TEST_F(Video, VideoModesOpenTheOneWindowSurface) {
    struct Case {
        VideoMode mode;
        int w, h;
    };
    for (Case c : {Case{VideoMode::window, 64, 48}, Case{VideoMode::resizable, 80, 60},
                   Case{VideoMode::frameless, 50, 40}}) {
        SDL_Surface* made = setVideoMode(c.w, c.h, c.mode);
        ASSERT_NE(made, nullptr) << videoError();
        EXPECT_EQ(made, videoSurface());
        EXPECT_EQ(made->w, c.w);
        EXPECT_EQ(made->h, c.h);
        EXPECT_EQ(made->format->BitsPerPixel, 32);
    }
}

TEST_F(Video, CaptionIsRepairedToUtf8) {
    setCaption("tovik [Caf\xE9] - \xC3\xA9t\xC3\xA9");
    char* title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title, "tovik [Caf\xC3\xA9] - \xC3\xA9t\xC3\xA9");
}

TEST_F(Video, MakeSurfaceRefusesWhatSDLCannotHold) {
    Surface s = makeSurface(30, 20);
    EXPECT_EQ(s->format->BitsPerPixel, 32);
    EXPECT_EQ(s->w, 30);
    EXPECT_THROW(makeSurface(maxSurfaceWidth + 1, 1), std::runtime_error);
    EXPECT_THROW(makeSurface(-1, 5), std::runtime_error);
    EXPECT_THROW(makeSurface(16000, 40000), std::runtime_error);  // over 2 GiB of pixels
}

TEST_F(Video, BlitReportsAndNeverWritesPastTheEdges) {
    // The destination is a view onto the top-left 10x10 of a 20x20 buffer with
    // the buffer's pitch: a write past its edge would land in the buffer.
    Surface big = surfaceOf(20, 20, 32);
    auto* f = big->format;
    Surface dst(SDL_CreateRGBSurfaceFrom(big->pixels, 10, 10, 32, big->pitch, f->Rmask, f->Gmask,
                                         f->Bmask, f->Amask));
    Surface src = surfaceOf(8, 8, 32);
    SDL_FillRect(src.get(), nullptr, SDL_MapRGBA(src->format, 255, 255, 255, 255));
    SDL_Rect at = rect(6, 7, 8, 8).toSDLRect();
    testing::internal::CaptureStdout();
    EXPECT_EQ(blit(src.get(), static_cast<SDL_Rect*>(nullptr), dst.get(), &at), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Dest - x 6, w 8, dest.w 10\nDest - y 7, h 8, dest.h 10\n");
    EXPECT_EQ(at.w, 4);
    EXPECT_EQ(at.h, 3);
    SDL_Drawable d(big.get());
    int painted = 0;
    d.each([&](int& x, int& y, rgba& c) {
        if (c.red == 255) {
            ++painted;
            EXPECT_TRUE(x >= 6 && x < 10 && y >= 7 && y < 10) << x << "," << y;
        }
        return 0;
    });
    EXPECT_EQ(painted, 12);
}

TEST_F(Video, TallStripsBlitAtAnyOffset) {
    // 40000 rows, each row's red channel marks its row number modulo 251.
    const int rows = 40000;
    Surface strip = surfaceOf(4, rows, 32);
    {
        SDL_Drawable d(strip.get());
        for (int y = 0; y < rows; ++y) d.put(0, y, rgba(y % 251, 0, 0, 255));
    }
    Surface window = surfaceOf(4, 10, 32);
    auto rowsShown = [&] {
        SDL_Drawable d(window.get());
        std::vector<int> reds;
        for (int y = 0; y < 10; ++y) reds.push_back(d.get(0, y).red);
        return reds;
    };
    // Part of the strip from row 35000 on, drawn at the top.
    rect from(0, 35000, 4, 10);
    ASSERT_EQ(blit(strip.get(), &from, window.get(), rect(0, 0, 4, 10)), 0);
    std::vector<int> expected;
    for (int y = 35000; y < 35010; ++y) expected.push_back(y % 251);
    EXPECT_EQ(rowsShown(), expected);
    // The whole strip drawn scrolled far up: position -38000.
    rect done;
    ASSERT_EQ(blit(strip.get(), nullptr, window.get(), rect(0, -38000, 0, 0), &done), 0);
    EXPECT_EQ(done, rect(0, 0, 4, 10));
    expected.clear();
    for (int y = 38000; y < 38010; ++y) expected.push_back(y % 251);
    EXPECT_EQ(rowsShown(), expected);
    // Scrolled past the end: nothing drawn, no error.
    ASSERT_EQ(blit(strip.get(), nullptr, window.get(), rect(0, -50000, 0, 0), &done), 0);
    EXPECT_EQ(done.h, 0);
}
