#include "wendle/link_labels.hpp"

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

#include "tools/text.hpp"

namespace wendle {

namespace {

using namespace strength;

bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

const std::vector<std::vector<std::string_view>> roleWords = {
    {"next", "nxt", "forward", "forwards", "fwd", "newer", "following", "onward", "onwards"},
    {"prev", "previous", "back", "backward", "backwards", "older", "earlier", "prv", "bck"},
    {"first", "oldest", "start", "begin", "beginning", "earliest"},
    {"last", "latest", "newest", "end", "current", "recent", "final", "today"},
};

// Words that say nothing about a direction but do not make a label unrelated.
const std::set<std::string_view> fillers = {
    "comic", "comics",   "strip",      "strips",   "page",   "pages",   "episode", "chapter",
    "entry", "panel",    "issue",      "the",      "a",      "go",      "to",      "one",
    "nav",   "navi",     "navigation", "btn",      "button", "link",    "arrow",   "arrows",
    "icon",  "img",      "image",      "png",      "gif",    "jpg",     "jpeg",    "svg",
    "webp",  "webcomic", "cartoon",    "comicnav", "item",   "control", "ctrl",    "large",
    "small", "bar",      "menu",       "m",        "s",      "on",      "off",     "normal",
    "hover", "navbar",   "nv"};

// Arrow symbols written alone, and what they read as (strength per role).
struct SymbolReading {
    std::string_view symbol;
    int strength[roles];
};
const SymbolReading symbols[] = {
    {"\xE2\x80\xBA", {6, 0, 0, 0}},  // ›
    {"\xE2\x86\x92", {6, 0, 0, 0}},  // →
    {"\xE2\x96\xB6", {6, 0, 0, 0}},  // ▶
    {"\xE2\x96\xBA", {6, 0, 0, 0}},  // ►
    {"\xE2\x9F\xA9", {6, 0, 0, 0}},  // ⟩
    {"\xE3\x80\x89", {6, 0, 0, 0}},  // 〉
    {"\xE2\x8C\xAA", {6, 0, 0, 0}},  // 〉
    {"\xE2\x87\x92", {6, 0, 0, 0}},  // ⇒
    {">", {6, 0, 0, 0}},             //
    {"\xC2\xBB", {4, 0, 0, 5}},      // »
    {">>", {4, 0, 0, 5}},            //
    {"\xE2\x80\xB9", {0, 6, 0, 0}},  // ‹
    {"\xE2\x86\x90", {0, 6, 0, 0}},  // ←
    {"\xE2\x97\x80", {0, 6, 0, 0}},  // ◀
    {"\xE2\x97\x84", {0, 6, 0, 0}},  // ◄
    {"\xE2\x9F\xA8", {0, 6, 0, 0}},  // ⟨
    {"\xE3\x80\x88", {0, 6, 0, 0}},  // 〈
    {"\xE2\x8C\xA9", {0, 6, 0, 0}},  // 〈
    {"\xE2\x87\x90", {0, 6, 0, 0}},  // ⇐
    {"<", {0, 6, 0, 0}},             //
    {"\xC2\xAB", {0, 4, 5, 0}},      // «
    {"<<", {0, 4, 5, 0}},            //
    {"|<", {0, 0, 6, 0}},            //
    {"|<<", {0, 0, 6, 0}},           //
    {"\xE2\x8F\xAE", {0, 0, 6, 0}},  // ⏮
    {"\xE2\x87\xA4", {0, 0, 6, 0}},  // ⇤
    {">|", {0, 0, 0, 6}},            //
    {">>|", {0, 0, 0, 6}},           //
    {"\xE2\x8F\xAD", {0, 0, 0, 6}},  // ⏭
    {"\xE2\x87\xA5", {0, 0, 0, 6}},  // ⇥
};

// ASCII words, lowered, split at everything else and at lower-to-upper steps.
std::vector<std::string> wordList(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    auto flush = [&] {
        if (!word.empty()) words.push_back(tools::lowered(word));
        word.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (!isAlnum(c)) {
            flush();
            continue;
        }
        bool upper = std::isupper(static_cast<unsigned char>(c)) != 0;
        if (upper && !word.empty() && std::islower(static_cast<unsigned char>(word.back())))
            flush();
        word.push_back(c);
    }
    flush();
    return words;
}

// What is left of a label when letters, digits and blanks are taken out.
std::string symbolsOf(std::string_view text) {
    std::string out;
    for (char c : text)
        if (!isAlnum(c) && c != ' ' && c != '\t' && c != ':' && c != '.' && c != '-' && c != '_' &&
            c != '[' && c != ']' && c != '(' && c != ')' && c != '"' && c != '\'')
            out.push_back(c);
    return out;
}

int roleOfWord(std::string_view word) {
    for (int role = 0; role < roles; ++role)
        for (std::string_view known : roleWords[static_cast<std::size_t>(role)])
            if (word == known) return role;
    return -1;
}

// Reads a label (entities already decoded) with the strength `base`.
}  // namespace

LinkReading readLabel(std::string_view label, int base) {
    LinkReading reading;
    bool hit[roles] = {false, false, false, false};
    bool others = false;
    bool right = false, left = false;
    for (const std::string& word : wordList(label)) {
        int role = roleOfWord(word);
        if (role >= 0)
            hit[role] = true;
        else if (word == "right")
            right = true;
        else if (word == "left")
            left = true;
        else if (!fillers.count(word))
            others = true;
    }
    bool anyHit = false;
    for (int role = 0; role < roles; ++role)
        if (hit[role]) {
            reading.strength[role] = others ? unrelated : base;
            anyHit = true;
        }
    if (anyHit || others) return reading;
    if (right != left) {
        reading.strength[right ? 0 : 1] = 3;
        return reading;
    }
    std::string symbol = symbolsOf(label);
    if (symbol.empty()) return reading;
    for (const SymbolReading& known : symbols)
        if (symbol == known.symbol) {
            for (int role = 0; role < roles; ++role) reading.strength[role] = known.strength[role];
            return reading;
        }
    return reading;
}

LinkReading readToken(std::string_view token, int base) {
    LinkReading reading;
    int role = roleOfWord(tools::lowered(std::string(token)));
    if (role >= 0) reading.strength[role] = base;
    return reading;
}

std::string roleWordIn(std::string_view label) {
    for (const std::string& word : wordList(label))
        if (roleOfWord(word) >= 0) return word;
    return {};
}

}  // namespace wendle
