#include "extract/script_commands.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "extract/regex.hpp"
#include "extract/replacer.hpp"
#include "tools/failure.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

namespace extract::detail {

using tools::replaceAll;

namespace {

using RunState = SelectorScript::RunState;
using Command = SelectorScript::Command;

CommandPtr make(std::function<void(RunState&, std::string&)> exec, bool tryskip = false) {
    return std::make_shared<const Command>(Command{std::move(exec), tryskip});
}

// Decimal, leading blanks skipped, stopping at the first non-digit, no digits
// giving 0; saturates at the largest 64-bit value instead of wrapping.
std::int64_t number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::int64_t value = 0;
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        value = value > (max - digit) / 10 ? max : value * 10 + digit;
    }
    return value;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string join(const std::vector<std::string>& stack, const std::string& separator) {
    std::string joined;
    for (std::size_t i = 0; i < stack.size(); ++i) {
        if (i) joined += separator;
        joined += stack[i];
    }
    return joined;
}

bool cursorInText(RunState& r, const std::string& text) {
    if (r.cursor >= 0 && std::uint64_t(r.cursor) <= text.size()) return true;
    tools::logln("CUR out of bounds, is ", r.cursor, " from where[0..", text.size(), "], failing");
    r.failed = true;
    return false;
}

bool findForward(RunState& r, const std::string& text, const std::string& needle) {
    tools::logln("Go ", needle, " from ", r.cursor);
    if (!cursorInText(r, text)) return false;
    std::size_t at = text.find(needle, std::size_t(r.cursor));
    std::int64_t relative = at == std::string::npos ? -1 : std::int64_t(at) - r.cursor;
    tools::logln("Found at ", relative);
    if (at == std::string::npos) {
        r.failed = true;
        return false;
    }
    r.cursor = std::int64_t(at);
    return true;
}

bool findBackward(RunState& r, const std::string& text, const std::string& needle) {
    if (!cursorInText(r, text)) return false;
    std::size_t cursor = std::size_t(r.cursor);
    std::size_t at =
        needle.size() > cursor ? std::string::npos : text.rfind(needle, cursor - needle.size());
    if (at == std::string::npos) {
        r.failed = true;
        return false;
    }
    r.cursor = std::int64_t(at);
    return true;
}

void go(RunState& r, std::string& text, const std::string& needle) { findForward(r, text, needle); }
void goEnd(RunState& r, std::string& text, const std::string& needle) {
    tools::logln("Go End ", needle);
    if (findForward(r, text, needle)) r.cursor += std::int64_t(needle.size());
}
void goReverse(RunState& r, std::string& text, const std::string& needle) {
    findBackward(r, text, needle);
}
void goReverseEnd(RunState& r, std::string& text, const std::string& needle) {
    tools::logln("Go Reverse End ", needle);
    if (findBackward(r, text, needle)) r.cursor += std::int64_t(needle.size());
}

using Search = void (*)(RunState&, std::string&, const std::string&);

CommandPtr searchWith(Search how, const std::string& needle) {
    return make([how, needle](RunState& r, std::string& text) { how(r, text, needle); });
}

CommandPtr searchFromStack(Search how) {
    return make([how](RunState& r, std::string& text) {
        if (r.stack.empty()) {
            tools::logln("Stack empty, no needle, failing");
            r.failed = true;
            return;
        }
        std::string needle = r.stack.back();
        how(r, text, needle);
    });
}

CommandPtr moveCursor(const std::string& argument) {
    if (argument.empty()) throw tools::Failure("Invalid cur parameter " + quoted(argument));
    char sign = argument[0];
    if (sign != '+' && sign != '-') {
        std::int64_t n = number(argument);
        return make([n](RunState& r, std::string&) { r.cursor = n; });
    }
    std::int64_t n = number(std::string_view(argument).substr(1));
    std::int64_t by = sign == '+' ? n : -n;
    return make([by](RunState& r, std::string&) {
        tools::logln("Inc ", r.cursor, " by ", by);
        std::int64_t moved;
        if (__builtin_add_overflow(r.cursor, by, &moved) || moved < 0) {
            tools::logln("CUR out of bounds, moving ", r.cursor, " by ", by, ", failing");
            r.failed = true;
            return;
        }
        r.cursor = moved;
    });
}

void rewriteDate(RunState& r, std::int64_t n) {
    if (std::uint64_t(n) >= r.stack.size())
        throw std::runtime_error("Stack empty, cannot create date");
    std::string& element = r.stack[std::size_t(n)];
    tools::logln("Date transforming ", element);
    const std::size_t size = element.size();
    if (size == 6) {
        element = element.substr(4, 2) + "." + element.substr(2, 2) + "." + element.substr(0, 2);
    } else if (size >= 6 && element[size - 3] == '-' && element[size - 6] == '-') {
        if (size < 10) throw std::runtime_error("Cannot create date from " + quoted(element));
        element = element.substr(size - 10);
    } else {
        if (size < 8) throw std::runtime_error("Cannot create date from " + quoted(element));
        std::string last = element.substr(size - 8);
        element = last.substr(0, 4) + "-" + last.substr(4, 2) + "-" + last.substr(6, 2);
    }
    tools::logln("Result ", element);
}

bool isAlnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

void cleanSpaces(RunState& r, const std::string& specials) {
    if (r.stack.empty()) {
        tools::logln("Stack empty, nothing to clean, failing");
        r.failed = true;
        return;
    }
    tools::logln("Clean and Collapse Spaces");
    std::string& element = r.stack.back();
    replaceAll(element, "&quot;", "\"");
    replaceAll(element, "&nbsp;", " ");
    replaceAll(element, "&#8217;", "'");
    if (!element.empty() && specials.find(' ') != std::string::npos)
        throw tools::Failure("Can't use space in specials");
    auto kept = [&](char c) {
        return isAlnum(static_cast<unsigned char>(c)) || specials.find(c) != std::string::npos;
    };
    std::string cleaned;
    bool gap = false;
    for (char c : element) {
        if (!gap) {
            if (kept(c) || c == ' ') cleaned.push_back(c);
            if (!kept(c) || c == ' ') gap = true;
        } else if (kept(c)) {
            cleaned.push_back(c);
            gap = false;
        }
    }
    element = std::move(cleaned);
}

CommandPtr format(const std::string& text) {
    return make([text](RunState& r, std::string&) {
        tools::logln("Format ", text, " via ", r.stack);
        std::string result = text;
        for (std::size_t i = 0; i < r.stack.size(); ++i)
            replaceAll(result, "$" + std::to_string(i + 1), r.stack[i]);
        r.stack.assign(1, result);
        tools::logln("Result: ", r.stack);
    });
}

CommandPtr regexCommand(const std::string& expression) {
    auto rep = std::make_shared<const Replacer>(expression);
    return make([rep, expression](RunState& r, std::string& text) {
        std::vector<std::string> found = rep->apply(text);
        r.stack.insert(r.stack.begin(), std::make_move_iterator(found.begin()),
                       std::make_move_iterator(found.end()));
        tools::logln("Executed regex ", expression, ", result is ", r.stack);
    });
}

CommandPtr modex(const std::string& argument) {
    std::size_t second = argument.empty() ? std::string::npos : argument.find(argument[0], 1);
    if (second == std::string::npos)
        throw tools::Failure("Invalid modex parameter " + quoted(argument));
    auto pattern = std::make_shared<const EcmaRegex>(argument.substr(1, second - 1));
    std::string replacement = argument.substr(second + 1);
    return make([pattern, replacement, argument](RunState& r, std::string&) {
        if (r.stack.empty()) return;
        std::string& element = r.stack.front();
        std::string changed;
        bool found = pattern->first(element, [&](const RegexMatch& m) {
            changed.assign(m.before);
            expandFormat(changed, replacement, m.groups, m.before, m.after);
            changed.append(m.after);
        });
        if (found) element = std::move(changed);
        tools::logln("Executed modex ", argument, ", result is ", element);
    });
}

CommandPtr select(const std::string& argument) {
    std::int64_t n = number(argument);
    return make([n](RunState& r, std::string&) {
        if (std::uint64_t(n) >= r.stack.size())
            throw tools::Failure("Cannot select " + std::to_string(n) + " in stack of " +
                                 std::to_string(r.stack.size()));
        std::string kept = std::move(r.stack[std::size_t(n)]);
        r.stack.assign(1, std::move(kept));
    });
}

CommandPtr replaceCommand(const std::string& argument) {
    std::size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0)
        throw tools::Failure("Invalid replace parameter " + quoted(argument));
    std::string what = argument.substr(0, equals), with = argument.substr(equals + 1);
    return make([what, with](RunState& r, std::string&) {
        if (!r.stack.empty() && r.stack.front().find(what) != std::string::npos)
            replaceAll(r.stack.front(), what, with);
    });
}

