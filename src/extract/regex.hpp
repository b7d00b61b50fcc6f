#pragma once
// Regular expressions in the ECMAScript dialect (as with the flags "gu"), run by
// PCRE2 with JIT. Used by the replacer and the selector script.
//
// - Patterns are translated to PCRE2 syntax first, so ECMAScript meanings hold:
//   "\s" is ECMAScript white space, "." matches one whole character other than
//   CR, LF, U+2028 and U+2029, "\d", "\w", "\b" are ASCII, "$" is the end of
//   the text only, escapes ECMAScript does not know ("\A", "\Z", "\h", "\Q", ...)
//   are the literal letter, "[[:" starts no POSIX class, "\N" is a back-reference
//   only when the pattern has N groups (else an octal escape or the digit),
//   "[]" never matches and "[^]" matches any character.
// - Texts are byte strings. Where a text (or a pattern) is not valid UTF-8, each
//   byte outside a valid sequence is one opaque character of its own: it matches
//   itself, "." and negated classes such as "[^<]"; every result holds the
//   original bytes.
// - Matching is bounded: a search that backtracks too much raises MatchLimitError
//   instead of hanging.
// - A compiled expression is immutable and may run on several threads at once.
//
// The translation lives in pattern_translation.cpp, the byte/character mapping in
// lenient_utf8.cpp, compiling and matching in regex.cpp.
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "extract/pattern_translation.hpp"

namespace extract {

// Raised when a search gives up on the match limit.
class MatchLimitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One match: the group texts (index 0 the whole match) as views into the text
// searched; an unset group is a null view (data() == nullptr).
struct RegexMatch {
    std::vector<std::string_view> groups;
    std::string_view before;  // the text before the match
    std::string_view after;   // the text after it
};

// Whether text is valid UTF-8 as a whole. A text known so may be searched by
// several expressions without each checking it again (see CheckedText).
bool isValidUtf8(std::string_view text);

// A text the caller has found valid UTF-8 with isValidUtf8.
struct CheckedText {
    std::string_view text;
};

class EcmaRegex {
public:
    // Throws std::runtime_error with the engine's message on a bad pattern.
    explicit EcmaRegex(const std::string& pattern);
    ~EcmaRegex();
    EcmaRegex(const EcmaRegex&) = delete;
    EcmaRegex& operator=(const EcmaRegex&) = delete;

    // Every match, left to right, each search resuming where the last match ended
    // (one character further after an empty match). The visitor gets each match;
    // its views are valid during the call only.
    template <class Visitor>
    void forEach(std::string_view text, Visitor&& visit) const {
        search(
            text, false, true,
            [](void* v, const RegexMatch& m) {
                (*static_cast<std::remove_reference_t<Visitor>*>(v))(m);
            },
            &visit);
    }
    template <class Visitor>
    void forEach(CheckedText text, Visitor&& visit) const {
        search(
            text.text, true, true,
            [](void* v, const RegexMatch& m) {
                (*static_cast<std::remove_reference_t<Visitor>*>(v))(m);
            },
            &visit);
    }
    // The first match only; false when there is none.
    template <class Visitor>
    bool first(std::string_view text, Visitor&& visit) const {
        return search(
            text, false, false,
            [](void* v, const RegexMatch& m) {
                (*static_cast<std::remove_reference_t<Visitor>*>(v))(m);
            },
            &visit);
    }

    const std::string& pattern() const { return pattern_; }
    // Number of capturing groups.
    std::size_t groups() const;
    // The pattern as handed to PCRE2 (tests and diagnostics).
    const std::string& translated() const { return translated_; }

    struct Compiled;  // the compiled pattern and its group count

private:
    using RawVisitor = void (*)(void*, const RegexMatch&);
    bool search(std::string_view text, bool checked, bool all, RawVisitor visit,
                void* context) const;

    std::string pattern_;
    std::string translated_;
    std::unique_ptr<Compiled> code_;
};

}  // namespace extract
