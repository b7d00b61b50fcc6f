// The dialogue's search for the comic's navigation: the page before the newest
// strip (confirmed by the user), the first page, and the next link, proven by
// crawling before anything is written.
#include <algorithm>
#include <cctype>

#include "downloader/follow_link.hpp"
#include "tools/log.hpp"
#include "wendle/addresses.hpp"
#include "wendle/dialogue.hpp"
#include "wendle/dialogue_state.hpp"
#include "wendle/link_candidates.hpp"
#include "wendle/page_scan.hpp"
#include "wendle/strip_images.hpp"

namespace wendle {

namespace {

// Offers of the previous page, and candidates of each kind tried for the first
// page, at most.
constexpr std::size_t maxPreviousOffers = 8;
constexpr std::size_t maxFirstTries = 2;
constexpr std::size_t maxNextCandidates = 12;

void addTarget(std::vector<std::string>& list, const std::string& target) {
    if (target.empty()) return;
    for (const std::string& known : list)
        if (sameAddress(known, target)) return;
    list.push_back(target);
}

// Later strips first: by the numbers in their addresses.
void newestFirst(std::vector<std::string>& list) {
    std::stable_sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
        return addressNumbers(a) > addressNumbers(b);
    });
}

// The address with its last run of digits replaced by `number`, zero-padded to
// the run's width ("" when it has no digits after the host).
std::string renumbered(const std::string& address, const std::string& number) {
    std::size_t hostEnd =
        address.find('/', address.find("://") == std::string::npos ? 0 : address.find("://") + 3);
    std::size_t end = address.find_last_of("0123456789");
    if (hostEnd == std::string::npos || end == std::string::npos || end < hostEnd) return {};
    std::size_t begin = end;
    while (begin > hostEnd && std::isdigit(static_cast<unsigned char>(address[begin - 1]))) --begin;
    std::size_t width = end - begin + 1;
    std::string padded =
        width > number.size() ? std::string(width - number.size(), '0') + number : number;
    return address.substr(0, begin) + padded + address.substr(end + 1);
}

void appendCandidates(std::vector<LinkCandidate>& list, std::vector<LinkCandidate> more) {
    for (LinkCandidate& candidate : more)
        if (std::none_of(list.begin(), list.end(), [&](const LinkCandidate& known) {
                return known.expression == candidate.expression;
            }))
            list.push_back(std::move(candidate));
}

}  // namespace

void Dialogue::findPrevious(State& s) {
    const std::string& frontPage = s.page(s.front);
    std::vector<std::string> offers;
    for (const LinkCandidate& candidate : labelledLinks(s.front, frontPage, Role::prev))
        if (!sameAddress(candidate.target, s.front)) addTarget(offers, candidate.target);
    // Links that carry no readable label, the later strips first.
    std::vector<std::string> unlabelled = navigationTargets(s.front, frontPage, offers);
    newestFirst(unlabelled);
    for (const std::string& target : unlabelled) addTarget(offers, target);

    for (std::size_t i = 0; i < offers.size() && i < maxPreviousOffers; ++i) {
        tools::logln("Detected previous URL: ", offers[i]);
        if (askYesNo("Is this correct?")) {
            s.prevURL = offers[i];
            break;
        }
    }
    if (s.prevURL.empty()) {
        s.prevURL = settled(s, ask("Please provide the URL of the second-to-last page."));
    }
    // The previous link's expressions: by its label where it has one, else by
    // whatever sets it apart on the front page.
    for (const LinkCandidate& candidate : labelledLinks(s.front, frontPage, Role::prev))
        if (sameAddress(candidate.target, s.prevURL)) s.backLinks.push_back(candidate.expression);
    if (s.backLinks.empty())
        for (const LinkCandidate& candidate : linksTo(s.front, frontPage, s.prevURL))
            s.backLinks.push_back(candidate.expression);
}

