#include "sdloo/ttf.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sdloo/window.hpp"
#include "support/temp_dir.hpp"
#include "tools/failure.hpp"
#include "tools/thread.hpp"

using namespace sdloo;

namespace {

const char* const veraPath = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

SDL_Color colour(Uint8 r, Uint8 g, Uint8 b, Uint8 unused = 0) {
    SDL_Color c;
    c.r = r, c.g = g, c.b = b, c.unused = unused;
    return c;
}

// Fonts opened the way the program opens them: "vera.ttf" in the working directory.
class Fonts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        startVideo();
        startTTF();
    }
    static void TearDownTestSuite() {
        stopTTF();
        stopVideo();
    }
    void SetUp() override {
        if (!std::filesystem::exists(veraPath)) GTEST_SKIP() << "no " << veraPath;
        dir_ = std::make_unique<testsupport::TempDir>(true);
        std::filesystem::copy_file(veraPath, "vera.ttf");
    }
    std::unique_ptr<TTF_FontClass> open(int points) {
        return std::make_unique<TTF_FontClass>("vera.ttf", points);
    }
    // The shortest run of 'M's whose blended rendering covers at least `pixels`.
    static std::string textCovering(TTF_FontClass& font, std::uint64_t pixels) {
        std::string text = "M";
        for (;;) {
            Surface s = font.render(text, colour(0, 0, 0), {}, renderBlended);
            if (std::uint64_t(s->w) * s->h >= pixels) return text;
            text += "M";
        }
    }
    std::unique_ptr<testsupport::TempDir> dir_;
};

}  // namespace

TEST(FontKeys, EqualityAndHashIgnoreTheUnusedByteAndTheBackground) {
    SDL_Color back = colour(1, 1, 1);
    tcsrtb a{"Hello", colour(10, 20, 30, 0), {}, nullptr};
    tcsrtb b{"Hello", colour(10, 20, 30, 99), {}, &back};
    EXPECT_TRUE(a == b);
    EXPECT_EQ(tcsrtbHash()(a), tcsrtbHash()(b));
    EXPECT_LT(tcsrtbHash()(a), 256u);
    EXPECT_FALSE(a == (tcsrtb{"Hello", colour(10, 20, 31), {}, nullptr}));
    EXPECT_FALSE(a == (tcsrtb{"Hello", colour(10, 20, 30), {true, false, false}, nullptr}));
    EXPECT_FALSE(a == (tcsrtb{"Hellp", colour(10, 20, 30), {}, nullptr}));
    EXPECT_EQ((fontsettings{true, true, true}.style()), 7);
    EXPECT_EQ((fontsettings{false, true, false}.style()), TTF_STYLE_ITALIC);
}

