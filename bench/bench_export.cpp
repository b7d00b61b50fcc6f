// "-export" writes one archive per plugin. Writing 300 archives of 30 KB each:
// one crash-safe write per file (flushed one by one), the same files in one
// write batch (flushed together), and plain writes without any flush as the
// floor. Ratios: per-file / floor and batch / floor.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tools/files.hpp"

namespace {

constexpr int fileCount = 300;

const std::string& payload() {
    static const std::string data = [] {
        std::string s;
        for (int i = 0; s.size() < 30000; ++i) s += "page " + std::to_string(i * 7919) + "\n";
        return s;
    }();
    return data;
}

struct Scratch {
    std::filesystem::path dir;
    Scratch() {
        dir = std::filesystem::temp_directory_path() /
              ("tovik-bench-export-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    ~Scratch() { std::filesystem::remove_all(dir); }
    std::string file(int i) const {
        return (dir / ("comic" + std::to_string(i) + ".re.zip")).string();
    }
};

void BM_ExportOneSyncPerFile(benchmark::State& state) {
    Scratch scratch;
    for (auto _ : state)
        for (int i = 0; i < fileCount; ++i) tools::writeFileAtomically(scratch.file(i), payload());
}
BENCHMARK(BM_ExportOneSyncPerFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ExportBatch(benchmark::State& state) {
    Scratch scratch;
    for (auto _ : state) {
        tools::WriteBatch batch;
        for (int i = 0; i < fileCount; ++i) batch.add(scratch.file(i), payload());
        batch.commit();
    }
}
BENCHMARK(BM_ExportBatch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ExportWithoutSync(benchmark::State& state) {
    Scratch scratch;
    for (auto _ : state)
        for (int i = 0; i < fileCount; ++i) {
            std::ofstream out(scratch.file(i), std::ios::binary | std::ios::trunc);
            out << payload();
        }
}
BENCHMARK(BM_ExportWithoutSync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
