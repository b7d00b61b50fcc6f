#include "extract/lenient_utf8.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace extract::detail {

namespace {

char32_t decodeValid(const unsigned char* p, std::size_t len) {
    switch (len) {
        case 1:
            return p[0];
        case 2:
            return (char32_t(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
        case 3:
            return (char32_t(p[0] & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        default:
            return (char32_t(p[0] & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
                   (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    }
}

}  // namespace

std::size_t validSequence(const unsigned char* p, std::size_t n) {
    unsigned char c = p[0];
    if (c < 0x80) return 1;
    auto cont = [&](std::size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        return i < n && p[i] >= lo && p[i] <= hi;
    };
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c == 0xE0) return cont(1, 0xA0) && cont(2) ? 3 : 0;
    if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) return cont(1) && cont(2) ? 3 : 0;
    if (c == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (c == 0xF0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
    if (c >= 0xF1 && c <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (c == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

std::u32string decodeLenient(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t len = validSequence(p + i, n - i);
        if (len == 0) {
            out.push_back(opaqueBase + p[i]);
            ++i;
        } else {
            out.push_back(decodeValid(p + i, len));
            i += len;
        }
    }
    return out;
}

std::size_t validPrefix(std::string_view text) {
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // Pages are mostly ASCII: skip it 32 bytes at a time, then eight.
        while (i + 32 <= n) {
            std::uint64_t a, b, c, d;
            std::memcpy(&a, p + i, 8);
            std::memcpy(&b, p + i + 8, 8);
            std::memcpy(&c, p + i + 16, 8);
            std::memcpy(&d, p + i + 24, 8);
            if ((a | b | c | d) & 0x8080808080808080ull) break;
            i += 32;
        }
        while (i + 8 <= n) {
            std::uint64_t block;
            std::memcpy(&block, p + i, 8);
            if (block & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i >= n) break;
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = validSequence(p + i, n - i);
        if (len == 0) break;
        i += len;
    }
    return std::min(i, n);
}

MatchSubject::MatchSubject(std::string_view text, bool knownValid) : original_(text) {
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = knownValid ? n : validPrefix(text);
    if (i == n) {
        mapped_ = text;
        return;
    }
    storage_.reserve(n + 64);
    storage_.append(text.substr(0, i));
    while (i < n) {
        std::size_t len = validSequence(p + i, n - i);
        if (len == 0) {
            opaqueAt_.push_back(storage_.size());
            appendUtf8(storage_, opaqueBase + p[i]);
            ++i;
        } else {
            storage_.append(text.substr(i, len));
            i += len;
        }
    }
    mapped_ = storage_;
}

std::size_t MatchSubject::original(std::size_t offset) const {
    if (opaqueAt_.empty()) return offset;
    auto widened = std::lower_bound(opaqueAt_.begin(), opaqueAt_.end(), offset);
    return offset - 3 * std::size_t(widened - opaqueAt_.begin());
}

}  // namespace extract::detail
