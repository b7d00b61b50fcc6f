#include "wendle/link_candidates.hpp"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "downloader/follow_link.hpp"
#include "extract/replacer.hpp"
#include "tools/text.hpp"
#include "wendle/addresses.hpp"
#include "wendle/link_labels.hpp"
#include "wendle/selectors.hpp"

namespace wendle {

namespace {

using namespace strength;

bool hasDigit(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// The white-space separated tokens of a class or rel value.
std::vector<std::string> tokensOf(std::string_view value) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : value) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!token.empty()) tokens.push_back(token);
            token.clear();
        } else {
            token.push_back(c);
        }
    }
    if (!token.empty()) tokens.push_back(token);
    return tokens;
}

// One signal of a link and the pattern piece that recognises it.
struct Signal {
    LinkReading reading;
    std::string piece;        // pattern piece
    bool inTag = true;        // piece is matched inside the opening tag
    bool beforeHref = false;  // ... ahead of href
    std::string description;
    int identity = 0;   // how well it tells this link apart when read for no direction
    std::string label;  // the text it reads, lowered
};

std::string wsPattern(std::string_view text) {
    std::string out;
    for (char c : text) out += c == ' ' ? std::string("\\s+") : escapePattern(std::string(1, c));
    return out;
}

std::string wordInValue(const Attribute& attribute, std::string_view value,
                        std::string_view labelWord) {
    std::string lowered = tools::lowered(std::string(value));
    std::size_t at = lowered.find(labelWord);
    std::string written(value.substr(at == std::string::npos ? 0 : at, labelWord.size()));
    return attributeStart(attribute) + "[\"'][^\"']*?" + escapePattern(written) + "(?![A-Za-z])";
}

