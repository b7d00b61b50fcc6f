// The next-link crawler against a loopback comic site:
//  - one 300-page comic (pages of about 20 KB) crawled by a regex plugin, against
//    the downloader alone fetching the same 300 pages (crawl overhead, target <= 5%);
//  - the same crawl with pages served from memory: the crawler's own time per page;
//  - 64 comics of 50 pages, each page answered after 2 ms (a stand-in for a
//    distant server), updated at once on a 64-worker pool, against updating them
//    one after another (target >= 8x).
// Ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "downloader/limits.hpp"
#include "tools/log.hpp"
#include "tools/thread_pool.hpp"

// The test server is a test-support source; the benchmark builds it in.
#include "../tests/support/http_server.cpp"

namespace {

testsupport::HttpServer* server = nullptr;
std::atomic<int> latencyMicros{0};
std::string filler;  // page text around the links, the same on every page

// "/c<comic>/<n>.html" of a comic with `pages` pages.
std::string pagePath(int comic, int n) {
    return "/c" + std::to_string(comic) + "/" + std::to_string(n) + ".html";
}

std::string pageText(int comic, int n, int pages) {
    std::string text = "<html><head><title>Comic</title></head><body>\n<div class=\"nav\">";
    if (n > 1) text += "<a href=\"" + std::to_string(n - 1) + ".html\" rel=\"prev\">Prev</a>";
    if (n < pages) text += "<a href=\"" + std::to_string(n + 1) + ".html\" rel=\"next\">Next</a>";
    text += "</div>\n" + filler;
    text += "<h1 class=\"title\">Strip " + std::to_string(n) + "</h1>\n";
    text += "<img src=\"/strips/" + std::to_string(comic) + "/" + std::to_string(n) +
            ".png\" class=\"strip\">\n";
    text += filler + "</body></html>\n";
    return text;
}

// Pages are made on request: "/c<comic>/<n>.html?of=<pages>" is not needed since
// the page count is in the comic number's table.
std::map<int, int> pageCounts;

testsupport::HttpServer::Reply answer(const std::string& request) {
    int micros = latencyMicros.load();
    if (micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(micros));
    std::size_t from = request.find(' ') + 1;
    std::string path = request.substr(from, request.find(' ', from) - from);
    int comic = 0, n = 0;
    if (std::sscanf(path.c_str(), "/c%d/%d.html", &comic, &n) != 2 || !pageCounts.count(comic))
        return testsupport::HttpServer::response("", 404);
    return testsupport::HttpServer::response(pageText(comic, n, pageCounts.at(comic)));
}

std::string pluginText(int comic) {
    return "name=Comic " + std::to_string(comic) + "\nfilename=bench" + std::to_string(comic) +
           "\nstart=" + server->url(pagePath(comic, 1)) +
           "\nnext=@<a href=\"([^\"]*)\" rel=\"next\">@$1"
           "\nimages=@<img src=\"([^\"]*)\" class=\"strip\">@$1"
           "\ntitle=@<h1 class=\"title\">([^<]*)</h1>@$1\n";
}

// A fresh comic with its own storage (it is not re-read from a file).
struct FreshComic {
    comics::FileStorage storage;
    std::shared_ptr<comics::Comic> comic;
    explicit FreshComic(int number) {
        comic = comics::makePlugin(storage, "plugins/bench.re", pluginText(number));
        comic->active = false;
    }
};

const int longComic = 1000;
const int longPages = 300;
double overheadPercent = 0;

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU time of the calling thread (the client side of every exchange).
double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Each iteration fetches the 300 pages with the downloader alone and then crawls
// them, so both see the same machine load; the counters compare the two.
void BM_CrawlAgainstDownload300(benchmark::State& state) {
    double downloadTime = 0, crawlTime = 0, downloadCpu = 0, crawlCpu = 0;
    for (auto _ : state) {
        downloader::dropIdleConnections();
        auto t0 = std::chrono::steady_clock::now();
        double c0 = threadCpu();
        std::size_t bytes = 0;
        for (int n = 1; n <= longPages; ++n)
            bytes += downloader::download(server->url(pagePath(longComic, n))).size();
        benchmark::DoNotOptimize(bytes);
        auto t1 = std::chrono::steady_clock::now();
        double c1 = threadCpu();

        FreshComic c(longComic);
        downloader::dropIdleConnections();
        auto t2 = std::chrono::steady_clock::now();
        double c2 = threadCpu();
        c.comic->update({}, {});
        auto t3 = std::chrono::steady_clock::now();
        double c3 = threadCpu();
        downloadCpu += c1 - c0;
        crawlCpu += c3 - c2;
        if (c.comic->pageCount() != longPages) state.SkipWithError("wrong page count");
        downloadTime += seconds(t1 - t0);
        crawlTime += seconds(t3 - t2);
        state.SetIterationTime(seconds(t3 - t2));
    }
    const double pages = double(longPages) * double(state.iterations());
    state.counters["download_pages/s"] = pages / downloadTime;
    state.counters["crawl_pages/s"] = pages / crawlTime;
    state.counters["overhead_%"] = 100.0 * (crawlTime / downloadTime - 1.0);
    state.counters["client_cpu_overhead_%"] = 100.0 * (crawlCpu / downloadCpu - 1.0);
    overheadPercent = state.counters["overhead_%"];
}

// The same crawl with every page served from memory: what the crawler itself
// costs per page, without the network.
class MemoryComic : public comics::PluginComic<false, false, false> {
public:
    using PluginComic::PluginComic;

protected:
    // A copy of the page made beforehand, as a download hands over a fresh text.
    std::string downloadPage(const std::string& url) override {
        static const std::vector<std::string> texts = [] {
            std::vector<std::string> all(longPages + 1);
            for (int n = 1; n <= longPages; ++n) all[n] = pageText(longComic, n, longPages);
            return all;
        }();
        int comic = 0, n = 0;
        const std::size_t path = url.find("/c");
        if (std::sscanf(url.c_str() + path, "/c%d/%d.html", &comic, &n) != 2) return {};
        if (comic != longComic || n < 1 || n > longPages) return {};
        return texts[static_cast<std::size_t>(n)];
    }
};

void BM_CrawlFromMemory300(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        comics::FileStorage storage;
        auto comic =
            comics::create<MemoryComic>(storage, "plugins/bench.re", pluginText(longComic));
        comic->active = false;
        state.ResumeTiming();
        comic->update({}, {});
        if (comic->pageCount() != longPages) state.SkipWithError("wrong page count");
    }
    state.counters["us_per_page"] =
        benchmark::Counter(double(longPages) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

const int manyComics = 64;
const int manyPages = 50;

std::vector<std::unique_ptr<FreshComic>> makeMany() {
    std::vector<std::unique_ptr<FreshComic>> list;
    for (int i = 0; i < manyComics; ++i) list.push_back(std::make_unique<FreshComic>(i));
    return list;
}

bool allComplete(const std::vector<std::unique_ptr<FreshComic>>& list) {
    for (const auto& c : list)
        if (c->comic->pageCount() != manyPages) return false;
    return true;
}

void BM_UpdateOnPool(benchmark::State& state) {
    static tools::ThreadPool updatePool(64);
    latencyMicros = 2000;
    // Every comic here lives on the one loopback host, which a real update would
    // spread over 64 sites: the pool's parallelism is measured, not the limit of
    // connections one site gets.
    downloader::setConnectionsPerHost(64);
    for (auto _ : state) {
        state.PauseTiming();
        auto list = makeMany();
        state.ResumeTiming();
        for (auto& c : list) {
            auto comic = c->comic;
            updatePool.addTask("Global update for " + comic->toString(),
                               [comic] { comic->update({}, {}); });
        }
        while (updatePool.anyWork()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!allComplete(list)) state.SkipWithError("incomplete update");
    }
    downloader::setConnectionsPerHost(downloader::defaultConnectionsPerHost);
    latencyMicros = 0;
}

void BM_UpdateInTurn(benchmark::State& state) {
    latencyMicros = 2000;
    for (auto _ : state) {
        state.PauseTiming();
        auto list = makeMany();
        state.ResumeTiming();
        for (auto& c : list) c->comic->update({}, {});
        if (!allComplete(list)) state.SkipWithError("incomplete update");
    }
    latencyMicros = 0;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::FILE* quiet = std::fopen("/dev/null", "w");
    tools::redirectLogOutput(quiet);  // several lines per page would flood the table
    for (int i = 0; i < 40; ++i)
        filler +=
            "<p class=\"text\">Lorem ipsum dolor sit amet, consectetur adipiscing elit, "
            "sed do eiusmod tempor incididunt ut labore et dolore magna aliqua. Ut enim "
            "ad minim veniam, quis nostrud exercitation.</p>\n";
    pageCounts[longComic] = longPages;
    for (int i = 0; i < manyComics; ++i) pageCounts[i] = manyPages;
    testsupport::HttpServer httpServer;
    server = &httpServer;
    httpServer.fallback(answer);

    benchmark::RegisterBenchmark("Crawl300AgainstDownload", BM_CrawlAgainstDownload300)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->MinTime(2.0);
    benchmark::RegisterBenchmark("Crawl300FromMemory", BM_CrawlFromMemory300)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Update64OnPool", BM_UpdateOnPool)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("Update64InTurn", BM_UpdateInTurn)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.times;
    if (t.count("Crawl300AgainstDownload/min_time:2.000/manual_time"))
        std::printf("300-page crawl: overhead over the downloads alone = %.1f%% (target <= 5%%)\n",
                    overheadPercent);
    if (t.count("Update64OnPool/real_time") && t.count("Update64InTurn/iterations:1/real_time"))
        std::printf("64 comics x 50 pages: pool of 64 = %.1fx faster than in turn (target >= 8)\n",
                    t["Update64InTurn/iterations:1/real_time"] / t["Update64OnPool/real_time"]);
    benchmark::Shutdown();
    tools::redirectLogOutput(nullptr);
    std::fclose(quiet);
    return 0;
}
