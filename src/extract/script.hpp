#pragma once
// The selector script: a small command language (the text after "!" in a replacer
// expression) that walks a cursor through a page by plain substring search, cuts
// text out between marks and reshapes a stack of strings. The stack is the result.
//
// Commands are separated by "," ("\," is a literal comma); "do" ... "done" groups
// commands into one. See script_commands.hpp for the command set.
//
// The program is fixed at construction; every apply starts from fresh run state
// of its own, so one script may run on several threads at once.
#include <memory>
#include <string>
#include <vector>

namespace extract {

class SelectorScript {
public:
    // Compiles the program. Throws on an invalid command, an unbalanced
    // "do"/"done", a bad argument or a "regex " argument that is no valid
    // replacer expression; the error is logged as "Construction failed: ..." first.
    explicit SelectorScript(const std::string& text);
    SelectorScript(const SelectorScript&) = delete;
    SelectorScript& operator=(const SelectorScript&) = delete;
    ~SelectorScript();

    // Runs the program on the text; the empty list when a search failed. A
    // "regex " command turns CR/LF of the text into spaces in place.
    std::vector<std::string> apply(std::string& text) const;
    // Convenience: works on a copy.
    std::vector<std::string> apply(const std::string& text) const;

    // Number of top-level commands (a "do" ... "done" group counts as one).
    std::size_t size() const;
    // Whether the program holds a "regex " command (which spaces the text's
    // line breaks when it runs).
    bool runsRegex() const;

    struct RunState;  // run state of one apply
    struct Command;   // one compiled command
private:
    std::vector<std::shared_ptr<const Command>> program_;
    bool runsRegex_ = false;
};

}  // namespace extract