void Dialogue::findFirst(State& s) {
    std::vector<std::string> labelled;
    for (const std::string* address : {&s.front, &s.prevURL})
        for (const LinkCandidate& candidate :
             labelledLinks(*address, s.page(*address), Role::first))
            if (!sameAddress(candidate.target, s.front)) addTarget(labelled, candidate.target);
    // Without labels: links shaped like the comic's pages, the earliest first.
    std::vector<std::string> unlabelled;
    if (!s.backLinks.empty()) {
        for (const std::string& target : navigationTargets(s.front, s.page(s.front), {s.prevURL}))
            if (addressShape(target) == addressShape(s.prevURL)) unlabelled.push_back(target);
        newestFirst(unlabelled);
        std::reverse(unlabelled.begin(), unlabelled.end());
    }
    // Numbered pages: the same address with the last number as 1 (or 0).
    std::vector<std::string> numbered;
    if (!s.backLinks.empty()) {
        for (const char* number : {"1", "0"}) addTarget(numbered, renumbered(s.prevURL, number));
        std::erase_if(numbered, [&](const std::string& t) { return sameAddress(t, s.prevURL); });
    }
    // The first page shows images and has no previous link (or one to itself);
    // a guessed one also has to link to pages shaped like the comic's others,
    // which an error page does not.
    auto isFirst = [&](const std::string& target, bool guessed) {
        const std::string& text = s.page(target);
        if (text.empty() || scanImages(text).empty()) return false;
        for (const std::string& expression : s.backLinks) {
            std::string back = firstLink(expression, target, text);
            if (!back.empty() && !sameAddress(back, target)) return false;
        }
        if (!guessed) return true;
        const std::string shape = addressShape(s.prevURL);
        for (const Link& link : scanLinks(text)) {
            try {
                std::string resolved = downloader::followLink(target, link.href);
                if (addressShape(resolved) == shape && !sameAddress(resolved, target)) return true;
            } catch (const std::exception&) {
                // a link that cannot be resolved says nothing
            }
        }
        return false;
    };
    for (const auto* list : {&labelled, &unlabelled, &numbered}) {
        std::size_t tries = 0;
        for (const std::string& target : *list) {
            if (tries++ >= maxFirstTries) break;
            if (!isFirst(target, list != &labelled)) continue;
            s.first = target;
            tools::logln("First URL found at ", s.first);
            return;
        }
    }
    s.first = settled(s, ask("Please enter the first URL of the webcomic."));
}

// Tries the candidates in order; the first that passes the checks becomes the
// draft. With `report`, every failure is shown as it happens.
bool Dialogue::tryNext(State& s, const std::vector<LinkCandidate>& candidates, bool report) {
    Expectations expect{s.prevURL, s.newestStrip, s.backLinks};
    for (std::size_t i = 0; i < candidates.size() && i < maxNextCandidates; ++i) {
        const LinkCandidate& candidate = candidates[i];
        PluginDraft draft;
        draft.name = s.name;
        draft.start = s.first;
        draft.next = candidate.expression;
        draft.title = "@<[Tt][Ii][Tt][Ll][Ee][^>]*>([^<]*)";  // any, for the checks
        draft.images = s.images;
        State::Ending ending = State::Ending::none;
        std::string further;
        std::string nextURL = candidate.target;
        if (sameAddress(nextURL, s.front)) {
            ending = State::Ending::front;
            draft.frontpageMatch = frontPageMatch(s.front);
            draft.frontpage = s.front;
        } else {
            std::string link = firstLink(candidate.expression, nextURL, s.site.page(nextURL, true));
            if (link.empty()) {
                ending = State::Ending::none;
            } else if (sameAddress(link, nextURL)) {
                ending = State::Ending::loop;
            } else if (sameAddress(link, s.front)) {
                ending = State::Ending::linksFront;
                draft.frontpageMatch = frontPageMatch(s.front);
            } else {
                ending = State::Ending::further;
                further = link;
                draft.frontpageMatch = frontPageMatch(link);
            }
        }
        std::string failure = verifyDraft(draft, expect, s.site);
        if (failure.empty()) {
            s.draft = draft;
            s.ending = ending;
            s.nextURL = nextURL;
            s.further = further;
            tools::logln("Next link: ", candidate.description, " (", draft.next, ")");
            tools::logln(
                "Checked by crawling: it leads from page to page and ends at the "
                "newest strip.");
            return true;
        }
        s.failures.push_back(candidate.description + ": " + failure);
        if (report)
            tools::logln("Failed! ", candidate.description, ": ", failure,
                         ". Trying to continue ... ");
    }
    return false;
}

