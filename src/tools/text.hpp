#pragma once
// Small byte-string helpers shared by every layer.
// Thread safety: pure functions, callable from any thread.
#include <string>
#include <string_view>

namespace tools {

// Replaces every occurrence of `from`, left to right and without overlaps, in
// one pass. An empty `from` changes nothing.
void replaceAll(std::string& text, std::string_view from, std::string_view to);
inline std::string replacedAll(std::string text, std::string_view from, std::string_view to) {
    replaceAll(text, from, to);
    return text;
}

// ASCII letters in lower case; other bytes unchanged.
std::string lowered(std::string_view text);

}  // namespace tools
