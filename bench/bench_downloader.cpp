// The HTTP client against a loopback keep-alive server:
//  - 300 pages of 20 KB, our client against curl fetching the same 300 URLs in one
//    invocation (one kept-alive connection each);
//  - a 4 MB body sent in 4 KB chunks against the same body sent with Content-Length.
// Ratios are printed after the table.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "downloader/downloader.hpp"
#include "tools/log.hpp"

// The test server is a test-support source; the benchmark builds it in.
#include "../tests/support/http_server.cpp"

namespace {

testsupport::HttpServer* server = nullptr;
std::string curlConfig;
const int pages = 300;

std::string page(int i) { return std::string(20000, static_cast<char>('a' + i % 26)); }

void BM_Tovik300Pages(benchmark::State& state) {
    for (auto _ : state) {
        downloader::dropIdleConnections();
        std::size_t bytes = 0;
        for (int i = 0; i < pages; ++i)
            bytes += downloader::fetchUrl(server->url("/p" + std::to_string(i))).size();
        if (bytes != std::size_t{pages} * 20000) state.SkipWithError("wrong size");
    }
    state.SetBytesProcessed(state.iterations() * pages * 20000);
}

void BM_Curl300Pages(benchmark::State& state) {
    std::string command = "curl -s -K " + curlConfig;
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
    state.SetBytesProcessed(state.iterations() * pages * 20000);
}

void BM_Body4MB(benchmark::State& state, const std::string& path) {
    for (auto _ : state)
        if (downloader::fetchUrl(server->url(path)).size() != 4u << 20)
            state.SkipWithError("wrong size");
    state.SetBytesProcessed(state.iterations() * (4 << 20));
}

// Keeps each benchmark's real time per iteration (every repetition) for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.run_name.str()].push_back(run.GetAdjustedRealTime());
        ConsoleReporter::ReportRuns(runs);
    }
    // The median over the repetitions; 0 when the benchmark did not run.
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
    // Multi-megabyte bodies would otherwise get fresh pages from the kernel on some
    // iterations and reused heap memory on others (glibc's adaptive mmap threshold), which
    // swings the timings by a factor of three; keep them on the heap for every case alike.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    std::FILE* quiet = std::fopen("/dev/null", "w");
    tools::redirectLogOutput(quiet);  // "Received all data" per page would flood the table
    testsupport::HttpServer httpServer;
    server = &httpServer;
    std::string bigBody(4u << 20, 'x');
    for (std::size_t i = 0; i < bigBody.size(); i += 97)
        bigBody[i] = static_cast<char>('a' + i % 26);
    httpServer.route("/length", bigBody);
    httpServer.routeChunked("/chunked", bigBody, 4096);

    char configName[] = "/tmp/tovik-bench-curl-XXXXXX";
    int fd = mkstemp(configName);
    if (fd >= 0) close(fd);
    curlConfig = configName;
    {
        std::ofstream config(curlConfig);
        for (int i = 0; i < pages; ++i) {
            httpServer.route("/p" + std::to_string(i), page(i));
            config << "url = \"http://" << httpServer.url("/p" + std::to_string(i)) << "\"\n"
                   << "output = \"/dev/null\"\n";
        }
    }

    benchmark::RegisterBenchmark("Tovik300Pages", BM_Tovik300Pages)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("Curl300Pages", BM_Curl300Pages)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("Chunked4MB", BM_Body4MB, std::string("/chunked"))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("Length4MB", BM_Body4MB, std::string("/length"))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double tovik = reporter.median("Tovik300Pages/real_time");
    double curl = reporter.median("Curl300Pages/real_time");
    double chunked = reporter.median("Chunked4MB/real_time");
    double length = reporter.median("Length4MB/real_time");
    if (tovik > 0 && curl > 0)
        std::printf("300 pages: tovik throughput = %.2fx curl's (target >= 0.8)\n", curl / tovik);
    if (chunked > 0 && length > 0)
        std::printf("4 MB body: chunked time = %.2fx Content-Length time (target <= 1.5)\n",
                    chunked / length);
    benchmark::Shutdown();
    std::remove(curlConfig.c_str());
    tools::redirectLogOutput(nullptr);
    std::fclose(quiet);
    return 0;
}
