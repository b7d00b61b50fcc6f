#include "tools/text.hpp"

namespace tools {

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) return;
    std::size_t found = text.find(from);
    if (found == std::string::npos) return;
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    for (; found != std::string::npos; found = text.find(from, at)) {
        out.append(text, at, found - at);
        out.append(to);
        at = found + from.size();
    }
    out.append(text, at, std::string::npos);
    text.swap(out);
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace tools
