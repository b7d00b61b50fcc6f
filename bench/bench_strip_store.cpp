// Showing a strip kept in the strip store on disk against showing it from the
// in-memory page cache: the reader's way to the bytes (loadStrip) and the
// decode that follows, for a PNG and a JPEG strip of typical sizes. The store
// read should be lost in the decode; the ratio is printed after the table.
#include <benchmark/benchmark.h>
#include <gd.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "comics/strip_source.hpp"
#include "comics/strip_store.hpp"
#include "downloader/downloader.hpp"
#include "reader/images.hpp"
#include "tools/log.hpp"

// The test server is a test-support source; the benchmark builds it in.
#include "../tests/support/http_server.cpp"

namespace {

testsupport::HttpServer* server = nullptr;
std::string storeDir;

// A strip-like picture: panels of flat colour with lines and a little noise.
std::string stripBytes(bool jpeg) {
    const int w = 900, h = 1300;
    gdImagePtr image = gdImageCreateTrueColor(w, h);
    gdImageFilledRectangle(image, 0, 0, w - 1, h - 1, gdTrueColor(250, 250, 245));
    unsigned seed = 7;
    for (int panel = 0; panel < 6; ++panel) {
        const int x = (panel % 2) * 450 + 10, y = (panel / 2) * 430 + 10;
        gdImageFilledRectangle(image, x, y, x + 420, y + 400,
                               gdTrueColor(80 + panel * 25, 160 - panel * 10, 200 - panel * 20));
        for (int line = 0; line < 60; ++line) {
            seed = seed * 1103515245 + 12345;
            const int x1 = x + static_cast<int>(seed % 420);
            seed = seed * 1103515245 + 12345;
            const int y1 = y + static_cast<int>(seed % 400);
            gdImageLine(image, x1, y1, x + 210, y + 200, gdTrueColor(20, 20, 20));
        }
    }
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245 + 12345;
        gdImageSetPixel(image, static_cast<int>(seed % w), static_cast<int>((seed >> 12) % h),
                        gdTrueColor(static_cast<int>(seed % 256), 90, 90));
    }
    int size = 0;
    void* bytes = jpeg ? gdImageJpegPtr(image, &size, 85) : gdImagePngPtr(image, &size);
    std::string out(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
    gdFree(bytes);
    gdImageDestroy(image);
    return out;
}

std::string refOf(const std::string& path) {
    return "REFER=" + server->url("/page.html") + " " + server->url(path);
}

void show(benchmark::State& state, const std::string& path, bool fromStore) {
    comics::useStripStore(fromStore ? storeDir : "");
    const std::string ref = refOf(path);
    // Both ways warm: the page cache holds the bytes, the store has its file.
    downloader::download(ref, {}, true);
    if (fromStore) comics::stripStore()->put(ref, downloader::download(ref, {}, true));
    for (auto _ : state) {
        comics::StripData strip = comics::loadStrip(ref);
        if (strip.fromStore != fromStore || strip.data.empty())
            state.SkipWithError("the strip came the wrong way");
        libgd::Image image = libgd::toImage(strip.data);
        if (!image) state.SkipWithError("no image");
        benchmark::DoNotOptimize(image.get());
    }
    comics::useStripStore("");
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.run_name.str()].push_back(run.GetAdjustedRealTime());
        ConsoleReporter::ReportRuns(runs);
    }
    double median(const std::string& name) {
        auto found = times.find(name);
        if (found == times.end()) return 0;
        std::vector<double> v = found->second;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::FILE* quiet = std::fopen("/dev/null", "w");
    tools::redirectLogOutput(quiet);
    testsupport::HttpServer httpServer;
    server = &httpServer;
    const std::string png = stripBytes(false), jpeg = stripBytes(true);
    httpServer.route("/strip.png", png, "image/png");
    httpServer.route("/strip.jpg", jpeg, "image/jpeg");
    char dirName[] = "/tmp/tovik-bench-strips-XXXXXX";
    if (!mkdtemp(dirName)) return 1;
    storeDir = dirName;
    std::printf("PNG strip %zu bytes, JPEG strip %zu bytes\n", png.size(), jpeg.size());

    for (const char* kind : {"png", "jpg"}) {
        const std::string path = std::string("/strip.") + kind;
        benchmark::RegisterBenchmark((std::string("MemoryCache/") + kind).c_str(), show, path,
                                     false)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark((std::string("StripStore/") + kind).c_str(), show, path, true)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* kind : {"png", "jpg"}) {
        const double memory = reporter.median(std::string("MemoryCache/") + kind + "/real_time");
        const double stored = reporter.median(std::string("StripStore/") + kind + "/real_time");
        if (memory > 0 && stored > 0)
            std::printf(
                "%s: showing a stored strip = %.2fx showing it from the page cache "
                "(target <= 1.5)\n",
                kind, stored / memory);
    }
    benchmark::Shutdown();
    std::filesystem::remove_all(storeDir);
    tools::redirectLogOutput(nullptr);
    std::fclose(quiet);
    return 0;
}
