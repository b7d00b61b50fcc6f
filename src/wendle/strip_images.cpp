#include "wendle/strip_images.hpp"

#include <algorithm>
#include <cctype>
#include <set>

#include "downloader/follow_link.hpp"
#include "extract/replacer.hpp"
#include "wendle/addresses.hpp"
#include "wendle/link_candidates.hpp"
#include "wendle/page_scan.hpp"
#include "wendle/selectors.hpp"

namespace wendle {

namespace {

struct Seen {
    Image image;
    std::string resolved;
    std::string key;  // normalised
};

std::vector<Seen> imagesOf(const SamplePage& page) {
    std::vector<Seen> seen;
    std::set<std::string> keys;
    for (Image& image : scanImages(page.text)) {
        std::string resolved;
        try {
            resolved = downloader::followLink(page.address, image.value);
        } catch (const std::exception&) {
            continue;
        }
        std::string key = normalisedAddress(resolved);
        if (!keys.insert(key).second) continue;
        seen.push_back({std::move(image), std::move(resolved), std::move(key)});
    }
    return seen;
}

std::size_t commonPrefix(std::string_view a, std::string_view b) {
    std::size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
    return n;
}

bool numericSegment(std::string_view segment) {
    bool digit = false;
    for (char c : segment) {
        if (std::isdigit(static_cast<unsigned char>(c)))
            digit = true;
        else if (c != '-' && c != '_')
            return false;
    }
    return digit;
}

std::string withoutScheme(std::string address) {
    for (std::string_view scheme : {"http://", "https://"})
        if (address.starts_with(scheme)) return address.substr(scheme.size());
    return address;
}

// The address part that the strips share, in the forms worth trying, the more
// general first: their folder (without trailing number folders such as a year
// and month), then that folder with the beginning their file names share.
// Each is a piece of every strip address as written.
std::vector<std::string> sharedParts(const std::vector<const Seen*>& group,
                                     const std::vector<SamplePage>& samples) {
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < group.size(); ++i) {
        std::string address = withoutScheme(group[i]->resolved);
        std::size_t slash = address.find('/');
        std::string rest = slash == std::string::npos ? "/" : address.substr(slash);
        bool ownHost = hostOf(address) == hostOf(samples[i].address);
        parts.push_back(ownHost ? rest : address);
    }
    std::string common = parts.front();
    for (const std::string& part : parts) common.resize(commonPrefix(common, part));
    std::size_t lastSlash = common.rfind('/');
    std::string folder = lastSlash == std::string::npos ? "" : common.substr(0, lastSlash + 1);
    while (folder.size() > 1) {
        std::size_t previous = folder.rfind('/', folder.size() - 2);
        if (previous == std::string::npos ||
            !numericSegment(folder.substr(previous + 1, folder.size() - previous - 2)))
            break;
        folder.resize(previous + 1);
    }
    std::vector<std::string> names;
    for (const std::string& part : parts) names.push_back(part.substr(part.rfind('/') + 1));
    std::string name = names.front();
    for (const std::string& other : names) name.resize(commonPrefix(name, other));
    while (!name.empty() && (std::isdigit(static_cast<unsigned char>(name.back())) ||
                             name.back() == '-' || name.back() == '_'))
        name.pop_back();

    std::vector<std::string> options;
    if (folder.size() > 1) options.push_back(folder);
    if (name.size() >= 3 && lastSlash != std::string::npos &&
        common.substr(0, lastSlash + 1) == folder)
        options.push_back(folder + name);