std::string fileNameOf(std::string_view src) {
    src = src.substr(0, src.find_first_of("?#"));
    std::size_t slash = src.rfind('/');
    return std::string(slash == std::string_view::npos ? src : src.substr(slash + 1));
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// A value attribute of a label (title, aria-label, alt): the whole value when
// it is short and has no number, else the direction word in it.
void addValueSignal(std::vector<Signal>& out, const Attribute& attribute, bool inTag,
                    bool beforeHref, int base, const std::string& what) {
    std::string value = collapsedWhitespace(attribute.value);
    if (value.empty()) return;
    std::string decoded = decodeEntities(value);
    Signal signal;
    signal.reading = readLabel(decoded, base);
    signal.inTag = inTag;
    signal.beforeHref = beforeHref;
    signal.description = "the link " + what + " " + quoted(decoded);
    signal.label = tools::lowered(decoded);
    bool fixed = !hasDigit(value) && value.size() <= 60 && attribute.value == value;
    if (fixed) {
        signal.piece =
            attributeStart(attribute) + "[\"']?" + escapePattern(value) + "(?=[\"'\\s>])";
        signal.identity = base;
    } else {
        std::string word = roleWordIn(decoded);
        if (word.empty()) return;
        signal.piece = wordInValue(attribute, value, word);
    }
    if (!inTag) {
        signal.piece = "<[Ii][Mm][Gg]\\b[^>]*?" + signal.piece;
    }
    out.push_back(std::move(signal));
}

std::vector<Signal> signalsOf(const Link& link) {
    std::vector<Signal> out;
    const Tag& tag = link.tag;
    const int hrefAt = tag.indexOf("href");
    const bool isLinkTag = tag.name == "link";
    for (std::size_t i = 0; i < tag.attributes.size(); ++i) {
        const Attribute& attribute = tag.attributes[i];
        const bool before = static_cast<int>(i) < hrefAt;
        if (attribute.name == "rel" || attribute.name == "class") {
            for (const std::string& token : tokensOf(attribute.value)) {
                Signal signal;
                bool rel = attribute.name == "rel";
                signal.reading = rel ? readToken(token, isLinkTag ? relOnLink : relOnA)
                                     : readLabel(token, classBase);
                signal.piece = tokenPiece(attribute, token);
                signal.beforeHref = before;
                signal.description = "the link " + attribute.name + "=" + quoted(token);
                signal.label = tools::lowered(token);
                signal.identity = hasDigit(token) ? 0 : rel ? 2 : classBase;
                out.push_back(std::move(signal));
            }
        } else if (attribute.name == "id" && !attribute.value.empty()) {
            Signal signal;
            signal.reading = readLabel(attribute.value, classBase);
            signal.piece = attributeStart(attribute) + "[\"']?" + escapePattern(attribute.value) +
                           "(?=[\\s\"'>])";
            signal.beforeHref = before;
            signal.description = "the link id=" + quoted(attribute.value);
            signal.label = tools::lowered(attribute.value);
            signal.identity = hasDigit(attribute.value) ? 0 : classBase + 1;
            out.push_back(std::move(signal));
        } else if (attribute.name == "title" || attribute.name == "aria-label") {
            addValueSignal(out, attribute, true, before,
                           attribute.name == "title" ? titleBase : altBase,
                           attribute.name == "title" ? "titled" : "labelled");
        }
    }
    for (const std::string& text : link.texts) {
        std::string decoded = decodeEntities(text);
        Signal signal;
        signal.reading = readLabel(decoded, textBase);
        signal.inTag = false;
        signal.description = "the link labelled " + quoted(decoded);
        signal.label = tools::lowered(decoded);
        if (!hasDigit(text) && text.size() <= 60) {
            signal.piece = "(?<=>)\\s*" + wsPattern(text) + "\\s*<";
            signal.identity = textBase;
        } else {
            std::string word = roleWordIn(decoded);
            if (word.empty()) continue;
            std::string lowered = tools::lowered(text);
            std::size_t at = lowered.find(word);
            if (at == std::string::npos) continue;
            signal.piece =
                "(?<=>)[^<]*?" + escapePattern(text.substr(at, word.size())) + "(?![A-Za-z])";
        }
        out.push_back(std::move(signal));
    }
    for (const Tag& image : link.images) {
        for (const Attribute& attribute : image.attributes) {
            if (attribute.name == "alt" || attribute.name == "title") {
                addValueSignal(
                    out, attribute, false, false, attribute.name == "alt" ? altBase : titleBase,
                    attribute.name == "alt" ? "with the image" : "with the image titled");
            } else if (attribute.name == "src") {
                std::string file = fileNameOf(attribute.value);
                if (file.empty()) continue;
                Signal signal;
                std::string stem = file.substr(0, file.rfind('.'));
                signal.reading = readLabel(stem, fileBase);
                signal.inTag = false;
                signal.piece = "<[Ii][Mm][Gg]\\b[^>]*?" + attributeStart(attribute) +
                               "[\"']?[^\"'\\s>]*?" + escapePattern(file) + "(?=[\"'\\s>?#])";
                signal.description = "the link with the image " + quoted(file);
                signal.label = tools::lowered(file);
                signal.identity = fileBase + 1;
                out.push_back(std::move(signal));
            }
        }
    }
    return out;
}

std::string expressionFor(const Link& link, const Signal& signal) {
    const Tag& tag = link.tag;
    const Attribute* href = tag.find("href");
    std::string value = href->quote == '"'    ? "\"([^\"]*)\""
                        : href->quote == '\'' ? "'([^']*)'"
                                              : "([^\\s\"'>]+)";
    std::string open = "<" + anyCase(tag.name) + "\\b[^>]*?";
    std::string hrefPiece = attributeStart(*href) + value;
    if (!signal.inTag)
        return "@" + open + hrefPiece + "[^>]*>(?:(?!</" + anyCase(tag.name) + "\\s*>)[^])*?" +
               signal.piece;
    if (signal.beforeHref) return "@" + open + signal.piece + "[^>]*?" + hrefPiece;
    return "@" + open + hrefPiece + "[^>]*?" + signal.piece;
}

// Strong word labels of other directions rule a direction out.
bool ruledOut(const LinkReading& reading, Role role) {
    for (int other = 0; other < roles; ++other)
        if (other != static_cast<int>(role) && reading.strength[other] >= classBase) return true;
    return false;
}

void sortAndKeep(std::vector<LinkCandidate>& list, const std::string& address,
                 const std::string& page) {
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return a.score > b.score; });
    std::vector<LinkCandidate> kept;
    std::set<std::string> seen;
    for (LinkCandidate& candidate : list) {
        if (!seen.insert(candidate.expression).second) continue;
        candidate.target = firstLink(candidate.expression, address, page);
        if (!candidate.target.empty()) kept.push_back(std::move(candidate));
    }
    list = std::move(kept);
}

}  // namespace

LinkReading readLink(const Link& link) {
    LinkReading reading;
    for (const Signal& signal : signalsOf(link))
        for (int role = 0; role < roles; ++role)
            reading.strength[role] =
                std::max(reading.strength[role], signal.reading.strength[role]);
    LinkReading named = reading;
    for (int role = 0; role < roles; ++role)
        if (ruledOut(named, static_cast<Role>(role))) reading.strength[role] = 0;
    return reading;
}

