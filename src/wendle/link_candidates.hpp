#pragma once
// Candidate expressions for a comic's navigation links. Every signal a link
// offers is read: rel="next" on <a> and <link>, the words of its text, alt,
// title and aria-label, its class and id names, arrow symbols (as characters or
// entities) and the file names of image buttons. Each signal that reads as the
// wanted direction becomes a replacer expression that picks that link's address
// out of any page written the same way. Labels meaning last, latest, newest,
// end, first, previous or back are never taken for next (and likewise for the
// other directions). Pure functions, usable from any thread.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wendle/link_labels.hpp"
#include "wendle/page_scan.hpp"

namespace wendle {

// The strongest reading of a link's signals; a direction that labels name
// strongly for another direction (last for next) is ruled out.
LinkReading readLink(const Link& link);

// One way to pick a link's address out of the pages of a comic.
struct LinkCandidate {
    std::string expression;   // replacer expression; its first result is the address
    std::string description;  // what it looks for, for messages
    int score = 0;            // how strongly the signal names the direction
    std::string target;       // what it finds on the page it was made from, resolved
};

// The candidates for links leading in `role` on a page (at `address`), best
// first, each expression once, each finding something on the page.
std::vector<LinkCandidate> labelledLinks(const std::string& address, std::string_view page,
                                         Role role);

// Expressions for the links of a page that lead to `target` (compared with
// sameAddress), from every signal that sets them apart: each finds `target`
// first on this page. Best first. With `role`, links whose labels name another
// direction are left out.
std::vector<LinkCandidate> linksTo(const std::string& address, std::string_view page,
                                   const std::string& target, std::optional<Role> role = {});

// Expressions for the links of a page whose text, alt, title, class, id or
// image file name holds `label` (letter case aside), best first.
std::vector<LinkCandidate> labelledBy(const std::string& address, std::string_view page,
                                      const std::string& label);

// The addresses that navigation-looking links of a page lead to (links holding
// an image or a short text of symbols, on the page's own host, with a number in
// their address), resolved, each once, in page order; `exclude` are left out.
std::vector<std::string> navigationTargets(const std::string& address, std::string_view page,
                                           const std::vector<std::string>& exclude);

// The first result of an expression on a page, resolved against the page's
// address; "" when it finds nothing (or cannot be used), or a link that leads
// nowhere ("#...", "javascript:", "mailto:").
std::string firstLink(const std::string& expression, const std::string& address,
                      const std::string& page);

// Pattern pieces for expressions over tags: the blank, the attribute's name
// (either case) and "="; and that followed by a value holding `token` as one of
// its blank-separated words.
std::string attributeStart(const Attribute& attribute);
std::string tokenPiece(const Attribute& attribute, const std::string& token);

// The blank-separated tokens of a class or rel value.
std::vector<std::string> wordsOfTokens(std::string_view value);

// A pattern matching the letters of `word` in either case ("href" gives
// "[Hh][Rr][Ee][Ff]"); other characters are escaped.
std::string anyCase(std::string_view word);

}  // namespace wendle