    // Each must be a piece of every address as written (relative ones too).
    std::vector<std::string> written;
    for (const std::string& option : options) {
        auto everywhere = [&](const std::string& piece) {
            return std::all_of(group.begin(), group.end(), [&](const Seen* seen) {
                return seen->image.value.find(piece) != std::string::npos;
            });
        };
        std::string found;
        for (std::size_t at = 0; at < option.size() && found.empty(); ++at) {
            if (at > 0 && option[at - 1] != '/' && option[at] != '/') continue;
            std::string piece = option.substr(at);
            if (piece.size() >= 3 && everywhere(piece)) found = piece;
        }
        if (!found.empty() && std::find(written.begin(), written.end(), found) == written.end())
            written.push_back(found);
    }
    return written;
}

bool contextWord(std::string_view value) {
    for (const std::string& token : wordsOfTokens(value)) {
        std::string lowered;
        for (char c : token)
            lowered.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        if (lowered.find("comic") != std::string::npos ||
            lowered.find("strip") != std::string::npos)
            return true;
    }
    return false;
}

// The pattern piece for the element the strip sits in (an id or class naming
// a comic or strip, with only tags between it and the image), or "".
std::string containerLead(const Seen& seen, const std::string& text) {
    std::size_t from = seen.image.offset > 400 ? seen.image.offset - 400 : 0;
    std::vector<Tag> tags = scanTags(std::string_view(text).substr(from, seen.image.offset - from));
    for (std::size_t i = tags.size(); i-- > 0;) {
        const Tag& tag = tags[i];
        // Text between this tag and the image breaks the chain.
        std::size_t next = i + 1 < tags.size() ? tags[i + 1].begin : seen.image.offset - from;
        if (!collapsedWhitespace(text.substr(from + tag.end, next - tag.end)).empty()) return {};
        if (tag.closing) continue;
        for (const Attribute& attribute : tag.attributes) {
            if (attribute.name != "id" && attribute.name != "class") continue;
            for (const std::string& token : wordsOfTokens(attribute.value)) {
                if (!contextWord(token) || std::any_of(token.begin(), token.end(), [](char c) {
                        return std::isdigit(static_cast<unsigned char>(c));
                    }))
                    continue;
                return "<" + anyCase(tag.name) + "\\b[^>]*?" + tokenPiece(attribute, token) +
                       "[^>]*>(?:\\s*<(?![Ii][Mm][Gg]\\b)[^>]*>)*\\s*";
            }
        }
    }
    return {};
}

// Pieces naming the image tag itself: tokens of its id and class.
std::vector<std::pair<int, std::string>> ownNames(const Image& image) {
    std::vector<std::pair<int, std::string>> names;
    for (std::size_t i = 0; i < image.tag.attributes.size(); ++i) {
        const Attribute& attribute = image.tag.attributes[i];
        if (attribute.name != "id" && attribute.name != "class") continue;
        for (const std::string& token : wordsOfTokens(attribute.value))
            if (std::none_of(token.begin(), token.end(),
                             [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
                names.emplace_back(static_cast<int>(i), tokenPiece(attribute, token));
    }
    return names;
}

std::string valuePiece(const Image& image, const std::string& shared) {
    const Attribute& attribute = image.tag.attributes[static_cast<std::size_t>(image.attribute)];
    bool srcset = attribute.name.find("srcset") != std::string::npos;
    std::string chars = attribute.quote
                            ? std::string("[^") + attribute.quote + (srcset ? "\\s," : "") + "]*"
                            : std::string("[^\\s\"'>]*");
    std::string quote = attribute.quote ? std::string(1, attribute.quote) : "";
    return attributeStart(attribute) + quote + "(" + chars + escapePattern(shared) + chars + ")";
}

// The expressions worth trying for a strip, the more general first, each with
// the address part it relies on.
std::vector<std::pair<std::string, std::string>> expressionOptions(
    const std::vector<const Seen*>& group, const std::vector<SamplePage>& samples) {
    const Seen& newest = *group.front();
    const Image& image = newest.image;
    std::vector<std::string> shared = sharedParts(group, samples);
    shared.push_back("");
    std::string lead = containerLead(newest, samples.front().text);
    std::vector<std::pair<std::string, std::string>> options;
    const std::string open = "<[Ii][Mm][Gg]\\b[^>]*?";
    for (const std::string& part : shared) {
        std::string value = valuePiece(image, part);
        if (!part.empty()) options.emplace_back("@" + open + value, part);
        for (const auto& [at, piece] : ownNames(image))
            options.emplace_back(
                "@" + open +
                    (at < image.attribute ? piece + "[^>]*?" + value : value + "[^>]*?" + piece),
                part);
        if (!lead.empty()) options.emplace_back("@" + lead + open + value, part);
    }
    return options;
}

bool fits(const std::string& expression, const std::vector<const Seen*>& group,
          const std::vector<SamplePage>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::vector<std::string> found = stripsOn(expression, samples[i]);
        if (found.size() != 1 || !sameAddress(found.front(), group[i]->resolved)) return false;
    }
    return true;
}

bool hasContext(const Seen& seen, const std::string& text) {
    for (const Attribute& attribute : seen.image.tag.attributes)
        if ((attribute.name == "id" || attribute.name == "class" || attribute.name == "alt") &&
            contextWord(attribute.value))
            return true;
    return !containerLead(seen, text).empty();
}

struct Found {
    std::string expression;
    std::string shared;
    std::vector<const Seen*> group;
};

}  // namespace

std::vector<std::string> stripsOn(const std::string& expression, const SamplePage& page) {
    std::vector<std::string> out;
    try {
        extract::Replacer find(expression);
        for (const std::string& link : find.apply(page.text)) {
            if (link.empty()) continue;
            std::string resolved = downloader::followLink(page.address, link);
            if (std::find(out.begin(), out.end(), resolved) == out.end()) out.push_back(resolved);
        }
    } catch (const std::exception&) {
        return {};
    }
    return out;
}

StripLearning learnStrips(const std::vector<SamplePage>& samples, const std::string& chosen) {
    StripLearning result;
    if (samples.empty()) return result;
    std::vector<std::vector<Seen>> all;
    for (const SamplePage& sample : samples) all.push_back(imagesOf(sample));
    // The images that change from page to page.
    std::vector<std::vector<const Seen*>> changing(samples.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        for (const Seen& seen : all[i]) {
            bool elsewhere = false;
            for (std::size_t k = 0; k < all.size() && !elsewhere; ++k)
                if (k != i)
                    elsewhere = std::any_of(all[k].begin(), all[k].end(),
                                            [&](const Seen& s) { return s.key == seen.key; });
            if (!elsewhere) changing[i].push_back(&seen);
        }

    std::vector<const Seen*> newest;
    if (chosen.empty()) {
        newest = changing[0];
    } else {
        for (const Seen& seen : all[0])
            if (seen.image.value == chosen) newest.push_back(&seen);
    }

    std::vector<Found> found;
    for (const Seen* strip : newest) {
        std::vector<const Seen*> group{strip};
        for (std::size_t i = 1; i < samples.size(); ++i) {
            const Seen* best = nullptr;
            std::size_t bestLength = 0;
            for (const Seen* other : changing[i]) {
                std::size_t length = commonPrefix(other->key, strip->key);
                bool sameKind =
                    other->image.tag.attributes[static_cast<std::size_t>(other->image.attribute)]
                        .name ==
                    strip->image.tag.attributes[static_cast<std::size_t>(strip->image.attribute)]
                        .name;
                length = length * 2 + (sameKind ? 1 : 0);
                if (!best || length > bestLength) {
                    best = other;
                    bestLength = length;
                }
            }
            if (!best) break;
            group.push_back(best);
        }
        if (group.size() != samples.size()) continue;
        for (const auto& [expression, shared] : expressionOptions(group, samples))
            if (fits(expression, group, samples)) {
                found.push_back({expression, shared, group});
                break;
            }
    }

    if (found.size() > 1) {
        std::vector<Found> named;
        for (const Found& f : found)
            if (hasContext(*f.group.front(), samples.front().text)) named.push_back(f);
        if (named.size() == 1) found = named;
    }
    if (found.size() == 1) {
        const Found& f = found.front();
        result.expression = f.expression;
        for (const Seen* seen : f.group) result.strips.push_back(seen->resolved);
        result.shared = f.shared;
        return result;
    }
    auto offer = [&](const Seen* seen) {
        if (std::find(result.choices.begin(), result.choices.end(), seen->image.value) ==
            result.choices.end())
            result.choices.push_back(seen->image.value);
    };
    if (found.size() > 1) {
        for (const Found& f : found) offer(f.group.front());
    } else {
        for (const Seen& seen : all[0]) offer(&seen);
    }
    return result;
}

}  // namespace wendle