CommandPtr testCharacter(const std::string& argument) {
    if (argument.size() != 1) throw tools::Failure("Invalid tcskip parameter " + quoted(argument));
    char wanted = argument[0];
    return make([wanted, argument](RunState& r, std::string& text) {
        if (r.cursor < 0 || std::uint64_t(r.cursor) >= text.size()) {
            tools::logln("CUR out of bounds, is ", r.cursor, " from where[0..", text.size(),
                         "], failing");
            r.failed = true;
            return;
        }
        char c = text[std::size_t(r.cursor)];
        tools::logln("if (c[", r.cursor, "]: ", c, " == ", argument, ") skip=1; ");
        if (c == wanted) r.skip = 1;
    });
}

CommandPtr pushMarked() {
    return make([](RunState& r, std::string& text) {
        if (r.start < 0 || r.end < r.start || std::uint64_t(r.end) > text.size()) {
            tools::logln("Push: ", r.start, " to ", r.end, " out of bounds [0..", text.size(),
                         "], failing");
            r.failed = true;
            return;
        }
        std::string piece = text.substr(std::size_t(r.start), std::size_t(r.end - r.start));
        tools::logln("Push: ", r.start, " to ", r.end, " [", piece);
        r.stack.push_back(std::move(piece));
    });
}

// Runs the tryskip at self: the command after it, and if that fails the one
// after that. Either may itself be a tryskip; such chains are walked with a
// stack of their own instead of the call stack, so thousands of tryskips in a
// row cannot overflow it.
void runTryskip(RunState& r, std::string& text, std::size_t self) {
    struct Open {
        std::size_t self;
        bool second;  // running the second command now
    };
    std::vector<Open> open;
    auto enter = [&](std::size_t at) {
        r.step();
        tools::logln("Try/skip");
        r.skip = 2;
        open.push_back({at, false});
        r.index = at + 1;
        return at + 1;
    };
    // The parser guarantees two top-level commands after every tryskip.
    std::size_t next = enter(self);
    for (;;) {
        if (r.commands[next]->tryskip) {
            next = enter(next);
            continue;
        }
        r.step();
        r.commands[next]->exec(r, text);
        // Back up through the tryskips whose command has now ended.
        for (;;) {
            if (open.empty()) return;
            Open& top = open.back();
            if (!top.second && r.failed) {
                r.failed = false;
                top.second = true;
                r.index = top.self + 2;
                next = top.self + 2;
                break;
            }
            r.index = top.self;
            open.pop_back();
        }
    }
}

