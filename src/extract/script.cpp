// The selector script: the text split into commands, "do"/"done" groups and the
// checks on them, and the run. The commands themselves are in script_commands.cpp.
#include "extract/script.hpp"

#include <algorithm>

#include "extract/script_commands.hpp"
#include "tools/failure.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

namespace extract {

using tools::replaceAll;

namespace {

using detail::CommandPtr;
using detail::Program;

// Groups and scripts inside "regex " arguments are run (and built) by nested
// calls; these bounds keep hostile plugins off the end of the stack.
constexpr std::size_t maxGroupDepth = 64;
constexpr int maxScriptNesting = 16;
thread_local int scriptNesting = 0;  // scripts being built on this thread

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::vector<std::string> pieces(std::string text) {
    replaceAll(text, "\\,", std::string(1, '\0'));
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        std::size_t comma = text.find(',', from);
        std::string piece = text.substr(from, comma == std::string::npos ? comma : comma - from);
        std::replace(piece.begin(), piece.end(), '\0', ',');
        piece.erase(0, piece.find_first_not_of(' ') == std::string::npos
                           ? piece.size()
                           : piece.find_first_not_of(' '));
        out.push_back(std::move(piece));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return out;
}

// Compiles the script text. Mistakes in the script itself raise errors: an
// unknown piece, unbalanced "do"/"done" (a "done" without "do" reports
// "Stack length 0 invalid!"), "tcskip " without exactly one byte, "cur " without
// an argument, "replace " without "=" or with nothing before it, "modex "
// without a second separator or with a bad pattern, a bad "regex " expression,
// "tryskip" inside a group or without two top-level commands after it.
Program parse(const std::string& text, bool& runsRegex) {
    std::vector<Program> open(1);
    std::vector<bool> hasTryskip(1, false);
    for (const std::string& piece : pieces(text)) {
        if (piece == "do") {
            // Groups run by nested calls: their depth is bounded.
            if (open.size() > maxGroupDepth)
                throw tools::Failure("Groups nested deeper than " + std::to_string(maxGroupDepth));
            open.emplace_back();
            hasTryskip.push_back(false);
            continue;
        }
        if (piece == "done") {
            if (open.size() < 2) throw tools::Failure("Stack length 0 invalid!");
            if (hasTryskip.back()) throw tools::Failure("Cannot use tryskip inside do/done");
            Program body = std::move(open.back());
            open.pop_back();
            hasTryskip.pop_back();
            tools::logln("Generated subfunction with length ", body.size());
            open.back().push_back(detail::group(std::move(body)));
            continue;
        }
        if (piece.starts_with("regex ")) runsRegex = true;
        bool added = false;
        for (CommandPtr c : {detail::argumentCommand(piece), detail::bareCommand(piece)}) {
            if (!c) continue;
            if (c->tryskip) hasTryskip.back() = true;
            open.back().push_back(std::move(c));
            added = true;
        }
        if (!added) throw std::runtime_error("Invalid command " + quoted(piece) + "!");
    }
    if (open.size() != 1)
        throw tools::Failure("Stack length " + std::to_string(open.size()) + " invalid!");
    const Program& main = open.front();
    for (std::size_t i = 0; i < main.size(); ++i)
        if (main[i]->tryskip && i + 2 >= main.size())
            throw tools::Failure("tryskip needs two commands after it");
    return std::move(open.front());
}

}  // namespace

SelectorScript::SelectorScript(const std::string& text) {
    struct Nesting {
        Nesting() { ++scriptNesting; }
        ~Nesting() { --scriptNesting; }
    } nesting;
    try {
        if (scriptNesting > maxScriptNesting)
            throw tools::Failure("Scripts nested deeper than " + std::to_string(maxScriptNesting));
        program_ = parse(text, runsRegex_);
    } catch (const std::exception& e) {
        tools::logln("Construction failed: ", e);
        throw;
    }
}

SelectorScript::~SelectorScript() = default;

std::size_t SelectorScript::size() const { return program_.size(); }

bool SelectorScript::runsRegex() const { return runsRegex_; }

std::vector<std::string> SelectorScript::apply(const std::string& text) const {
    std::string copy = text;
    return apply(copy);
}

std::vector<std::string> SelectorScript::apply(std::string& text) const {
    RunState r(program_);
    for (std::size_t i = 0; i < program_.size(); ++i) {
        r.index = i;
        if (r.skip > 0) {
            --r.skip;
            continue;
        }
        r.step();
        program_[i]->exec(r, text);
        if (r.failed) return {};
    }
    return r.stack;
}

}  // namespace extract
