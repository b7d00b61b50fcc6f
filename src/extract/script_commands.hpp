#pragma once
// The commands of the selector script (script.hpp), each made from its piece of the
// script text.
//
// Argument commands (keyword, argument):
//   "go " s      find s forward from the cursor; the cursor moves to its start
//   "goe " s     the same; the cursor moves to just after it
//   "gor " s     find the last s wholly before the cursor; the cursor moves to its start
//   "gore " s    the same; the cursor moves to just after it
//   "cur " +N/-N/N   move the cursor by N, back by N, or set it to N
//   "date " N    rewrite the date in stack element N as yyyy-mm-dd (or yy.mm.dd)
//   "push " s    push the literal s
//   "join " s    join the stack with s into one element
//   "tcskip " c  skip the next command when the byte at the cursor is c
//   "skip" N     skip the next N commands
//   "format " f  replace "$1", "$2", ... in f by the elements; f becomes the stack
//   "ccs" xS     clean and collapse spaces of the last element, keeping letters,
//                digits and the specials S (x is a separator and dropped)
//   "regex " e   put the results of the replacer expression e in front of the stack
//   "modex " @p@f  replace the first match of p in the first element by f
//   "select " N  keep element N only
//   "replace " a=b  replace every a in the first element by b
// Bare commands: nop, go, goe, gor, gore (the last element as needle), start,
// end (set the marks to the cursor), push (push the text between the marks),
// flipstack, tryskip (the next command, or the one after it if that fails),
// merge (append the last element to the one before), join.
//
// A search that finds nothing sets the failed flag, and the run gives the empty
// list. Inputs that make no sense end the same way when they depend on the page
// (a cursor outside the text, marks out of order, an empty stack for the bare
// searches and "ccs"), and raise an error when they are mistakes in the script
// itself (see parse() in script.cpp).
//
// Thread safety: a command is immutable once made and may run on several threads at
// once; the run state belongs to one apply.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "extract/script.hpp"

namespace extract {

struct SelectorScript::RunState {
    explicit RunState(const std::vector<std::shared_ptr<const Command>>& p) : commands(p) {}
    const std::vector<std::shared_ptr<const Command>>& commands;
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int64_t cursor = 0;
    std::int64_t skip = 0;
    std::size_t index = 0;
    std::vector<std::string> stack;
    bool failed = false;
    // Commands run so far. Chains of tryskips can make a short program run
    // very long; past maxSteps the run raises "Script gave up after ... steps".
    std::uint64_t steps = 0;
    static constexpr std::uint64_t maxSteps = 2'000'000;
    void step() {
        if (++steps > maxSteps)
            throw std::runtime_error("Script gave up after " + std::to_string(maxSteps) + " steps");
    }
};

struct SelectorScript::Command {
    std::function<void(SelectorScript::RunState&, std::string&)> exec;
    bool tryskip = false;
};

namespace detail {

using CommandPtr = std::shared_ptr<const SelectorScript::Command>;
using Program = std::vector<CommandPtr>;

// The argument command for a piece that its keyword begins, or null. An argument that
// is a mistake in the script raises (see parse() in script.cpp).
CommandPtr argumentCommand(const std::string& piece);
// The bare command the piece names, or null.
CommandPtr bareCommand(const std::string& piece);
// The commands run in order as one ("do" ... "done").
CommandPtr group(Program commands);

}  // namespace detail

}  // namespace extract
