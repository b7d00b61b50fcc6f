// The toolkit under a reader-sized tree on a 1,280 x 1,024 dummy screen: a
// scroll box of 2,000 rows (expander, button with a two-part formatted text)
// beside an image view of a 900 x 3,000 strip, in a split.
// - a full repaint and a repaint of unchanged text, against SDL alone
//   blitting the same visible surfaces (the cached renderings of the rows in
//   view and the strip's visible part) and flipping (target: within 2x);
// - one wheel step on the list: the event pass plus the repaints it causes
//   (target: under 16 ms);
// - an event pass with 100 coalesced motions.
// The ratios (of CPU times: the machine is shared) are printed after the table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gui/base.hpp"
#include "gui/composites.hpp"
#include "gui/layouts.hpp"
#include "gui/leaves.hpp"
#include "gui/scrolling.hpp"
#include "gui/sdl_bridge.hpp"
#include "gui/showsurf.hpp"
#include "sdloo/window.hpp"

namespace {

using namespace gui;

constexpr int screenW = 1280, screenH = 1024;
constexpr int rowCount = 2000, rowHeight = 20;
constexpr int splitAt = 300;

const char* fontFile() {
    const char* env = std::getenv("TOVIK_BENCH_FONT");
    return env ? env : "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";
}

std::string countText(int i) { return std::to_string(i % 50) + "/" + std::to_string(50) + " "; }
std::string nameText(int i) { return "Comic number " + std::to_string(i); }

WidgetPtr makeRow(int i) {
    auto parts = std::make_shared<formattedText>(
        std::vector<dgValue<std::string>>{countText(i), nameText(i)});
    parts->settings[0].bold = i % 2 == 0;
    auto comic = std::make_shared<button>(parts, false, [] {});
    return std::make_shared<fixedSplit>(false, 16, std::make_shared<text>(i % 3 ? "+" : "-"),
                                        comic);
}

struct Window {
    Window() {
        if (!SDL_SetVideoMode(screenW, screenH, 32, SDL_RESIZABLE)) std::abort();
        auto theme = std::make_shared<style>(fontFile());
        setDefaultStyle(theme);
        list = std::make_shared<fixedscrollbox>(rowHeight, [](int from, int to) {
            WidgetList rows(rowCount);
            for (int i = std::max(from, 0); i <= to && i < rowCount; ++i) rows[i] = makeRow(i);
            return rows;
        });
        sdloo::Surface strip = sdloo::makeSurface(900, 3000);
        for (int y = 0; y < 3000; y += 10) {
            SDL_Rect band{0, static_cast<Sint16>(y), 900, 10};
            SDL_FillRect(strip.get(), &band,
                         SDL_MapRGB(strip->format, static_cast<Uint8>(y), 100, 200));
        }
        image = std::make_shared<showsurf>(std::move(strip));
        root = std::make_shared<splitWidget>(true, list, image, splitAt);
        bridge = std::make_unique<sdl_bridge>(root);
        theme->bridge = bridge.get();
        sdl_bridge* b = bridge.get();
        theme->requestRepaint = [b] { b->requestRepaint(false); };
        bridge->requestRepaint(true);
        bridge->repaint();  // first paint: renderings made and cached
    }
    ~Window() {
        bridge.reset();
        setDefaultStyle(nullptr);
    }

