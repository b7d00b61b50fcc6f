#pragma once
// Binary encoding of a comic's state: 32-bit little-endian integers and
// length-prefixed strings. Encoding sizes the result first and writes into one
// buffer of exactly that size.
// Thread safety: pure functions; a Reader is used by one thread.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "comics/base.hpp"

namespace comics::serialize {

std::string encode(const ComicState& state);
// Raises "Problem: can't splinter " + n + " from " + rest when bytes run out.
// The pages' fields lie in `bytes`, which they keep alive: no copy per field.
ComicState decode(std::shared_ptr<const std::string> bytes);
// The same for bytes the caller keeps: they are copied once, whole.
ComicState decode(std::string_view bytes);

// Cursor over encoded bytes.
class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}
    std::string_view take(std::uint64_t n) {
        if (n > rest_.size()) splinter(n);
        std::string_view piece = rest_.substr(0, n);
        rest_.remove_prefix(n);
        return piece;
    }
    std::uint32_t u32() {
        std::string_view b = take(4);
        auto byte = [&](int i) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(b[i]));
        };
        return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::string str() {
        std::string out;
        strInto(out);
        return out;
    }
    // The next string into out, reusing out's buffer.
    void strInto(std::string& out) {
        std::string_view piece = take(u32());
        out.assign(piece.data(), piece.size());
    }
    std::size_t remaining() const { return rest_.size(); }

private:
    [[noreturn]] void splinter(std::uint64_t n) const;
    std::string_view rest_;
};

// Appends encoded items to a string (the crawler's resume point uses these).
void putU32(std::string& out, std::uint32_t value);
inline void putI32(std::string& out, std::int32_t value) {
    putU32(out, static_cast<std::uint32_t>(value));
}
void putStr(std::string& out, std::string_view text);

}  // namespace comics::serialize
