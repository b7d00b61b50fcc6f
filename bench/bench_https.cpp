// The HTTP client over TLS against a loopback keep-alive TLS server: 300 pages of 20 KB,
// our client against curl fetching the same 300 URLs in one invocation (one kept-alive
// connection each). Prints the throughput ratio and the handshakes per 300 requests.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "downloader/downloader.hpp"
#include "tools/log.hpp"

// The test servers are test-support sources; the benchmark builds them in.
#include "../tests/support/http_server.cpp"
#include "../tests/support/tls_server.cpp"

namespace {

testsupport::TlsFront* front = nullptr;
std::string curlConfig;
const int pages = 300;
double handshakesPerRun = 0;

std::string page(int i) { return std::string(20000, static_cast<char>('a' + i % 26)); }

void BM_Tovik300HttpsPages(benchmark::State& state) {
    std::size_t handshakes = 0;
    for (auto _ : state) {
        downloader::dropIdleConnections();
        std::size_t before = downloader::tlsHandshakeCount();
        std::size_t bytes = 0;
        for (int i = 0; i < pages; ++i)
            bytes += downloader::fetchUrl(front->url("/p" + std::to_string(i))).size();
        handshakes += downloader::tlsHandshakeCount() - before;
        if (bytes != std::size_t{pages} * 20000) state.SkipWithError("wrong size");
    }
    handshakesPerRun = static_cast<double>(handshakes) / static_cast<double>(state.iterations());
    state.counters["handshakes"] = handshakesPerRun;
    state.SetBytesProcessed(state.iterations() * pages * 20000);
}

void BM_Curl300HttpsPages(benchmark::State& state) {
    std::string command = "curl -s -K " + curlConfig;
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
    state.SetBytesProcessed(state.iterations() * pages * 20000);
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
    tools::redirectLogOutput(quiet);  // "Received all data" per page would flood the table
    char directoryName[] = "/tmp/tovik-bench-https-XXXXXX";
    if (!mkdtemp(directoryName)) return 1;
    const std::string directory = directoryName;
    testsupport::TestCertificates certificates(directory);
    downloader::setExtraCaFile(certificates.caFile);
    testsupport::HttpServer server;
    testsupport::TlsFront tls(server, certificates.good);
    front = &tls;

    curlConfig = directory + "/curl.config";
    {
        std::ofstream config(curlConfig);
        config << "cacert = \"" << certificates.caFile << "\"\n";
        for (int i = 0; i < pages; ++i) {
            server.route("/p" + std::to_string(i), page(i));
            config << "url = \"" << tls.url("/p" + std::to_string(i)) << "\"\n"
                   << "output = \"/dev/null\"\n";
        }
    }

    benchmark::RegisterBenchmark("Tovik300HttpsPages", BM_Tovik300HttpsPages)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("Curl300HttpsPages", BM_Curl300HttpsPages)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double tovik = reporter.median("Tovik300HttpsPages/real_time");
    double curl = reporter.median("Curl300HttpsPages/real_time");
    if (tovik > 0 && curl > 0)
        std::printf("300 https pages: tovik throughput = %.2fx curl's (target >= 0.8)\n",
                    curl / tovik);
    std::printf("TLS handshakes per 300 requests: %.1f (target: 1, one pooled connection)\n",
                handshakesPerRun);
    benchmark::Shutdown();
    downloader::dropIdleConnections();
    std::filesystem::remove_all(directory);
    tools::redirectLogOutput(nullptr);
    std::fclose(quiet);
    return 0;
}
