#include "tools/heap_reservation.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOVIK_OWN_ALLOCATOR 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define TOVIK_OWN_ALLOCATOR 0
#endif
#endif
#ifndef TOVIK_OWN_ALLOCATOR
#define TOVIK_OWN_ALLOCATOR 1
#endif

namespace tools {
namespace {

constexpr std::size_t mebibyte = std::size_t{1} << 20;
constexpr std::size_t hugePage = 2 * mebibyte;
// glibc's defaults, put back when the reservation ends.
constexpr int defaultTrimThreshold = 128 * 1024;
constexpr int defaultMmapThreshold = 128 * 1024;
// Blocks below glibc's largest mmap threshold come from the heap itself.
constexpr std::size_t blockSize = 16 * mebibyte;

}  // namespace

HeapReservation::HeapReservation(std::size_t bytes) {
#if defined(__GLIBC__) && TOVIK_OWN_ALLOCATOR
    if (bytes < 8 * mebibyte) return;
    bytes = std::min(bytes, std::size_t{1} << 30);
    // Freed blocks must stay in the heap, and the blocks must come from it.
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(bytes + blockSize));
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(blockSize + mebibyte));
    // Sized first: an allocation between two blocks would keep them apart.
    std::vector<void*> blocks;
    blocks.reserve(bytes / blockSize + 1);
    for (std::size_t got = 0; got < bytes; got += blockSize) {
        void* block = std::malloc(blockSize);
        if (!block) break;
        blocks.push_back(block);
    }
    mallopt(M_MMAP_THRESHOLD, defaultMmapThreshold);
    if (!blocks.empty()) {
        // The blocks lie one after the other at the heap's end: advise the
        // whole stretch at once, in whole huge pages.
        auto [low, high] = std::minmax_element(blocks.begin(), blocks.end());
        auto from = reinterpret_cast<std::uintptr_t>(*low);
        auto to = reinterpret_cast<std::uintptr_t>(*high) + blockSize;
        from = (from + hugePage - 1) & ~(hugePage - 1);
        to &= ~(hugePage - 1);
        if (to > from && ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE) == 0)
            reserved_ = to - from;
    }
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) std::free(*it);
#else
    (void)bytes;
#endif
}

HeapReservation::~HeapReservation() {
#if defined(__GLIBC__) && TOVIK_OWN_ALLOCATOR
    mallopt(M_TRIM_THRESHOLD, defaultTrimThreshold);
#endif
}

}  // namespace tools