    std::shared_ptr<fixedscrollbox> list;
    std::shared_ptr<showsurf> image;
    std::shared_ptr<splitWidget> root;
    std::unique_ptr<sdl_bridge> bridge;
};

Window& window() {
    static Window* w = new Window;
    return *w;
}

void pushWheel(bool up, int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = up ? SDL_BUTTON_WHEELUP : SDL_BUTTON_WHEELDOWN;
    e.button.x = static_cast<Uint16>(x);
    e.button.y = static_cast<Uint16>(y);
    SDL_PushEvent(&e);
    e.type = SDL_MOUSEBUTTONUP;
    SDL_PushEvent(&e);
}

void BM_FullRepaint(benchmark::State& state) {
    Window& w = window();
    for (auto _ : state) {
        w.bridge->requestRepaint(true);
        benchmark::DoNotOptimize(w.bridge->repaint());
    }
}

void BM_UnchangedRepaint(benchmark::State& state) {
    Window& w = window();
    for (auto _ : state) {
        w.bridge->requestRepaint(false);
        benchmark::DoNotOptimize(w.bridge->repaint());
    }
}

// SDL alone: the visible rows' cached renderings and the strip's visible
// part blitted where the tree puts them, then a flip.
void BM_SdlBlitsOfTheSameSurfaces(benchmark::State& state) {
    Window& w = window();
    style& st = *defaultStyle();
    struct Blit {
        SDL_Surface* surface;
        SDL_Rect src, dst;
    };
    std::vector<Blit> blits;
    const int visibleRows = screenH / rowHeight + 1;
    sdloo::RenderScope keep;  // the renderings stay alive for the whole run
    for (int i = 0; i < visibleRows; ++i) {
        const int y = 1 + i * rowHeight + 2;
        int x = 20;
        SDL_Surface* marker = st.font->renderCached(i % 3 ? "+" : "-", st.textColour.toSDLColor());
        blits.push_back(
            {marker, {0, 0, Uint16(marker->w), Uint16(marker->h)}, {Sint16(4), Sint16(y), 0, 0}});
        for (const std::string& part : {countText(i), nameText(i)}) {
            SDL_Surface* r = st.font->renderCached(part, rgba(0, 0, 0).toSDLColor());
            blits.push_back({r, {0, 0, Uint16(r->w), Uint16(r->h)}, {Sint16(x), Sint16(y), 0, 0}});
            x += r->w;
        }
    }
    SDL_Surface* strip = w.image->surface();
    const rect view = w.image->view;
    blits.push_back({strip,
                     {0, 0, Uint16(std::min(view.w, strip->w)), Uint16(std::min(view.h, strip->h))},
                     {Sint16(view.x), Sint16(view.y), 0, 0}});
    for (auto _ : state) {
        for (Blit& b : blits) {
            SDL_Rect dst = b.dst;
            SDL_BlitSurface(b.surface, &b.src, w.bridge->screen(), &dst);
        }
        SDL_Flip(w.bridge->screen());
    }
    state.counters["blits"] = static_cast<double>(blits.size());
}

void BM_WheelStepOnTheList(benchmark::State& state) {
    Window& w = window();
    bool up = true;  // turned to down on the first step
    int steps = 0;
    for (auto _ : state) {
        // Back and forth, so the list never sticks at an end.
        if (steps++ % 400 == 0) up = !up;
        pushWheel(up, 100, 500);
        w.bridge->processEvents();
        benchmark::DoNotOptimize(w.bridge->repaint());
    }
    state.counters["offset"] = w.list->offset();
}

void BM_HundredCoalescedMotions(benchmark::State& state) {
    Window& w = window();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 1; i <= 100; ++i) {
            SDL_Event e{};
            e.type = SDL_MOUSEMOTION;
            e.motion.x = static_cast<Uint16>(50 + i);
            e.motion.y = static_cast<Uint16>(100 + 3 * i);
            SDL_PushEvent(&e);
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(w.bridge->processEvents());
    }
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
    std::printf("%-56s %8.2f\n", what, ia->second / ib->second);
}

}  // namespace

BENCHMARK(BM_SdlBlitsOfTheSameSurfaces)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnchangedRepaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WheelStepOnTheList)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HundredCoalescedMotions)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    sdloo::startVideo();
    sdloo::startTTF();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (time / baseline time):\n");
    ratio(reporter, "unchanged repaint / SDL blits of the same surfaces", "BM_UnchangedRepaint",
          "BM_SdlBlitsOfTheSameSurfaces");
    ratio(reporter, "full repaint / SDL blits of the same surfaces", "BM_FullRepaint",
          "BM_SdlBlitsOfTheSameSurfaces");
    ratio(reporter, "wheel step / SDL blits of the same surfaces", "BM_WheelStepOnTheList",
          "BM_SdlBlitsOfTheSameSurfaces");
    benchmark::Shutdown();
    setDefaultStyle(nullptr);  // its fonts close before SDL_ttf shuts down
    sdloo::stopTTF();
    sdloo::stopVideo();
    return 0;
}
