#pragma once
// The limits of one HTTP client: they keep a hostile or broken server from hanging or
// exhausting it. A plain value; each client (see downloader.hpp) holds its own copy.
// Thread safety: copied, never shared.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace downloader {

struct Limits {
    std::chrono::milliseconds connectTimeout{15000};
    std::chrono::milliseconds receiveTimeout{30000};  // silence that fails an attempt
    std::chrono::milliseconds connectRetryWait{1000};
    std::size_t maxHeader = std::size_t{1} << 20;
    std::size_t maxBody = std::size_t{256} << 20;
    std::uint64_t maxChunk = std::uint64_t{256} << 20;
    int maxRedirects = 10;
};

}  // namespace downloader
