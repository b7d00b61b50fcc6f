#include "extract/pattern_translation.hpp"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "extract/lenient_utf8.hpp"

namespace extract {

namespace {

using detail::appendUtf8;
using detail::decodeLenient;

const char* const whitespaceSet =
    "\\x{9}-\\x{d}\\x{20}\\x{a0}\\x{1680}\\x{2000}-\\x{200a}\\x{2028}\\x{2029}\\x{202f}"
    "\\x{205f}\\x{3000}\\x{feff}";
const char* const nonWhitespaceSet =
    "\\x{0}-\\x{8}\\x{e}-\\x{1f}\\x{21}-\\x{9f}\\x{a1}-\\x{167f}\\x{1681}-\\x{1fff}"
    "\\x{200b}-\\x{2027}\\x{202a}-\\x{202e}\\x{2030}-\\x{205e}\\x{2060}-\\x{2fff}"
    "\\x{3001}-\\x{fefe}\\x{ff00}-\\x{10ffff}";
const char* const neverMatches = "[^\\x{0}-\\x{10ffff}]";
const char* const anyCharacter = "[\\x{0}-\\x{10ffff}]";

bool isDigit(char32_t c) { return c >= '0' && c <= '9'; }
bool isOctal(char32_t c) { return c >= '0' && c <= '7'; }
bool isHex(char32_t c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue(char32_t c) {
    if (isDigit(c)) return int(c - '0');
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return int(c - 'A' + 10);
}
bool isAsciiLetter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

std::string literal(char32_t c) {
    if (isAsciiLetter(c) || isDigit(c)) return std::string(1, char(c));
    char buffer[16];
    if (c < 0x80 && c > 0x20 && c != 0x7F) {
        buffer[0] = '\\';
        buffer[1] = char(c);
        return std::string(buffer, 2);
    }
    std::snprintf(buffer, sizeof buffer, "\\x{%x}", unsigned(c));
    return buffer;
}

class translator {
public:
    explicit translator(std::string_view pattern) : in_(decodeLenient(pattern)) { countGroups(); }

    std::string run() {
        while (pos_ < in_.size()) step();
        return out_;
    }

private:
    enum class last { nothing, atom, quantified, assertion };
    enum class group { plain, lookahead, lookbehind };

    // One item of a bracket class: a single character, or a set written as
    // PCRE2 class text (escapes such as \d, expanded \s, properties).
    struct classItem {
        bool single;
        char32_t c;
        std::string set;
    };

    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error(what + " at offset " + std::to_string(pos_));
    }

    bool at(std::size_t i, char32_t c) const { return i < in_.size() && in_[i] == c; }

    // Capturing groups of the whole pattern (back-references count them, also
    // those that come later) and whether any of them is named.
    void countGroups() {
        bool inClass = false;
        for (std::size_t i = 0; i < in_.size(); ++i) {
            char32_t c = in_[i];
            if (c == '\\') {
                ++i;
            } else if (inClass) {
                if (c == ']') inClass = false;
            } else if (c == '[') {
                inClass = true;
                if (at(i + 1, '^')) ++i;
                if (at(i + 1, ']')) {  // "[]" and "[^]" are complete classes
                    ++i;
                    inClass = false;
                }
            } else if (c == '(') {
                if (!at(i + 1, '?')) {
                    ++groupCount_;
                } else if (at(i + 2, '<') && !at(i + 3, '=') && !at(i + 3, '!')) {
                    ++groupCount_;
                    named_ = true;
                }
            }
        }
    }

    // Reads "{n}", "{n,}" or "{n,m}" at pos_; returns its length or 0.
    std::size_t bracedQuantifier(std::size_t i) const {
        std::size_t start = i;
        if (!at(i, '{')) return 0;
        ++i;
        if (i >= in_.size() || !isDigit(in_[i])) return 0;
        while (i < in_.size() && isDigit(in_[i])) ++i;
        if (at(i, ',')) {
            ++i;
            while (i < in_.size() && isDigit(in_[i])) ++i;
        }
        if (!at(i, '}')) return 0;
        return i + 1 - start;
    }

    void emitQuantifier(std::size_t length) {
        if (last_ != last::atom) fail("quantifier does not follow a repeatable item");
        for (std::size_t k = 0; k < length; ++k) out_.push_back(char(in_[pos_ + k]));
        pos_ += length;
        if (at(pos_, '?')) {
            out_.push_back('?');
            ++pos_;
        }
        last_ = last::quantified;
    }

    void step() {
        char32_t c = in_[pos_];
        switch (c) {
            case '*':
            case '+':
            case '?':
                emitQuantifier(1);
                return;
            case '{':
                if (std::size_t len = bracedQuantifier(pos_)) {
                    emitQuantifier(len);
                } else {
                    out_ += "\\{";
                    ++pos_;
                    last_ = last::atom;
                }
                return;
            case '.':
                out_ += "[^\\n\\r\\x{2028}\\x{2029}]";
                ++pos_;
                last_ = last::atom;
                return;
            case '^':
            case '$':
                out_.push_back(char(c));
                ++pos_;
                last_ = last::assertion;
                return;
            case '|':
                out_.push_back('|');
                ++pos_;
                last_ = last::nothing;
                return;
            case '(':
                openGroup();
                return;
            case ')':
                out_.push_back(')');
                ++pos_;
                if (groups_.empty()) {
                    last_ = last::atom;  // unbalanced: PCRE2 reports it
                } else {
                    last_ = groups_.back() == group::lookbehind ? last::assertion : last::atom;
                    groups_.pop_back();
                }
                return;
            case '[':
                bracketClass();
                last_ = last::atom;
                return;
            case '\\':
                escape();
                return;
            default:
                out_ += literal(c);
                ++pos_;
                last_ = last::atom;
                return;
        }
    }

    void openGroup() {
        ++pos_;
        last_ = last::nothing;
        if (!at(pos_, '?')) {
            out_.push_back('(');
            groups_.push_back(group::plain);
            return;
        }
        if (at(pos_ + 1, ':')) {
            out_ += "(?:";
            pos_ += 2;
            groups_.push_back(group::plain);
        } else if (at(pos_ + 1, '=') || at(pos_ + 1, '!')) {
            out_ += "(?";
            out_.push_back(char(in_[pos_ + 1]));
            pos_ += 2;
            groups_.push_back(group::lookahead);
        } else if (at(pos_ + 1, '<') && (at(pos_ + 2, '=') || at(pos_ + 2, '!'))) {
            out_ += "(?<";
            out_.push_back(char(in_[pos_ + 2]));
            pos_ += 3;
            groups_.push_back(group::lookbehind);
        } else if (at(pos_ + 1, '<')) {
            pos_ += 2;
            out_ += "(?<";
            while (pos_ < in_.size() && in_[pos_] != '>') appendUtf8(out_, in_[pos_++]);
            if (pos_ >= in_.size()) fail("syntax error in subpattern name (missing terminator?)");
            out_.push_back('>');
            ++pos_;
            groups_.push_back(group::plain);
        } else {
            fail("unrecognized character after (? or (?-");
        }
    }

    // Legacy octal escape at pos_ (first digit already known to be octal).
    char32_t octal() {
        char32_t first = in_[pos_++] - '0';
        char32_t value = first;
        if (pos_ < in_.size() && isOctal(in_[pos_])) {
            value = value * 8 + (in_[pos_++] - '0');
            if (first <= 3 && pos_ < in_.size() && isOctal(in_[pos_]))
                value = value * 8 + (in_[pos_++] - '0');
        }
        return value;
    }

    // "\x", "\u" escapes (pos_ at the letter). Returns false when the escape is
    // malformed (the letter then stands for itself); unit receives the value.
    bool hexEscape(char32_t& unit) {
        if (in_[pos_] == 'x') {
            if (pos_ + 2 < in_.size() && isHex(in_[pos_ + 1]) && isHex(in_[pos_ + 2])) {
                unit = char32_t(hexValue(in_[pos_ + 1]) * 16 + hexValue(in_[pos_ + 2]));
                pos_ += 3;
                return true;
            }
            return false;
        }
        // 'u'
        if (at(pos_ + 1, '{')) {
            std::size_t i = pos_ + 2;
            char32_t value = 0;
            while (i < in_.size() && isHex(in_[i]) && value <= 0x10FFFF)
                value = value * 16 + char32_t(hexValue(in_[i++]));
            if (i > pos_ + 2 && at(i, '}') && value <= 0x10FFFF) {
                unit = value;
                pos_ = i + 1;
                return true;
            }
            return false;
        }
        auto four = [&](std::size_t i, char32_t& v) {
            if (i + 4 > in_.size()) return false;
            v = 0;
            for (std::size_t k = 0; k < 4; ++k) {
                if (!isHex(in_[i + k])) return false;
                v = v * 16 + char32_t(hexValue(in_[i + k]));
            }
            return true;
        };
        char32_t value;
        if (!four(pos_ + 1, value)) return false;
        pos_ += 5;
        char32_t low;
        if (value >= 0xD800 && value <= 0xDBFF && at(pos_, '\\') && at(pos_ + 1, 'u') &&
            four(pos_ + 2, low) && low >= 0xDC00 && low <= 0xDFFF) {
            value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
            pos_ += 6;
        }
        unit = value;
        return true;
    }

    void escape() {
        ++pos_;  // the backslash
        if (pos_ >= in_.size()) fail("\\ at end of pattern");
        char32_t c = in_[pos_];
        last_ = last::atom;
        switch (c) {
            case 'd':
            case 'D':
            case 'w':
            case 'W':
                out_.push_back('\\');
                out_.push_back(char(c));
                ++pos_;
                return;
            case 's':
                out_ += std::string("[") + whitespaceSet + "]";
                ++pos_;
                return;
            case 'S':
                out_ += std::string("[") + nonWhitespaceSet + "]";
                ++pos_;
                return;
            case 'b':
            case 'B':
                out_.push_back('\\');
                out_.push_back(char(c));
                ++pos_;
                last_ = last::assertion;
                return;
            case 'k':
                if (named_ && at(pos_ + 1, '<')) {
                    out_ += "\\k<";
                    pos_ += 2;
                    while (pos_ < in_.size() && in_[pos_] != '>') appendUtf8(out_, in_[pos_++]);
                    if (pos_ >= in_.size()) fail("\\k is not followed by a group name");
                    out_.push_back('>');
                    ++pos_;
                    return;
                }
                break;
            case 'p':
            case 'P':
                if (at(pos_ + 1, '{')) {
                    std::size_t close = pos_ + 2;
                    while (close < in_.size() && in_[close] != '}') ++close;
                    if (close >= in_.size()) fail("malformed \\P or \\p sequence");
                    out_.push_back('\\');
                    for (std::size_t k = pos_; k <= close; ++k) appendUtf8(out_, in_[k]);
                    pos_ = close + 1;
                    return;
                }
                break;
            default:
                if (c >= '1' && c <= '9') {
                    std::size_t i = pos_;
                    std::size_t value = 0;
                    while (i < in_.size() && isDigit(in_[i]) && value <= groupCount_)
                        value = value * 10 + (in_[i++] - '0');
                    if (value <= groupCount_) {
                        out_ += "\\g{" + std::to_string(value) + "}";
                        pos_ = i;
                        return;
                    }
                    if (c >= '8') break;  // "\8", "\9": the digit itself
                    out_ += literal(octal());
                    return;
                }
                break;
        }
        char32_t unit;
        if (characterEscape(unit)) {
            if (isSurrogate(unit))
                out_ += neverMatches;  // a lone surrogate occurs in no UTF-8 text
            else
                out_ += literal(unit);
            return;
        }
        if (c == 'c') {  // "\c" without a control letter: a backslash, then "c"
            out_ += "\\\\";
            last_ = last::atom;
            return;
        }
        out_ += literal(c);  // identity escape
        ++pos_;
    }

    // Escapes naming one character, shared by patterns and classes (pos_ at the
    // letter after the backslash). False for "\c" without a control letter.
    bool characterEscape(char32_t& unit, bool inClass = false) {
        char32_t c = in_[pos_];
        switch (c) {
            case 't':
                unit = '\t';
                break;
            case 'n':
                unit = '\n';
                break;
            case 'v':
                unit = '\v';
                break;
            case 'f':
                unit = '\f';
                break;
            case 'r':
                unit = '\r';
                break;
            case '0':
                if (!(pos_ + 1 < in_.size() && isDigit(in_[pos_ + 1]))) {
                    unit = 0;
                    break;
                }
                unit = octal();
                return true;
            case 'c':
                if (pos_ + 1 < in_.size() &&
                    (isAsciiLetter(in_[pos_ + 1]) ||
                     (inClass && (isDigit(in_[pos_ + 1]) || in_[pos_ + 1] == '_')))) {
                    unit = in_[pos_ + 1] % 32;
                    pos_ += 2;
                    return true;
                }
                return false;
            case 'x':
            case 'u':
                if (hexEscape(unit)) return true;
                unit = c;
                break;
            default:
                if (inClass && isOctal(c)) {
                    unit = octal();
                    return true;
                }
                unit = c;  // identity escape
                break;
        }
        ++pos_;
        return true;
    }

    classItem classAtom() {
        char32_t c = in_[pos_];
        if (c != '\\') {
            ++pos_;
            return {true, c, {}};
        }
        ++pos_;
        if (pos_ >= in_.size()) fail("\\ at end of pattern");
        c = in_[pos_];
        switch (c) {
            case 'd':
            case 'D':
            case 'w':
            case 'W':
                ++pos_;
                return {false, 0, std::string("\\") + char(c)};
            case 's':
                ++pos_;
                return {false, 0, whitespaceSet};
            case 'S':
                ++pos_;
                return {false, 0, nonWhitespaceSet};
            case 'b':
                ++pos_;
                return {true, '\b', {}};
            case 'p':
            case 'P':
                if (at(pos_ + 1, '{')) {
                    std::size_t close = pos_ + 2;
                    while (close < in_.size() && in_[close] != '}') ++close;
                    if (close >= in_.size()) fail("malformed \\P or \\p sequence");
                    std::string set = "\\";
                    for (std::size_t k = pos_; k <= close; ++k) appendUtf8(set, in_[k]);
                    pos_ = close + 1;
                    return {false, 0, set};
                }
                break;
            default:
                break;
        }
        char32_t unit;
        if (characterEscape(unit, true)) return {true, unit, {}};
        return {true, '\\', {}};  // "\c" without a control letter; "c" follows
    }

    static std::string classText(const classItem& item) {
        if (!item.single) return item.set;
        if (isSurrogate(item.c)) return {};  // no UTF-8 text holds one
        return literal(item.c);
    }

    void bracketClass() {
        ++pos_;
        bool negated = false;
        if (at(pos_, '^')) {
            negated = true;
            ++pos_;
        }
        std::string body;
        for (;;) {
            if (pos_ >= in_.size()) fail("missing terminating ] for character class");
            if (in_[pos_] == ']') {
                ++pos_;
                break;
            }
            classItem first = classAtom();
            if (at(pos_, '-') && pos_ + 1 < in_.size() && in_[pos_ + 1] != ']') {
                ++pos_;
                classItem second = classAtom();
                if (first.single && second.single) {
                    if (first.c > second.c) fail("range out of order in character class");
                    // Surrogates occur in no UTF-8 text (and PCRE2 rejects them).
                    auto range = [&](char32_t low, char32_t high) {
                        body += literal(low);
                        if (high > low) body += "-" + literal(high);
                    };
                    char32_t low = first.c, high = second.c;
                    if (high < 0xD800 || low > 0xDFFF) {
                        range(low, high);
                    } else {
                        if (low < 0xD800) range(low, 0xD7FF);
                        if (high > 0xDFFF) range(0xE000, high);
                    }
                } else {
                    body += classText(first) + "\\-" + classText(second);
                }
            } else {
                body += classText(first);
            }
        }
        if (body.empty()) {
            out_ += negated ? anyCharacter : neverMatches;
            return;
        }
        out_ += negated ? "[^" : "[";
        out_ += body;
        out_ += "]";
    }

    std::u32string in_;
    std::size_t pos_ = 0;
    std::string out_;
    std::size_t groupCount_ = 0;
    bool named_ = false;
    last last_ = last::nothing;
    std::vector<group> groups_;
};

}  // namespace

std::string translateEcmaPattern(std::string_view pattern) { return translator(pattern).run(); }

}  // namespace extract
