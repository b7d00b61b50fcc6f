// Start-up of the reader plus "-h" over a user's real data (1,000 plugin files,
// 200,000 stored pages), against what merely reading that data takes: expanding
// the storage with "unzip -p" and reading every plugin file. Both run as child
// processes in the same directory, in the same iteration.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "comics/serialize.hpp"
#include "comics/storage.hpp"

namespace fs = std::filesystem;

namespace {

constexpr int plugins = 1000;
constexpr int pagesEach = 200;

void writeFile(const fs::path& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// The data set, built once.
struct DataSet {
    fs::path dir;
    DataSet() {
        std::string pattern = (fs::temp_directory_path() / "tovik-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir = pattern;
        fs::create_directory(dir / "plugins");
        comics::FileStorage storage;
        for (int i = 0; i < plugins; ++i) {
            std::string id = "comic" + std::to_string(1000 + i);
            writeFile(dir / "plugins" / (id + ".re"),
                      "name=Comic " + std::to_string(i) + "\nstart=http://www.example.com/" + id +
                          "/1\nnext=@<a href=\"([^\"]*)\" rel=\"next\">@$1\n"
                          "images=@<img src=\"([^\"]*)\" class=\"strip\">@$1\n"
                          "title=@<h1>([^<]*)</h1>@$1\n");
            comics::ComicState state;
            for (int p = 0; p < pagesEach; ++p) {
                std::string n = std::to_string(p);
                state.pages.push_back({"REFER=http://www.example.com/" + id + "/" + n +
                                           " http://www.example.com/strips/" + id + "-" + n +
                                           ".png",
                                       "Strip number " + n + " of " + id, "", ""});
            }
            state.position = i % pagesEach;
            state.custom = "resume";
            storage.put(id, comics::serialize::encode(state));
        }
        writeFile(dir / "storage.dat.zip", storage.build());
    }
    ~DataSet() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

DataSet& data() {
    static DataSet set;
    return set;
}

fs::path tovikBinary() {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tovik";
}

struct ChildRun {
    double seconds = 0;
    long peakKiB = 0;
};

// Runs a program in dir with standard output thrown away.
ChildRun runChild(const fs::path& dir, const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ChildRun r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKiB = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("child failed: " + argv[0]);
    return r;
}

double readPlugins(const fs::path& dir) {
    auto start = std::chrono::steady_clock::now();
    std::size_t total = 0;
    for (const auto& entry : fs::directory_iterator(dir / "plugins")) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        total += text.size();
    }
    benchmark::DoNotOptimize(total);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_StartupAndList(benchmark::State& state) {
    const fs::path dir = data().dir;
    const std::string tovik = tovikBinary().string();
    double tovikTotal = 0, baseTotal = 0;
    long peak = 0;
    for (auto _ : state) {
        ChildRun base = runChild(dir, {"unzip", "-p", "storage.dat.zip"});
        double baseline = base.seconds + readPlugins(dir);
        ChildRun run = runChild(dir, {tovik, "-h"});
        state.SetIterationTime(run.seconds);
        tovikTotal += run.seconds;
        baseTotal += baseline;
        peak = std::max(peak, run.peakKiB);
    }
    state.counters["baseline_ms"] = 1000 * baseTotal / static_cast<double>(state.iterations());
    state.counters["tovik_ms"] = 1000 * tovikTotal / static_cast<double>(state.iterations());
    state.counters["ratio"] = tovikTotal / baseTotal;  // target: at most 1.3
    state.counters["peak_MiB"] = static_cast<double>(peak) / 1024.0;
}
BENCHMARK(BM_StartupAndList)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
