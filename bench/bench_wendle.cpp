// A whole wendle dialogue against a 200-page loopback comic of the usual blog
// theme shape (pages of about 20 KB, navigation above and below the strip, head
// rel links, uploads by month), the answers given at once: wendle's own time
// (target under 2 s) and the pages it fetched (target <= 20). The baseline, in
// the same iterations, is the reader crawling the whole comic with the plugin
// the dialogue wrote.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "tools/log.hpp"
#include "wendle/dialogue.hpp"

// The test server is a test-support source; the benchmark builds it in.
#include "../tests/support/http_server.cpp"

namespace {

const int pages = 200;
testsupport::HttpServer* site = nullptr;
testsupport::HttpServer* search = nullptr;
std::string filler;

std::string month(int n) {
    int m = (n - 1) / 8 % 12 + 1;
    return "/" + std::to_string(2015 + (n - 1) / 96) + "/" + (m < 10 ? "0" : "") +
           std::to_string(m) + "/";
}

std::string pagePath(int n) { return "/comic/strip-" + std::to_string(n) + "/"; }

std::string pageText(int n) {
    const std::string host = "http://" + site->url("");
    auto link = [&](int k) { return host + pagePath(k); };
    std::string text =
        "<!DOCTYPE html><html><head><title>Strip " + std::to_string(n) +
        " &#8211; Bench Comic</title>\n<meta property=\"og:title\" content=\"Strip " +
        std::to_string(n) + "\" />\n";
    if (n > 1) text += "<link rel='prev' href='" + link(n - 1) + "' />\n";
    if (n < pages) text += "<link rel='next' href='" + link(n + 1) + "' />\n";
    text += "</head><body><img src=\"" + host + "/wp-content/themes/t/logo.png\">\n";
    std::string nav = "<div class=\"comic-nav\">";
    if (n > 1)
        nav += "<a href=\"" + link(1) + "\" class=\"navi navi-first\">&laquo; First</a><a href=\"" +
               link(n - 1) + "\" class=\"navi navi-prev\">&lsaquo; Prev</a>";
    if (n < pages)
        nav += "<a href=\"" + link(n + 1) +
               "\" class=\"navi navi-next\">Next &rsaquo;</a><a href=\"" + link(pages) +
               "\" class=\"navi navi-last\">Last &raquo;</a>";
    nav += "</div>\n";
    text += nav + filler + "<div id=\"comic\"><img src=\"" + host + "/wp-content/uploads" +
            month(n) + "strip-" + std::to_string(n) + ".png\"></div>\n" + nav + filler +
            "</body></html>\n";
    return text;
}

testsupport::HttpServer::Reply answer(const std::string& request) {
    std::size_t from = request.find(' ') + 1;
    std::string path = request.substr(from, request.find(' ', from) - from);
    if (path == "/") return testsupport::HttpServer::response(pageText(pages));
    int n = 0;
    if (std::sscanf(path.c_str(), "/comic/strip-%d/", &n) == 1 && n >= 1 && n <= pages)
        return testsupport::HttpServer::response(pageText(n));
    return testsupport::HttpServer::response("", 404);
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double dialogueSeconds = 0, crawlSeconds = 0;
double fetchesPerDialogue = 0;

void BM_WholeDialogue(benchmark::State& state) {
    std::filesystem::path work = std::filesystem::temp_directory_path() / "bench_wendle";
    std::filesystem::create_directories(work);
    std::filesystem::current_path(work);
    double dialogues = 0, crawls = 0, fetches = 0;
    for (auto _ : state) {
        downloader::dropIdleConnections();
        site->clearRecords();
        std::istringstream answers("Bench Comic\n1\ny\n\n");
        auto t0 = std::chrono::steady_clock::now();
        std::string written;
        {
            wendle::Dialogue dialogue(answers, {search->url("/search"), "plugins"});
            written = dialogue.run();
        }
        auto t1 = std::chrono::steady_clock::now();
        fetches += double(site->requestCount());
        if (written.empty()) {
            state.SkipWithError("no plugin written");
            break;
        }

        comics::FileStorage storage;
        auto comic = comics::makePlugin(storage, written, "");
        comic->active = false;
        downloader::dropIdleConnections();
        auto t2 = std::chrono::steady_clock::now();
        comic->update({}, {});
        auto t3 = std::chrono::steady_clock::now();
        if (comic->pageCount() != pages) state.SkipWithError("the plugin misses strips");
        dialogues += seconds(t1 - t0);
        crawls += seconds(t3 - t2);
        state.SetIterationTime(seconds(t1 - t0));
    }
    const double n = double(state.iterations());
    state.counters["page_fetches"] = fetches / n;
    state.counters["crawl_200_ms"] = 1000.0 * crawls / n;
    dialogueSeconds = dialogues / n;
    crawlSeconds = crawls / n;
    fetchesPerDialogue = fetches / n;
}

}  // namespace

int main(int argc, char** argv) {
    std::FILE* quiet = std::fopen("/dev/null", "w");
    tools::redirectLogOutput(quiet);  // the dialogue's questions would flood the table
    for (int i = 0; i < 60; ++i)
        filler +=
            "<p class=\"text\">Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do "
            "eiusmod tempor incididunt ut labore et dolore magna aliqua. Ut enim ad minim.</p>\n";
    testsupport::HttpServer siteServer, searchServer;
    site = &siteServer;
    search = &searchServer;
    siteServer.fallback(answer);
    searchServer.route(
        "/search?q=" + wendle::searchQuery("Bench Comic"),
        "<html><body><a href=\"http://" + siteServer.url("/") + "\">Bench Comic</a></body></html>");

    benchmark::RegisterBenchmark("WendleDialogue200Pages", BM_WholeDialogue)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->MinTime(2.0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (dialogueSeconds > 0)
        std::printf(
            "Whole dialogue, 200-page site: %.0f ms (target < 2000 ms), %.0f page fetches "
            "(target <= 20); %.2fx the time of the reader's crawl of all %d pages (%.0f ms)\n",
            1000.0 * dialogueSeconds, fetchesPerDialogue, dialogueSeconds / crawlSeconds, pages,
            1000.0 * crawlSeconds);
    benchmark::Shutdown();
    tools::redirectLogOutput(nullptr);
    std::fclose(quiet);
    return 0;
}
