#include "tools/heap_reservation.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr std::size_t mebibyte = std::size_t{1} << 20;

// Resident memory of the process, in bytes.
std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

bool sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

}  // namespace

TEST(HeapReservation, CostsAddressSpaceOnlyAndGoesBackAfterwards) {
    EXPECT_EQ(tools::HeapReservation(0).reserved(), 0u);
    EXPECT_EQ(tools::HeapReservation(4 * mebibyte).reserved(), 0u);
    {
        const std::size_t before = residentBytes();
        tools::HeapReservation reservation(96 * mebibyte);
        if (sanitized()) {
            EXPECT_EQ(reservation.reserved(), 0u);
            return;
        }
        EXPECT_GE(reservation.reserved(), 64 * mebibyte);
        // Nothing of it is touched until used.
        EXPECT_LT(residentBytes(), before + 16 * mebibyte);
        // Allocations made meanwhile work as usual.
        char* block = static_cast<char*>(std::malloc(8 * mebibyte));
        ASSERT_NE(block, nullptr);
        std::memset(block, 1, 8 * mebibyte);
        std::free(block);
    }
#if defined(__GLIBC__)
    // Afterwards the unused rest goes back at the next release at the heap's end.
    for (int round = 0; round < 4 && mallinfo2().keepcost > 4 * mebibyte; ++round) {
        // (Kept from the optimiser, which may drop a pair it can see through.)
        void* volatile small = std::malloc(64 * 1024);
        std::free(small);
    }
    EXPECT_LT(mallinfo2().keepcost, 4 * mebibyte);
#endif
}
