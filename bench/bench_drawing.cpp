// The drawing layer's two hot paths, each next to its baseline in the same run:
// - decoding a strip and converting it to a surface, against GD's decode alone
//   (a 900 x 3000 PNG strip and an 800 x 1000 JPEG); the conversion should add
//   at most 30 % to the decode;
// - a repaint of an unchanged list of 200 rows through the render cache,
//   against rendering the same rows uncached; the cache should be 50x faster.
// The ratios (of CPU times: the machine is shared) are printed after the table.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "reader/images.hpp"
#include "sdloo/ttf.hpp"
#include "sdloo/video.hpp"
#include "sdloo/window.hpp"

namespace {

const char* const veraPath = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

// A comic-like picture: flat panels with borders, gradients and dense
// line work (speech bubbles, hatching), so the encoders meet both flat and
// busy areas.
libgd::Image drawStrip(int w, int h) {
    libgd::Image im(gdImageCreateTrueColor(w, h));
    gdImageFilledRectangle(im.get(), 0, 0, w - 1, h - 1, gdTrueColor(255, 255, 250));
    unsigned seed = 12345;
    auto rnd = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 8) % static_cast<unsigned>(n));
    };
    for (int top = 10; top + 200 < h; top += 300) {
        int panelW = (w - 40) / 2;
        for (int p = 0; p < 2; ++p) {
            int left = 10 + p * (panelW + 20), bottom = top + 280;
            for (int y = top; y < bottom; ++y)
                gdImageLine(im.get(), left, y, left + panelW, y,
                            gdTrueColor(120 + (y - top) / 3, 160, 220 - (y - top) / 4));
            for (int k = 0; k < 60; ++k) {
                int x1 = left + rnd(panelW), y1 = top + rnd(280);
                gdImageLine(im.get(), x1, y1, x1 + rnd(60) - 30, y1 + rnd(60) - 30,
                            gdTrueColor(rnd(80), rnd(80), rnd(80)));
            }
            gdImageFilledEllipse(im.get(), left + panelW / 2, top + 60, panelW / 2, 70,
                                 gdTrueColor(255, 255, 255));
            gdImageRectangle(im.get(), left, top, left + panelW, bottom, gdTrueColor(0, 0, 0));
        }
    }
    return im;
}

std::string encoded(bool jpeg, int w, int h) {
    libgd::Image im = drawStrip(w, h);
    int size = 0;
    void* data = jpeg ? gdImageJpegPtr(im.get(), &size, 85) : gdImagePngPtr(im.get(), &size);
    std::string bytes(static_cast<const char*>(data), static_cast<std::size_t>(size));
    gdFree(data);
    return bytes;
}

const std::string& pngStrip() {
    static const std::string* bytes = new std::string(encoded(false, 900, 3000));
    return *bytes;
}
const std::string& jpegStrip() {
    static const std::string* bytes = new std::string(encoded(true, 800, 1000));
    return *bytes;
}

