#pragma once
// Shared by the fuzz targets. Each target is one LLVMFuzzerTestOneInput over a
// piece of the program that reads untrusted bytes: exceptions are the expected
// way to refuse input, so only crashes, sanitizer reports, leaks and hangs count
// as findings. The same entry functions run in the normal build through
// replay_main.cpp, which feeds them the seed corpora and the kept crash inputs.
// Thread safety: targets run on one thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "tools/log.hpp"

namespace fuzz {

// Drops the log lines of the calling (fuzzing) thread for the rest of the run.
inline void silenceLog() { static tools::QuietLog quiet; }

inline std::string bytes(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The input cut at its first line feed: (before, after); no line feed gives
// the whole input and an empty rest.
inline std::pair<std::string, std::string> splitFirstLine(std::string_view input) {
    std::size_t end = input.find('\n');
    if (end == std::string_view::npos) return {std::string(input), {}};
    return {std::string(input.substr(0, end)), std::string(input.substr(end + 1))};
}

}  // namespace fuzz