std::vector<LinkCandidate> labelledLinks(const std::string& address, std::string_view page,
                                         Role role) {
    std::vector<LinkCandidate> list;
    const int r = static_cast<int>(role);
    for (const Link& link : scanLinks(page)) {
        LinkReading reading = readLink(link);
        if (reading.strength[r] < 3) continue;
        for (const Signal& signal : signalsOf(link))
            if (signal.reading.strength[r] >= unrelated)
                list.push_back({expressionFor(link, signal),
                                signal.description,
                                signal.reading.strength[r],
                                {}});
    }
    sortAndKeep(list, address, std::string(page));
    return list;
}

std::vector<LinkCandidate> linksTo(const std::string& address, std::string_view page,
                                   const std::string& target, std::optional<Role> role) {
    std::vector<LinkCandidate> list;
    for (const Link& link : scanLinks(page)) {
        if (role) {
            // Labels that name another direction rule the link out.
            LinkReading reading;
            for (const Signal& signal : signalsOf(link))
                for (int r = 0; r < roles; ++r)
                    reading.strength[r] = std::max(reading.strength[r], signal.reading.strength[r]);
            if (ruledOut(reading, *role)) continue;
        }
        std::string resolved;
        try {
            resolved = downloader::followLink(address, link.href);
        } catch (const std::exception&) {
            continue;
        }
        if (!sameAddress(resolved, target)) continue;
        for (const Signal& signal : signalsOf(link))
            if (signal.identity > 0)
                list.push_back(
                    {expressionFor(link, signal), signal.description, signal.identity, {}});
    }
    sortAndKeep(list, address, std::string(page));
    std::erase_if(list, [&](const LinkCandidate& c) { return !sameAddress(c.target, target); });
    return list;
}

std::vector<LinkCandidate> labelledBy(const std::string& address, std::string_view page,
                                      const std::string& label) {
    std::vector<LinkCandidate> list;
    const std::string wanted = tools::lowered(label);
    for (const Link& link : scanLinks(page))
        for (const Signal& signal : signalsOf(link))
            if (!signal.label.empty() && signal.label.find(wanted) != std::string::npos)
                list.push_back({expressionFor(link, signal),
                                signal.description,
                                std::max(signal.identity, 1),
                                {}});
    sortAndKeep(list, address, std::string(page));
    return list;
}

std::vector<std::string> navigationTargets(const std::string& address, std::string_view page,
                                           const std::vector<std::string>& exclude) {
    std::vector<std::string> targets;
    const std::string host = hostOf(address);
    for (const Link& link : scanLinks(page)) {
        if (link.tag.name != "a") continue;
        std::string text;
        for (const std::string& piece : link.texts) text += decodeEntities(piece);
        bool symbolic =
            !text.empty() && text.size() <= 4 && std::none_of(text.begin(), text.end(), isAlnum);
        if (!symbolic && !(text.empty() && !link.images.empty())) continue;
        std::string resolved;
        try {
            resolved = downloader::followLink(address, link.href);
        } catch (const std::exception&) {
            continue;
        }
        if (hostOf(resolved) != host || addressNumbers(resolved).empty() ||
            sameAddress(resolved, address))
            continue;
        auto same = [&](const std::string& other) { return sameAddress(other, resolved); };
        if (std::any_of(exclude.begin(), exclude.end(), same) ||
            std::any_of(targets.begin(), targets.end(), same))
            continue;
        targets.push_back(resolved);
    }
    return targets;
}

std::string firstLink(const std::string& expression, const std::string& address,
                      const std::string& page) {
    try {
        extract::Replacer find(expression);
        std::vector<std::string> found = find.apply(page);
        if (found.empty()) return {};
        // Links that lead nowhere: to the page itself, scripts, mail.
        std::string link = tools::lowered(found.front());
        if (link.empty() || link.starts_with("#") || link.starts_with("javascript:") ||
            link.starts_with("mailto:"))
            return {};
        return downloader::followLink(address, found.front());
    } catch (const std::exception&) {
        return {};
    }
}

std::vector<std::string> wordsOfTokens(std::string_view value) { return tokensOf(value); }

std::string attributeStart(const Attribute& attribute) {
    return "\\s" + anyCase(attribute.name) + "\\s*=\\s*";
}

std::string tokenPiece(const Attribute& attribute, const std::string& token) {
    return attributeStart(attribute) + "[\"']?(?:[^\"'>]*?\\s)?" + escapePattern(token) +
           "(?=[\\s\"'>])";
}

std::string anyCase(std::string_view word) {
    std::string out;
    for (char c : word) {
        if (std::isalpha(static_cast<unsigned char>(c))) {
            out += '[';
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            out += ']';
        } else {
            out += escapePattern(std::string(1, c));
        }
    }
    return out;
}

}  // namespace wendle
