#pragma once
// Translation of ECMAScript patterns (as with the flags "gu") to PCRE2 syntax, so that
// ECMAScript meanings hold when PCRE2 runs them (see regex.hpp for the list).
//
// Thread safety: a pure function.
#include <string>
#include <string_view>

namespace extract {

// Translates an ECMAScript pattern to PCRE2 syntax (the pattern's invalid UTF-8
// bytes become opaque characters). Throws std::runtime_error on constructs
// ECMAScript rejects that PCRE2 would read otherwise.
std::string translateEcmaPattern(std::string_view pattern);

}  // namespace extract