CommandPtr tryskip() {
    return make([](RunState& r, std::string& text) { runTryskip(r, text, r.index); }, true);
}

}  // namespace

CommandPtr group(Program commands) {
    return make([commands = std::move(commands)](RunState& r, std::string& text) {
        for (const auto& c : commands) {
            r.step();
            c->exec(r, text);
        }
    });
}

// The argument command for a piece, if its keyword begins the piece.
CommandPtr argumentCommand(const std::string& piece) {
    static const std::vector<std::string> keywords = {
        "go ",     "goe ", "gor ",    "gore ", "cur ",   "date ",  "push ",   "join ",
        "tcskip ", "skip", "format ", "ccs",   "regex ", "modex ", "select ", "replace "};
    for (const std::string& keyword : keywords) {
        if (piece.compare(0, keyword.size(), keyword) != 0) continue;
        std::string argument = piece.substr(keyword.size());
        if (keyword == "go ") return searchWith(go, argument);
        if (keyword == "goe ") return searchWith(goEnd, argument);
        if (keyword == "gor ") return searchWith(goReverse, argument);
        if (keyword == "gore ") return searchWith(goReverseEnd, argument);
        if (keyword == "cur ") return moveCursor(argument);
        if (keyword == "date ") {
            std::int64_t n = number(argument);
            return make([n](RunState& r, std::string&) { rewriteDate(r, n); });
        }
        if (keyword == "push ")
            return make([argument](RunState& r, std::string&) { r.stack.push_back(argument); });
        if (keyword == "join ") {
            return make([argument](RunState& r, std::string&) {
                r.stack.assign(1, join(r.stack, argument));
                tools::logln("Joined to ", r.stack);
            });
        }
        if (keyword == "tcskip ") return testCharacter(argument);
        if (keyword == "skip") {
            std::int64_t n = number(argument);
            return make([n](RunState& r, std::string&) {
                tools::logln("skip = ", r.skip, " + ", n);
                r.skip = n;
            });
        }
        if (keyword == "format ") return format(argument);
        if (keyword == "ccs") {
            std::string specials = argument.empty() ? argument : argument.substr(1);
            return make([specials](RunState& r, std::string&) { cleanSpaces(r, specials); });
        }
        if (keyword == "regex ") return regexCommand(argument);
        if (keyword == "modex ") return modex(argument);
        if (keyword == "select ") return select(argument);
        return replaceCommand(argument);
    }
    return nullptr;
}

CommandPtr bareCommand(const std::string& piece) {
    if (piece == "nop") return make([](RunState&, std::string&) {});
    if (piece == "go") return searchFromStack(go);
    if (piece == "goe") return searchFromStack(goEnd);
    if (piece == "gor") return searchFromStack(goReverse);
    if (piece == "gore") return searchFromStack(goReverseEnd);
    if (piece == "start") {
        return make([](RunState& r, std::string&) {
            tools::logln("Start at ", r.cursor);
            r.start = r.cursor;
        });
    }
    if (piece == "end") {
        return make([](RunState& r, std::string&) {
            tools::logln("End at ", r.cursor);
            r.end = r.cursor;
        });
    }
    if (piece == "push") return pushMarked();
    if (piece == "flipstack") {
        return make([](RunState& r, std::string&) {
            tools::logln("Flip stack");
            std::reverse(r.stack.begin(), r.stack.end());
        });
    }
    if (piece == "tryskip") return tryskip();
    if (piece == "merge") {
        return make([](RunState& r, std::string&) {
            if (r.stack.size() < 2) throw tools::Failure("Stack length over 2");
            std::string last = std::move(r.stack.back());
            r.stack.pop_back();
            r.stack.back() += last;
            tools::logln("Merged to ", r.stack.back());
        });
    }
    if (piece == "join") {
        return make([](RunState& r, std::string&) {
            r.stack.assign(1, join(r.stack, ""));
            tools::logln("Joined to ", r.stack);
        });
    }
    return nullptr;
}

}  // namespace extract::detail
