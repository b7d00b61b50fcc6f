#pragma once
// Byte strings as characters for the regular expressions: UTF-8 read the way PCRE2
// validates it, with every byte outside a valid sequence standing for one opaque
// character of its own, and texts prepared for matching with a map back to their bytes.
//
// Thread safety: pure functions; a subject belongs to the one search that made it.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace extract::detail {

// Bytes that are not part of a valid UTF-8 sequence become the code points
// U+10FF00 + byte (the last 256 of plane 16, which real pages do not use).
inline constexpr char32_t opaqueBase = 0x10FF00;

// Length of the valid UTF-8 sequence starting at p (as PCRE2 validates it:
// shortest form, no surrogates, at most U+10FFFF), or 0.
std::size_t validSequence(const unsigned char* p, std::size_t n);

void appendUtf8(std::string& out, char32_t c);

// The code points of a byte string, invalid bytes as opaque characters.
std::u32string decodeLenient(std::string_view text);

// Length of the longest prefix of text that is valid UTF-8.
std::size_t validPrefix(std::string_view text);

// A text prepared for matching: the text itself where it is valid UTF-8,
// otherwise a copy with every invalid byte widened to its opaque character.
class MatchSubject {
public:
    // knownValid: the caller has found the whole text valid (validPrefix).
    explicit MatchSubject(std::string_view text, bool knownValid = false);
    MatchSubject(const MatchSubject&) = delete;
    MatchSubject& operator=(const MatchSubject&) = delete;

    std::string_view mapped() const { return mapped_; }

    // Offset in the original text of an offset in the mapped one (never inside
    // an opaque character: matches consist of whole characters).
    std::size_t original(std::size_t offset) const;

    std::string_view slice(std::size_t from, std::size_t to) const {
        std::size_t a = original(from);
        return original_.substr(a, original(to) - a);
    }

    std::string_view text() const { return original_; }

private:
    std::string_view original_;
    std::string_view mapped_;
    std::string storage_;
    std::vector<std::size_t> opaqueAt_;
};

}  // namespace extract::detail
