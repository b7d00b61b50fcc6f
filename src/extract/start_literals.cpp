#include "extract/start_literals.hpp"

#include <cstring>

namespace extract::detail {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool isQuantifier(char c) { return c == '?' || c == '*' || c == '+' || c == '{'; }

// The end of the bracket class starting at at ('['), just past its ']', or npos.
std::size_t classEnd(std::string_view p, std::size_t at) {
    std::size_t i = at + 1;
    if (i < p.size() && p[i] == '^') ++i;
    for (; i < p.size(); ++i) {
        if (p[i] == '\\') {
            ++i;
            continue;
        }
        if (p[i] == ']') return i + 1;
    }
    return std::string_view::npos;
}

// One letter in both cases ("[Pp]") or a plain letter or digit: the lower-case
// letter and the length read, or 0.
std::size_t wordItem(std::string_view p, std::size_t at, char& letter) {
    if (at >= p.size()) return 0;
    if (isAsciiLetter(p[at]) || isAsciiDigit(p[at])) {
        letter = lower(p[at]);
        return 1;
    }
    if (p[at] == '[' && at + 3 < p.size() && p[at + 3] == ']' && isAsciiLetter(p[at + 1]) &&
        p[at + 1] != p[at + 2] && lower(p[at + 1]) == lower(p[at + 2])) {
        letter = lower(p[at + 1]);
        return 4;
    }
    return 0;
}

}  // namespace

std::vector<StartLiteral> startLiterals(std::string_view p) {
    const std::vector<StartLiteral> none;
    if (p.size() < 2 || p[0] != '(' || p[1] == '?') return none;
    std::vector<StartLiteral> out;
    std::size_t i = 1;
    while (true) {
        StartLiteral literal{"", false};
        if (i < p.size() && (p[i] == '[' || p[i] == '.')) {
            char letter = 0;
            if (p[i] == '.' || wordItem(p, i, letter) == 0) {
                std::size_t end = p[i] == '.' ? i + 1 : classEnd(p, i);
                if (end == std::string_view::npos || (end < p.size() && isQuantifier(p[end])))
                    return none;
                literal.oneBefore = true;
                i = end;
            }
        }
        std::size_t wordEnd = i;
        while (true) {
            char letter = 0;
            std::size_t length = wordItem(p, i, letter);
            if (length == 0) break;
            if (i + length < p.size() && isQuantifier(p[i + length])) break;
            literal.word.push_back(letter);
            i += length;
            wordEnd = i;
        }
        if (literal.word.size() < 2) return none;
        out.push_back(std::move(literal));
        // The rest of the alternative, up to its '|' or the group's ')'.
        int depth = 0;
        for (i = wordEnd; i < p.size(); ++i) {
            char c = p[i];
            if (c == '\\') {
                ++i;
            } else if (c == '[') {
                i = classEnd(p, i);
                if (i == std::string_view::npos) return none;
                --i;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && depth > 0) {
                --depth;
            } else if ((c == '|' || c == ')') && depth == 0) {
                break;
            }
        }
        if (i >= p.size()) return none;
        if (p[i] == ')') {
            // A group that may be skipped tells nothing about the start.
            if (i + 1 < p.size() && (p[i + 1] == '?' || p[i + 1] == '*' || p[i + 1] == '{'))
                return none;
            // Nor does a pattern with another alternative after the group.
            depth = 0;
            for (++i; i < p.size(); ++i) {
                char c = p[i];
                if (c == '\\') {
                    ++i;
                } else if (c == '[') {
                    i = classEnd(p, i);
                    if (i == std::string_view::npos) return none;
                    --i;
                } else if (c == '(') {
                    ++depth;
                } else if (c == ')') {
                    --depth;
                } else if (c == '|' && depth <= 0) {
                    return none;
                }
            }
            return out;
        }
        ++i;  // past '|'
    }
}

StartFinder::StartFinder(const std::vector<StartLiteral>& literals, std::string_view text)
    : literals_(literals),
      text_(text),
      found_(literals.size(), 0),
      searchedFrom_(literals.size(), std::string_view::npos) {}

std::size_t StartFinder::find(const StartLiteral& literal, std::size_t from) const {
    const std::string& word = literal.word;
    const char first = word[0];
    const char upper = isAsciiLetter(first) ? static_cast<char>(first - 32) : first;
    const char* base = text_.data();
    const std::size_t size = text_.size();
    std::size_t lowAt = from, upAt = from;
    auto nextOf = [&](char c, std::size_t at) -> std::size_t {
        if (at >= size) return std::string_view::npos;
        const void* hit = std::memchr(base + at, c, size - at);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - base)
                   : std::string_view::npos;
    };
    std::size_t low = nextOf(first, lowAt);
    std::size_t up = upper == first ? std::string_view::npos : nextOf(upper, upAt);
    while (low != std::string_view::npos || up != std::string_view::npos) {
        const std::size_t at = low < up ? low : up;
        if (at + word.size() > size) return std::string_view::npos;
        std::size_t k = 1;
        while (k < word.size() && lower(base[at + k]) == word[k]) ++k;
        if (k == word.size()) return at;
        if (at == low)
            low = nextOf(first, at + 1);
        else
            up = nextOf(upper, at + 1);
    }
    return std::string_view::npos;
}

std::size_t StartFinder::next(std::size_t from) {
    std::size_t best = std::string_view::npos;
    for (std::size_t n = 0; n < literals_.size(); ++n) {
        const StartLiteral& literal = literals_[n];
        // The word must begin after from when a character goes before it.
        const std::size_t wordFrom = literal.oneBefore ? from + 1 : from;
        if (searchedFrom_[n] == std::string_view::npos || searchedFrom_[n] > wordFrom ||
            (found_[n] != std::string_view::npos && found_[n] < wordFrom)) {
            found_[n] = find(literal, wordFrom);
            searchedFrom_[n] = wordFrom;
        }
        std::size_t at = found_[n];
        if (at == std::string_view::npos) continue;
        if (literal.oneBefore) {
            // Back to the start of the character before the word.
            --at;
            while (at > from && (static_cast<unsigned char>(text_[at]) & 0xC0) == 0x80) --at;
        }
        if (at < best) best = at;
    }
    return best;
}

}  // namespace extract::detail
