// Storage of 1,000 comics with 200 pages each: encode + build and read +
// decode, next to zlib alone deflating / inflating the same member bytes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "comics/serialize.hpp"
#include "comics/storage.hpp"

namespace {

constexpr int comicCount = 1000;
constexpr int pagesPerComic = 200;

std::vector<comics::ComicState> makeStates() {
    std::vector<comics::ComicState> states(comicCount);
    for (int c = 0; c < comicCount; ++c) {
        auto& s = states[c];
        std::string host = "www.comic-site-" + std::to_string(c) + ".com";
        for (int p = 0; p < pagesPerComic; ++p) {
            std::string date = "20" + std::to_string(10 + p % 14) + "/" +
                               std::to_string(1 + p % 12) + "/" + std::to_string(1 + p % 28);
            s.pages.push_back(
                comics::Page{"REFER=http://" + host + "/comic/" + date + "/page-" +
                                 std::to_string(p) + ".html " + host + "/strips/" + date +
                                 "-strip-" + std::to_string(p * 37 % 1000) + ".png",
                             "Chapter " + std::to_string(p / 20 + 1) +
                                 ": The long way home, page " + std::to_string(p % 20 + 1),
                             "", ""});
        }
        s.position = c % pagesPerComic;
        s.custom = std::string("\x20\0\0\0", 4) + host + "/comic/next.html" + std::string(8, '\0');
    }
    return states;
}

const std::vector<comics::ComicState>& states() {
    static auto* s = new std::vector<comics::ComicState>(makeStates());
    return *s;
}

std::vector<std::string> encodedMembers() {
    std::vector<std::string> out;
    for (const auto& s : states()) out.push_back(comics::serialize::encode(s));
    return out;
}

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_EncodeAndBuild(benchmark::State& state) {
    states();  // the input is made before the clock starts, as for the baseline
    std::size_t bytes = 0;
    for (auto _ : state) {
        comics::FileStorage storage;
        for (int c = 0; c < comicCount; ++c)
            storage.put("comic" + std::to_string(c), comics::serialize::encode(states()[c]));
        std::string zip = storage.build();
        bytes = zip.size();
        benchmark::DoNotOptimize(zip.data());
    }
    state.counters["zip_bytes"] = static_cast<double>(bytes);
    state.counters["peak_KiB"] = static_cast<double>(peakKiB());
}

void BM_ZlibDeflateBaseline(benchmark::State& state) {
    auto members = encodedMembers();
    for (auto _ : state) {
        std::size_t total = 0;
        for (const auto& m : members) {
            uLongf size = compressBound(m.size());
            std::string out(size, '\0');
            compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                      reinterpret_cast<const Bytef*>(m.data()), m.size(), Z_DEFAULT_COMPRESSION);
            total += size;
        }
        benchmark::DoNotOptimize(total);
    }
}

void BM_ReadAndDecode(benchmark::State& state) {
    comics::FileStorage storage;
    for (int c = 0; c < comicCount; ++c)
        storage.put("comic" + std::to_string(c), comics::serialize::encode(states()[c]));
    std::string zip = storage.build();
    for (auto _ : state) {
        comics::FileStorage back;
        back.read(zip);
        std::size_t pages = 0;
        for (int c = 0; c < comicCount; ++c)
            pages +=
                comics::serialize::decode(*back.share("comic" + std::to_string(c))).pages.size();
        benchmark::DoNotOptimize(pages);
    }
    state.counters["peak_KiB"] = static_cast<double>(peakKiB());
}

void BM_ZlibInflateBaseline(benchmark::State& state) {
    auto members = encodedMembers();
    std::vector<std::pair<std::string, std::size_t>> packed;
    for (const auto& m : members) {
        uLongf size = compressBound(m.size());
        std::string out(size, '\0');
        compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(m.data()), m.size(), Z_DEFAULT_COMPRESSION);
        out.resize(size);
        packed.emplace_back(std::move(out), m.size());
    }
    for (auto _ : state) {
        std::size_t total = 0;
        for (const auto& [data, original] : packed) {
            std::string out(original, '\0');
            uLongf size = original;
            uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                       reinterpret_cast<const Bytef*>(data.data()), data.size());
            total += size;
        }
        benchmark::DoNotOptimize(total);
    }
}

}  // namespace

BENCHMARK(BM_EncodeAndBuild)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDeflateBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflateBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
namespace {
void BM_ReadOnly(benchmark::State& state) {
    comics::FileStorage storage;
    for (int c = 0; c < comicCount; ++c)
        storage.put("comic" + std::to_string(c), comics::serialize::encode(states()[c]));
    std::string zip = storage.build();
    for (auto _ : state) {
        comics::FileStorage back;
        back.read(zip);
        benchmark::DoNotOptimize(back);
    }
}
void BM_DecodeOnly(benchmark::State& state) {
    auto members = encodedMembers();
    for (auto _ : state) {
        std::size_t pages = 0;
        for (const auto& m : members) pages += comics::serialize::decode(m).pages.size();
        benchmark::DoNotOptimize(pages);
    }
}
}  // namespace
BENCHMARK(BM_ReadOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMillisecond);