void gdDecodeAlone(benchmark::State& state, const std::string& bytes, bool jpeg) {
    for (auto _ : state) {
        libgd::Image im(jpeg ? gdImageCreateFromJpegPtr(static_cast<int>(bytes.size()),
                                                        const_cast<char*>(bytes.data()))
                             : gdImageCreateFromPngPtr(static_cast<int>(bytes.size()),
                                                       const_cast<char*>(bytes.data())));
        benchmark::DoNotOptimize(im.get());
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

void decodeAndConvert(benchmark::State& state, const std::string& bytes, bool walk) {
    for (auto _ : state) {
        libgd::Image im = libgd::toImage(bytes);
        sdloo::Surface s = walk ? libgd::toSurfaceByPixels(im.get()) : libgd::toSurface(im.get());
        benchmark::DoNotOptimize(s.get());
    }
}

void BM_PngGdDecodeOnly(benchmark::State& s) { gdDecodeAlone(s, pngStrip(), false); }
void BM_PngDecodeToSurface(benchmark::State& s) { decodeAndConvert(s, pngStrip(), false); }
void BM_PngDecodeToSurfaceByPixels(benchmark::State& s) { decodeAndConvert(s, pngStrip(), true); }
void BM_JpegGdDecodeOnly(benchmark::State& s) { gdDecodeAlone(s, jpegStrip(), true); }
void BM_JpegDecodeToSurface(benchmark::State& s) { decodeAndConvert(s, jpegStrip(), false); }
void BM_JpegDecodeToSurfaceByPixels(benchmark::State& s) { decodeAndConvert(s, jpegStrip(), true); }

// ---- the list repaint ----

// Rows as the comic list shows them: comic names and page labels. 200 such
// rows fit in one font's cache (524288 pixels; about 2600 pixels a row).
std::vector<std::string> listRows() {
    const char* names[] = {"Questionable", "Earthsong", "Snafu Comics", "Applegeeks",
                           "Chisuji",      "Npwil",     "Fhtagn",       "Tovik strips"};
    std::vector<std::string> rows;
    for (int i = 0; i < 200; ++i)
        rows.push_back(std::string(names[i % 8]) + " " + std::to_string(i));
    return rows;
}

SDL_Color black() {
    SDL_Color c;
    c.r = c.g = c.b = 34, c.unused = 0;
    return c;
}

std::unique_ptr<sdloo::TTF_FontClass> openFont(benchmark::State& state) {
    if (!std::filesystem::exists(veraPath)) {
        state.SkipWithError("no Vera.ttf");
        return nullptr;
    }
    return std::make_unique<sdloo::TTF_FontClass>(veraPath, 12);
}

void BM_ListRowsUncached(benchmark::State& state) {
    auto font = openFont(state);
    if (!font) return;
    auto rows = listRows();
    for (auto _ : state)
        for (const auto& row : rows) {
            sdloo::Surface s = font->render(row, black(), {}, sdloo::renderBlended);
            benchmark::DoNotOptimize(s.get());
        }
}

void BM_ListRowsCached(benchmark::State& state) {
    auto font = openFont(state);
    if (!font) return;
    auto rows = listRows();
    for (const auto& row : rows) font->renderCached(row, black());  // first paint
    for (auto _ : state) {
        sdloo::RenderScope repaint;
        for (const auto& row : rows) benchmark::DoNotOptimize(font->renderCached(row, black()));
    }
    state.counters["made"] = static_cast<double>(font->cacheMade());
}

// Remembers each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void ratio(const RatioReporter& r, const char* what, const std::string& a, const std::string& b) {
    auto ia = r.times.find(a), ib = r.times.find(b);
    if (ia == r.times.end() || ib == r.times.end() || ib->second <= 0) return;
    std::printf("%-52s %8.2f\n", what, ia->second / ib->second);
}

}  // namespace

BENCHMARK(BM_PngGdDecodeOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngDecodeToSurface)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngDecodeToSurfaceByPixels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegGdDecodeOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegDecodeToSurface)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegDecodeToSurfaceByPixels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListRowsUncached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListRowsCached)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    sdloo::startVideo();
    sdloo::startTTF();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (time / baseline time):\n");
    ratio(reporter, "PNG 900x3000: decode + toSurface / decode", "BM_PngDecodeToSurface",
          "BM_PngGdDecodeOnly");
    ratio(reporter, "PNG 900x3000: decode + pixel walk / decode", "BM_PngDecodeToSurfaceByPixels",
          "BM_PngGdDecodeOnly");
    ratio(reporter, "JPEG 800x1000: decode + toSurface / decode", "BM_JpegDecodeToSurface",
          "BM_JpegGdDecodeOnly");
    ratio(reporter, "JPEG 800x1000: decode + pixel walk / decode", "BM_JpegDecodeToSurfaceByPixels",
          "BM_JpegGdDecodeOnly");
    ratio(reporter, "200 list rows: uncached / cached (speed-up)", "BM_ListRowsUncached",
          "BM_ListRowsCached");
    benchmark::Shutdown();
    sdloo::stopTTF();
    sdloo::stopVideo();
    return 0;
}
