#pragma once
// The plugin generator's console dialogue: asks for a comic's name, finds its
// site with a web search and lets the user confirm the page before the newest
// strip; then gathers candidates for the next link, the strip image, the title
// and the first page from every signal the pages offer, proves each plugin by
// crawling a few steps of the live site with the reader's own crawler, asks
// only where no candidate passes, and writes a plugin file that the reader
// loads at its next start. Nothing is written unless the plugin passed the
// checks or the user accepted it knowing what failed.
//
// Answers come from an input stream (standard input in the program, scripted
// text in tests); every question and message goes through the log. One thread.
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "wendle/selectors.hpp"

namespace wendle {

struct LinkCandidate;

// The web search: a result page that works without scripts, asked over plain
// HTTP as host + path; the query goes into the key "q".
inline constexpr std::string_view defaultSearchEndpoint = "https://www.mojeek.com/search";

struct DialogueSettings {
    std::string searchEndpoint{defaultSearchEndpoint};
    std::string pluginDirectory = "plugins";
};

// Raised by every question once the answers have run out.
class EndOfInput : public std::runtime_error {
public:
    EndOfInput() : std::runtime_error("End of input reached, no more answers") {}
};

class Dialogue {
public:
    explicit Dialogue(std::istream& answers, DialogueSettings settings = {});
    ~Dialogue();
    Dialogue(const Dialogue&) = delete;
    Dialogue& operator=(const Dialogue&) = delete;

    // The whole run: the dialogue, any error reported as "An error has occured: ",
    // then "Please press return to continue.". Returns the path of the plugin
    // file written, or empty when none was.
    std::string run();

    // Console primitives.
    // Writes the prompt (when not empty) and "> ", reads one line.
    std::string ask(const std::string& prompt);
    // "y" (any case) is yes, "n" no; anything else asks again.
    bool askYesNo(const std::string& prompt);
    // A decimal integer; anything else is an error.
    long askNumber(const std::string& prompt);
    // A numbered menu; 0 runs `other` (when given) and returns its result.
    std::string choose(const std::string& prompt, const std::vector<std::string>& items,
                       const std::function<std::string()>& other);
    // Tries the selectors in order on the page: adapt, resolve against base,
    // verify (when given). `found` gets the first selector that passes, or null;
    // the address last computed is returned either way.
    std::string findLink(const std::string& base, const std::vector<LinkSelector*>& selectors,
                         const std::string& page,
                         const std::function<bool(const std::string&)>& verify,
                         LinkSelector*& found);

private:
    struct State;
    std::string converse();
    std::string askName();
    std::vector<std::string> searchSite(const std::string& name);
    std::string askExpression(const std::string& prompt);
    std::string settled(State& s, const std::string& typed);
    void findPrevious(State& s);
    void findFirst(State& s);
    void findImages(State& s);
    void askImageFragment(State& s);
    bool findNext(State& s);
    bool tryNext(State& s, const std::vector<LinkCandidate>& candidates, bool report);
    bool reportEnding(State& s);
    std::string titleExpression(State& s);

    std::istream& answers_;
    DialogueSettings settings_;
};

// The list without repeated entries, each kept at its first position.
std::vector<std::string> unique(const std::vector<std::string>& list);

// The base of the plugin file name made from a comic name: lowered, blanks as
// "_"; "/", "\", ".." and control characters also become "_" so the file stays
// inside the plugin directory. Empty when the name holds no letter or digit.
std::string pluginBaseName(const std::string& name);

// The search query for a comic name: the quoted name and (comic|webcomic),
// percent-encoded.
std::string searchQuery(const std::string& name);

// The result links of a search result page: absolute links to other hosts than
// the search engine's own, without "http://", each once.
std::vector<std::string> searchResultLinks(const std::string& resultPage,
                                           const std::string& endpoint);

}  // namespace wendle