TEST(FontText, RepairUtf8KeepsValidTextAndMendsTheRest) {
    EXPECT_EQ(repairUtf8("plain"), "plain");
    EXPECT_EQ(repairUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
              "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(repairUtf8("caf\xE9"), "caf\xC3\xA9");                    // Latin-1 title
    EXPECT_EQ(repairUtf8("\xC0\x80"), "\xC3\x80\xC2\x80");              // overlong NUL
    EXPECT_EQ(repairUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");  // surrogate
    EXPECT_EQ(repairUtf8("ab\xE2\x82"), "ab\xC3\xA2\xC2\x82");          // cut short at the end
    EXPECT_EQ(repairUtf8("\xF4\x90\x80\x80").size(), 8u);               // beyond U+10FFFF
    EXPECT_EQ(repairUtf8(""), "");
}

TEST_F(Fonts, OpenFailureAndMetrics) {
    try {
        TTF_FontClass missing("no-such-font.ttf", 12);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("TTF_FontClass.this: Couldn't open font: ", 0), 0u)
            << e.what();
    }
    auto font = open(12);
    EXPECT_GT(font->height(), 0);
    EXPECT_GT(font->ascent(), 0);
    EXPECT_LE(font->descent(), 0);
    EXPECT_GE(font->lineSkip(), font->height() - 1);
}

TEST_F(Fonts, RenderModesAndTheEmptyText) {
    auto font = open(12);
    SDL_Color back = colour(255, 255, 255);
    Surface solid = font->render("Tovik", colour(0, 0, 0), {}, renderSolid);
    Surface shaded = font->render("Tovik", colour(0, 0, 0), {}, renderShaded, &back);
    Surface blended = font->render("Tovik", colour(0, 0, 0), {}, renderBlended);
    ASSERT_TRUE(solid && shaded && blended);
    EXPECT_EQ(solid->format->BitsPerPixel, 8);
    EXPECT_EQ(blended->format->BitsPerPixel, 32);
    EXPECT_EQ(blended->w, shaded->w);
    try {
        font->render("Tovik", colour(0, 0, 0), {}, 3);
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Failure");
    }
    EXPECT_EQ(font->render("", colour(0, 0, 0), {}, renderBlended), nullptr);
    EXPECT_EQ(font->renderCached("", colour(0, 0, 0)), nullptr);
    EXPECT_EQ(font->cachedPixels(), 0u);
    // Bold stays set on the font and widens the text.
    Surface bold = font->render("Tovik", colour(0, 0, 0), {true, false, false}, renderBlended);
    EXPECT_EQ(TTF_GetFontStyle(font->handle()), TTF_STYLE_BOLD);
    EXPECT_GT(bold->w, blended->w);
}

TEST_F(Fonts, CacheMakesEachLookOnce) {
    auto font = open(12);
    SDL_Color back = colour(9, 9, 9);
    SDL_Surface* first = font->renderCached("Row one", colour(0, 0, 0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(font->renderCached("Row one", colour(0, 0, 0, 77), {}, &back), first);
    EXPECT_EQ(font->cacheMade(), 1u);
    SDL_Surface* red = font->renderCached("Row one", colour(255, 0, 0));
    SDL_Surface* bold = font->renderCached("Row one", colour(0, 0, 0), {true, false, false});
    EXPECT_NE(red, first);
    EXPECT_NE(bold, first);
    EXPECT_NE(bold, red);
    EXPECT_EQ(font->cacheMade(), 3u);
    EXPECT_EQ(font->cachedCount(), 3u);
    EXPECT_EQ(font->cachedPixels(),
              std::uint64_t(first->w * first->h + red->w * red->h + bold->w * bold->h));
}

TEST_F(Fonts, OldestRenderingIsEvictedAndFreed) {
    auto font = open(96);
    std::string large = textCovering(*font, 330000);  // about 400 x 1000 in the example
    std::string small = textCovering(*font, 200000);  // about 200 x 1000
    {
        Surface l = font->render(large, colour(0, 0, 0), {}, renderBlended);
        Surface s = font->render(small, colour(0, 0, 0), {}, renderBlended);
        ASSERT_GT(std::uint64_t(l->w) * l->h + std::uint64_t(s->w) * s->h,
                  TTF_FontClass::cacheCapacity);
        ASSERT_LE(std::uint64_t(l->w) * l->h, TTF_FontClass::cacheCapacity);
    }
    font->renderCached(large, colour(0, 0, 0));
    font->renderCached(small, colour(0, 0, 0));
    EXPECT_FALSE(font->isCached(large, colour(0, 0, 0)));
    EXPECT_TRUE(font->isCached(small, colour(0, 0, 0)));
    EXPECT_EQ(font->cacheReleased(), 1u);
    EXPECT_EQ(font->cachedCount(), 1u);
}

TEST_F(Fonts, OversizedRenderingStaysAloneUntilTheNextMiss) {
    auto font = open(96);
    std::string huge = textCovering(*font, TTF_FontClass::cacheCapacity + 1);
    font->renderCached("small", colour(0, 0, 0));
    testing::internal::CaptureStdout();
    SDL_Surface* h = font->renderCached(huge, colour(0, 0, 0));
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_NE(h, nullptr);
    EXPECT_NE(out.find("No viable deletable entries found"), std::string::npos) << out;
    EXPECT_EQ(font->cachedCount(), 1u);
    EXPECT_TRUE(font->isCached(huge, colour(0, 0, 0)));
    font->renderCached("next", colour(0, 0, 0));
    EXPECT_FALSE(font->isCached(huge, colour(0, 0, 0)));
    EXPECT_TRUE(font->isCached("next", colour(0, 0, 0)));
}

TEST_F(Fonts, RenderingsEvictedDuringARepaintLiveUntilItEnds) {
    auto font = open(96);
    std::string large = textCovering(*font, 330000);
    std::string small = textCovering(*font, 200000);
    {
        RenderScope repaint;
        EXPECT_TRUE(RenderScope::active());
        SDL_Surface* first = font->renderCached(large, colour(0, 0, 0));
        font->renderCached(small, colour(0, 0, 0));  // evicts `first`
        EXPECT_FALSE(font->isCached(large, colour(0, 0, 0)));
        EXPECT_EQ(RenderScope::parked(), 1u);
        { RenderScope nested; }
        EXPECT_EQ(RenderScope::parked(), 1u);
        // Still a whole surface: blit it (ASan would catch a freed one).
        Surface target = makeSurface(first->w, first->h);
        EXPECT_EQ(blit(first, nullptr, target.get(), rect(0, 0, 0, 0)), 0);
    }
    EXPECT_FALSE(RenderScope::active());
    EXPECT_EQ(RenderScope::parked(), 0u);
}

TEST_F(Fonts, LongAndBrokenTextsStillRender) {
    auto font = open(12);
    Surface wide = font->render(std::string(4000, 'W'), colour(0, 0, 0), {}, renderBlended);
    ASSERT_NE(wide, nullptr);
    EXPECT_LE(wide->w, maxSurfaceWidth);
    EXPECT_GT(wide->w, maxSurfaceWidth - 100);
    std::string accents;
    for (int i = 0; i < 3000; ++i) accents += "\xC3\xA9";
    Surface cut = font->render(accents, colour(0, 0, 0), {}, renderBlended);
    ASSERT_NE(cut, nullptr);
    EXPECT_LE(cut->w, maxSurfaceWidth);
    Surface latin1 = font->render("Caf\xE9 \xFF\xFE", colour(0, 0, 0), {}, renderBlended);
    Surface mended =
        font->render("Caf\xC3\xA9 \xC3\xBF\xC3\xBE", colour(0, 0, 0), {}, renderBlended);
    ASSERT_TRUE(latin1 && mended);
    EXPECT_EQ(latin1->w, mended->w);
}

TEST_F(Fonts, ThreadsAskingForOneMissingRenderingMakeItOnce) {
    auto font = open(12);
    std::vector<SDL_Surface*> got(4, nullptr);
    {
        std::vector<tools::Thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back(
                [&, i] { got[i] = font->renderCached("shared row", colour(1, 2, 3)); });
    }
    EXPECT_EQ(font->cacheMade(), 1u);
    for (SDL_Surface* s : got) EXPECT_EQ(s, got[0]);
}
