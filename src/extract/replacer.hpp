#pragma once
// A replacer turns one short expression into an extractor: applied to a page it
// returns every piece the expression pulls out of it.
//
//   "@" regex "@" format ["@" second pattern "@" second format]
//       Any first byte other than "!" is the separator. Without a format the
//       default is "$1" when the regex has a "(", else the fixed text
//       "here to generate a valid match". The optional chain runs a second
//       search per first-step result, "\match" in the second pattern standing for
//       that result.
//   "!" script
//       A selector script (extract/script.hpp) does all the work.
//
// Patterns follow the ECMAScript dialect (see extract/regex.hpp); formats know
// "$&", "$`", "$'", "$1".."$9" and "$10".."$99".
//
// A replacer is immutable once built; apply may run on several threads at once.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace extract {

class EcmaRegex;
class SelectorScript;

class Replacer {
public:
    // Throws std::runtime_error on an empty expression and on a pattern the
    // regular-expression engine rejects (with the engine's message).
    explicit Replacer(const std::string& expression);
    Replacer(const Replacer&) = delete;
    Replacer& operator=(const Replacer&) = delete;
    ~Replacer();

    // Turns CR/LF of text into spaces in place, then returns every extracted piece
    // (empty when nothing is found). Throws on an invalid chain, a bad second-step
    // pattern, or a search that exceeds the match limit.
    std::vector<std::string> apply(std::string& text) const;
    // Convenience: works on a copy.
    std::vector<std::string> apply(const std::string& text) const;
    // As apply, but the text's line breaks are left as they are: the caller has
    // spaced them already where it wants apply's results (several expressions can
    // so share one prepared copy of a page). The regular-expression form reads the
    // text in place; a script works on a copy. validUtf8: the caller has found the
    // text valid with isValidUtf8 (extract/regex.hpp), so no search checks it again.
    std::vector<std::string> applyToSpaced(std::string_view text, bool validUtf8 = false) const;

    const std::string& expression() const { return expression_; }
    bool isScript() const { return script_ != nullptr; }
    // Whether apply turns the text's line breaks into spaces: always in
    // regular-expression form, in script form when the script runs a regex.
    bool spacesLineBreaks() const;
    std::string toString() const { return "replacer " + expression_; }

private:
    std::vector<std::string> applyRegex(std::string_view text, bool validUtf8) const;

    std::string expression_;
    std::unique_ptr<const EcmaRegex> pattern_;  // absent in script form
    std::vector<std::string> chain_;
    std::string format_;
    std::unique_ptr<const SelectorScript> script_;  // present in script form only
};

// Turns every carriage return and line feed of text into a space, in place.
void spaceLineBreaks(std::string& text);
// Makes out a copy of text with its line breaks spaced (one pass; out's buffer
// is reused).
void assignWithLineBreaksSpaced(std::string& out, std::string_view text);

// Appends the expansion of a replacement format against one match to out: "$&",
// "$`", "$'", "$n", "$nn" (two digits are always read together); "$0", "$00" and
// "$" with any other byte stay as written. groups[0] is the whole match; a missing
// or unset group yields empty text. (Shared with the script's "modex".)

void expandFormat(std::string& out, std::string_view format,
                  const std::vector<std::string_view>& groups, std::string_view before,
                  std::string_view after);

}  // namespace extract