bool Dialogue::findNext(State& s) {
    const std::string& prevPage = s.page(s.prevURL);
    std::vector<LinkCandidate> candidates = labelledLinks(s.prevURL, prevPage, Role::next);
    if (tryNext(s, candidates, true)) return true;

    // Links without a readable label that lead to the newest strip.
    std::vector<LinkCandidate> unlabelled;
    std::vector<std::string> targets = navigationTargets(s.prevURL, prevPage, {s.prevURL});
    newestFirst(targets);
    std::size_t looked = 0;
    for (const std::string& target : targets) {
        bool newest = sameAddress(target, s.front);
        if (!newest && looked < 2) {
            ++looked;
            std::vector<std::string> strips =
                stripsOn(s.images, {target, s.site.page(target, true)});
            newest = strips.size() == 1 && sameAddress(strips.front(), s.newestStrip);
        }
        if (newest) appendCandidates(unlabelled, linksTo(s.prevURL, prevPage, target, Role::next));
    }
    std::erase_if(unlabelled, [&](const LinkCandidate& c) {
        return std::any_of(candidates.begin(), candidates.end(), [&](const LinkCandidate& known) {
            return known.expression == c.expression;
        });
    });
    if (tryNext(s, unlabelled, true)) return true;

    // The user's turn: a label to look for.
    tools::logln("Could not discover a way to get the Next link from ", s.prevURL,
                 ". Maybe if you help me .. ");
    std::string label = ask("What is the name of the 'Next' image?");
    std::vector<LinkCandidate> typed;
    AdaptiveSelector selector("(" + escapePattern(label) + ")", "");
    if (!label.empty()) {
        appendCandidates(typed, labelledBy(s.prevURL, prevPage, label));
        LinkSelector* found = nullptr;
        std::string address = findLink(s.prevURL, {&selector}, prevPage, {}, found);
        if (found)
            appendCandidates(
                typed, {{selector.expression(), "the link holding \"" + label + "\"", 0, address}});
    }
    if (typed.empty()) {
        tools::logln("Could not use regex \"", selector.expression(), "\" to get the Next link.",
                     "\nPlease create the plugin manually or\nadd sufficient heuristics to "
                     "wendle.");
        return false;
    }
    std::size_t before = s.failures.size();
    if (tryNext(s, typed, false)) {
        tools::logln("Thanks, that did it!");
        return true;
    }
    // Nothing passed: the user may still take the first, knowing what failed.
    tools::logln("The link found with \"", label, "\" fails the checks: ", s.failures[before]);
    if (!askYesNo("Write the plugin anyway?")) {
        tools::logln("Cannot handle this case. Aborting.");
        return false;
    }
    s.draft = {s.name, s.first, typed.front().expression, "", s.images, "", ""};
    s.draft.frontpageMatch = frontPageMatch(s.front);
    s.draft.frontpage = s.front;
    s.nextURL = typed.front().target;
    s.ending = State::Ending::accepted;
    return true;
}

bool Dialogue::reportEnding(State& s) {
    switch (s.ending) {
        case State::Ending::front:
            tools::logln("This is a frontpage comic. Applying extra care.");
            return true;
        case State::Ending::none:
            tools::logln("Good. Cannot find next link on the apparent frontpage - ", s.nextURL,
                         " has none");
            return true;
        case State::Ending::accepted:
            return true;
        default:
            break;
    }
    tools::logln(
        "We found further next links after the first page.\nTermination of the database "
        "building process can not be guaranteed.\nTrying to handle this gracefully ..");
    tools::logln(
        "We shall first try to check if the next link found is the same as the frontpage.");
    if (s.ending != State::Ending::further) {
        tools::logln("Yes it is. TOVIK can handle this case by itself. Continuing.");
        return true;
    }
    tools::logln("No it's not. Damnit.");
    if (!askYesNo("Does this URL look unique: " + s.further)) {
        tools::logln("Cannot handle this case. Aborting.");
        return false;
    }
    tools::logln("Setting up empty frontpage with valid match");
    return true;
}

}  // namespace wendle
