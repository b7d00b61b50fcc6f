#pragma once
// Loading a large storage builds every comic's pages in one go: tens of
// thousands of fresh 4 KiB pages of memory, each touched for the first time and
// each costing a page fault (about 10 µs in a virtual machine). A
// HeapReservation grows the heap once, beforehand, asking the system for
// transparent huge pages there, so the loading touches it in 2 MiB steps. What
// the loading does not use goes back to the system after the reservation ends,
// at the next release of memory. Without glibc, or under a sanitizer, it does
// nothing.
// Thread safety: for the start-up, before other threads allocate much; the
// allocator settings it changes are process wide.
#include <cstddef>

namespace tools {

class HeapReservation {
public:
    // Reserves about bytes (at most 1 GiB; nothing below 8 MiB).
    explicit HeapReservation(std::size_t bytes);
    ~HeapReservation();
    HeapReservation(const HeapReservation&) = delete;
    HeapReservation& operator=(const HeapReservation&) = delete;

    // Bytes advised for huge pages (0 when nothing was reserved).
    std::size_t reserved() const { return reserved_; }

private:
    std::size_t reserved_ = 0;
};

}  // namespace tools
