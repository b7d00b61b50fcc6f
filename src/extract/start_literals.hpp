#pragma once
// Where a match of an expression can start, told by literal words: for
// expressions that begin with a group of alternatives such as
// "([Pp][Rr][Ee][Vv]|[^Gg][Bb][Aa][Cc][Kk])", every match starts at a word of
// the group (letters compared without case), or one character before it when
// the alternative begins with a one-character class. The search engine then
// runs the expression only at those places; without such a group it searches
// as usual.
//
// Thread safety: an analysis is immutable once made; a StartFinder belongs to
// one search.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace extract::detail {

struct StartLiteral {
    std::string word;  // lower case
    bool oneBefore;    // the match starts one character before the word
};

// The start words of an ECMAScript pattern, or nothing when the pattern does not
// begin with such a group (or an alternative's word is shorter than two letters).
std::vector<StartLiteral> startLiterals(std::string_view pattern);

// The next places where a match may start, left to right, in a valid UTF-8 text.
class StartFinder {
public:
    StartFinder(const std::vector<StartLiteral>& literals, std::string_view text);
    // The first possible start at or after from (a character boundary), or npos.
    std::size_t next(std::size_t from);

private:
    std::size_t find(const StartLiteral& literal, std::size_t from) const;
    const std::vector<StartLiteral>& literals_;
    std::string_view text_;
    std::vector<std::size_t> found_;  // per literal: the word's last place found
    std::vector<std::size_t> searchedFrom_;
};

}  // namespace extract::detail
