#include "extract/replacer.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "extract/regex.hpp"
#include "extract/script.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

namespace extract {

using tools::replaceAll;

namespace {

const char* const fixedFormat = "here to generate a valid match";

// Every match of the pattern in text, each expanded with the format.
// (checked: the text is known to be valid UTF-8.)
void collect(const EcmaRegex& pattern, std::string_view format, std::string_view text, bool checked,
             std::vector<std::string>& out) {
    auto add = [&](const RegexMatch& m) {
        std::string piece;
        expandFormat(piece, format, m.groups, m.before, m.after);
        out.push_back(std::move(piece));
    };
    if (checked)
        pattern.forEach(CheckedText{text}, add);
    else
        pattern.forEach(text, add);
}

// The log text of a list, as the log writes lists, but cut after about
// maxLogList bytes: the chain logs its growing list once per key, which on a
// page with many keys would otherwise cost time and log space quadratic in
// their number.
constexpr std::size_t maxLogList = 2048;
std::string cappedList(const std::vector<std::string>& list) {
    std::string out = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (out.size() > maxLogList) {
            out += "... " + std::to_string(list.size() - i) + " more";
            break;
        }
        if (i > 0) out += ", ";
        out.append(list[i], 0, maxLogList);
    }
    out += ']';
    return out;
}

// The spacing loop, without a branch per byte (a page has a line break every
// few hundred bytes, too often for a memchr per break to pay), 32 bytes per
// step. to may be from.
[[gnu::always_inline]] inline void spaceLoop(char* to, const char* from, std::size_t n) {
    using Bytes = unsigned char __attribute__((vector_size(32)));
    std::size_t i = 0;
    for (; n - i >= 32; i += 32) {
        Bytes block;
        std::memcpy(&block, from + i, 32);
        const Bytes breaks = (block == '\r') | (block == '\n');  // 0xFF where one is
        block = (block & ~breaks) | (breaks & ' ');
        std::memcpy(to + i, &block, 32);
    }
    for (; i < n; ++i) {
        const char c = from[i];
        to[i] = c == '\r' || c == '\n' ? ' ' : c;
    }
}

#if defined(__x86_64__)
// The same loop in AVX2 instructions, a whole step in one; used where the
// processor has them. (Chosen at the first call, not by the loader: code the
// loader runs comes before the sanitizers' runtimes are ready.)
[[gnu::target("avx2")]] void spaceLoopAvx2(char* to, const char* from, std::size_t n) {
    spaceLoop(to, from, n);
}
#endif

void spaceBytes(char* to, const char* from, std::size_t n) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return spaceLoopAvx2(to, from, n);
#endif
    spaceLoop(to, from, n);
}

}  // namespace

void spaceLineBreaks(std::string& text) { spaceBytes(text.data(), text.data(), text.size()); }

void assignWithLineBreaksSpaced(std::string& out, std::string_view text) {
    out.resize(text.size());  // a buffer reused for pages of similar size fills little
    spaceBytes(out.data(), text.data(), text.size());
}

bool Replacer::spacesLineBreaks() const { return !script_ || script_->runsRegex(); }

void expandFormat(std::string& out, std::string_view format,
                  const std::vector<std::string_view>& groups, std::string_view before,
                  std::string_view after) {
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto group = [&](std::size_t n) {
        if (n < groups.size()) out.append(groups[n]);
    };
    const std::size_t n = format.size();
    for (std::size_t i = 0; i < n; ++i) {
        char c = format[i];
        if (c != '$') {
            out.push_back(c);
            continue;
        }
        if (i + 1 == n) {
            out.push_back('$');
            break;
        }
        char d = format[i + 1];
        if (d == '&') {
            group(0);
            ++i;
        } else if (d == '`') {
            out.append(before);
            ++i;
        } else if (d == '\'') {
            out.append(after);
            ++i;
        } else if (isDigit(d)) {
            if (i + 2 < n && isDigit(format[i + 2])) {
                std::size_t number = std::size_t(d - '0') * 10 + std::size_t(format[i + 2] - '0');
                if (number == 0)
                    out.append("$00");
                else
                    group(number);
                i += 2;
            } else {
                if (d == '0')
                    out.append("$0");
                else
                    group(std::size_t(d - '0'));
                ++i;
            }
        } else {
            out.push_back('$');
            out.push_back(d);
            ++i;
        }
    }
}

Replacer::Replacer(const std::string& expression) : expression_(expression) {
    if (expression.empty()) throw std::runtime_error("Empty replacer expression");
    const char separator = expression[0];
    std::string rest = expression.substr(1);
    if (separator == '!') {
        script_ = std::make_unique<const SelectorScript>(rest);
        return;
    }
    if (rest.find(separator) == std::string::npos) {
        rest.push_back(separator);
        rest += rest.find('(') != std::string::npos ? "$1" : fixedFormat;
    }
    std::size_t end = rest.find(separator);
    std::string regex = rest.substr(0, end);
    std::string remainder = rest.substr(end + 1);
    std::size_t formatEnd = remainder.find(separator);
    if (formatEnd == std::string::npos) {
        format_ = remainder;
    } else {
        format_ = remainder.substr(0, formatEnd);
        std::string chain = remainder.substr(formatEnd + 1);
        std::size_t from = 0;
        while (!chain.empty()) {
            std::size_t at = chain.find(separator, from);
            if (at == std::string::npos) {
                chain_.push_back(chain.substr(from));
                break;
            }
            chain_.push_back(chain.substr(from, at - from));
            from = at + 1;
        }
    }
    pattern_ = std::make_unique<const EcmaRegex>(regex);
}

Replacer::~Replacer() = default;

std::vector<std::string> Replacer::apply(const std::string& text) const {
    std::string copy = text;
    return apply(copy);
}

std::vector<std::string> Replacer::apply(std::string& text) const {
    if (script_) return script_->apply(text);
    spaceLineBreaks(text);
    return applyRegex(text, false);
}

std::vector<std::string> Replacer::applyToSpaced(std::string_view text, bool validUtf8) const {
    if (script_) {
        std::string copy(text);
        return script_->apply(copy);
    }
    return applyRegex(text, validUtf8);
}

std::vector<std::string> Replacer::applyRegex(std::string_view text, bool validUtf8) const {
    std::vector<std::string> results;
    try {
        collect(*pattern_, format_, text, validUtf8, results);
        if (chain_.empty()) return results;
        if (chain_.size() != 2)
            throw std::runtime_error("Invalid chain length " + std::to_string(chain_.size()));
        std::vector<std::string> names;
        for (const std::string& key : results) {
            std::string second = chain_[0];
            replaceAll(second, "\\match", key);
            tools::logln("Chaining log: natch is ", second, ", format: ", chain_[1]);
            EcmaRegex pattern(second);
            collect(pattern, chain_[1], text, validUtf8, names);
            tools::logln("nres@", cappedList(names));
        }
        tools::logln("Result in names: ", names);
        return names;
    } catch (const MatchLimitError& e) {
        throw MatchLimitError("Expression " + expression_ + " gave up (" + e.what() + ")");
    }
}

}  // namespace extract
