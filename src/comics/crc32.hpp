#pragma once
// The CRC-32 of ZIP members (the polynomial and result of zlib's crc32()), by
// carry-less multiplication where the processor has it: ZIP members are
// checked whole when read and summed whole when written, so the checksum runs
// over every byte of the storage both ways.
// Thread safety: a pure function.
#include <cstdint>
#include <string_view>

namespace comics {

std::uint32_t crc32(std::string_view data);

}  // namespace comics
