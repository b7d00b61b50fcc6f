#include "wendle/titles.hpp"

#include <algorithm>

#include "extract/replacer.hpp"
#include "tools/text.hpp"
#include "wendle/link_candidates.hpp"
#include "wendle/page_scan.hpp"
#include "wendle/selectors.hpp"

namespace wendle {

namespace {

const std::vector<std::string> separators = {
    " \xE2\x80\x93 ", " &#8211; ", " &ndash; ", " \xE2\x80\x94 ", " &#8212; ",
    " &mdash; ",      " - ",       " | ",       " &#124; ",       " :: "};

// Blanks match any run of white space, everything else itself.
std::string loosely(std::string_view text) {
    std::string out;
    for (char c : text) out += c == ' ' ? std::string("\\s+") : escapePattern(std::string(1, c));
    return out;
}

bool allEqual(const std::vector<std::string>& values) {
    return std::all_of(values.begin(), values.end(),
                       [&](const std::string& v) { return v == values.front(); });
}

// Inner patterns for a text that holds the strip title beside a constant part
// (the comic's name), with `any` matching the title's characters; the form
// without split last when the whole texts differ.
std::vector<std::string> splitForms(const std::vector<std::string>& values,
                                    const std::string& comicName, const std::string& any,
                                    bool whole) {
    std::vector<std::string> forms;
    if (values.empty() ||
        std::any_of(values.begin(), values.end(), [](const std::string& v) { return v.empty(); }))
        return forms;
    const std::string name = tools::lowered(comicName);
    std::vector<std::pair<bool, std::string>> ranked;  // (names the comic, form)
    for (const std::string& separator : separators) {
        if (!std::all_of(values.begin(), values.end(), [&](const std::string& v) {
                return v.find(separator) != std::string::npos;
            }))
            continue;
        std::vector<std::string> lefts, rights;
        for (const std::string& v : values) {
            lefts.push_back(v.substr(0, v.find(separator)));
            rights.push_back(v.substr(v.rfind(separator) + separator.size()));
        }
        if (allEqual(lefts) && !allEqual(rights))
            ranked.emplace_back(tools::lowered(lefts.front()).find(name) != std::string::npos,
                                loosely(lefts.front() + separator) + "(" + any + ")");
        if (allEqual(rights) && !allEqual(lefts))
            ranked.emplace_back(tools::lowered(rights.front()).find(name) != std::string::npos,
                                "(" + any + ")" + loosely(separator + rights.front()));
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first && !b.first; });
    for (auto& [named, form] : ranked) forms.push_back(form);
    if (whole && (values.size() < 2 || !allEqual(values))) forms.push_back("(" + any + ")");
    return forms;
}

const Tag* metaTitle(const std::vector<Tag>& tags) {
    for (std::string_view wanted : {"og:title", "twitter:title"})
        for (const Tag& tag : tags)
            if (!tag.closing && tag.name == "meta")
                for (std::string_view key : {"property", "name"})
                    if (const Attribute* a = tag.find(key);
                        a && a->value == wanted && tag.find("content"))
                        return &tag;
    return nullptr;
}

std::vector<std::string> metaCandidates(const std::string& comicName,
                                        const std::vector<SamplePage>& samples) {
    std::vector<Tag> tags = scanTags(samples.front().text, 400);
    const Tag* meta = metaTitle(tags);
    if (!meta) return {};
    int keyAt = meta->indexOf("property") >= 0 &&
                        meta->find("property")->value.find("title") != std::string::npos
                    ? meta->indexOf("property")
                    : meta->indexOf("name");
    int contentAt = meta->indexOf("content");
    const Attribute& key = meta->attributes[static_cast<std::size_t>(keyAt)];
    const Attribute& content = meta->attributes[static_cast<std::size_t>(contentAt)];
    std::vector<std::string> values;
    for (const SamplePage& sample : samples) {
        std::vector<Tag> sampleTags = scanTags(sample.text, 400);
        const Tag* found = metaTitle(sampleTags);
        values.push_back(found ? collapsedWhitespace(found->find("content")->value) : "");
    }
    std::string quote = content.quote ? std::string(1, content.quote) : "";
    std::string any = content.quote ? std::string("[^") + content.quote + "]*?" : "[^\\s>]*?";
    std::string keyPiece =
        attributeStart(key) + "[\"']?" + escapePattern(key.value) + "(?=[\"'\\s>])";
    std::vector<std::string> out;
    for (const std::string& form : splitForms(values, comicName, any, true)) {
        std::string valuePiece = attributeStart(content) + quote + "\\s*" + form + "\\s*" + quote;
        out.push_back("@<[Mm][Ee][Tt][Aa]\\b[^>]*?" + (keyAt < contentAt
                                                           ? keyPiece + "[^>]*?" + valuePiece
                                                           : valuePiece + "[^>]*?" + keyPiece));
    }
    return out;
}

// The <title> split beside the comic's name, or whole.
std::vector<std::string> titleCandidates(const std::string& comicName,
                                         const std::vector<SamplePage>& samples, bool whole) {
    std::vector<std::string> values;
    for (const SamplePage& sample : samples) values.push_back(titleText(sample.text));
    std::vector<std::string> out;
    for (const std::string& form : splitForms(values, comicName, "[^<]*?", false)) {
        if (whole) break;
        out.push_back("@<[Tt][Ii][Tt][Ll][Ee]\\b[^>]*>\\s*" + form + "\\s*</[Tt][Ii][Tt][Ll][Ee]");
    }
    if (whole)
        out.push_back("@<[Tt][Ii][Tt][Ll][Ee]\\b[^>]*>\\s*([^<]*?)\\s*</[Tt][Ii][Tt][Ll][Ee]");
    return out;
}

std::vector<std::string> headingCandidates(const std::vector<SamplePage>& samples) {
    std::vector<std::string> out;
    for (const Tag& tag : scanTags(samples.front().text)) {
        if (tag.closing) continue;
        for (const Attribute& attribute : tag.attributes) {
            if (attribute.name != "class" && attribute.name != "id") continue;
            for (const std::string& token : wordsOfTokens(attribute.value))
                if (tools::lowered(token).find("title") != std::string::npos &&
                    std::none_of(token.begin(), token.end(), [](char c) {
                        return std::isdigit(static_cast<unsigned char>(c));
                    }))
                    out.push_back("@<" + anyCase(tag.name) + "\\b[^>]*?" +
                                  tokenPiece(attribute, token) +
                                  "[^>]*>\\s*(?:<[^>]*>\\s*)*([^<]*[^<\\s])");
        }
    }
    return out;
}

std::vector<std::string> markerCandidates(const std::string& comicName, const std::string& page) {
    std::vector<std::string> out;
    if (page.find("You are here -- [") != std::string::npos)
        out.push_back("@You are here -- \\[([^\\]]*)\\]");
    if (page.find("Permanent Link to ") != std::string::npos ||
        page.find("Permanent Link: ") != std::string::npos)
        out.push_back("@Permanent Link( to |: )([^\"]*)\"@$2");
    if (page.find(comicName + " - ") != std::string::npos)
        out.push_back("@" + escapePattern(comicName) + " - ([^<]*)<");
    return out;
}

bool works(const std::string& expression, const std::vector<SamplePage>& samples) {
    std::vector<std::string> titles;
    for (const SamplePage& sample : samples) {
        std::string title = firstResult(expression, sample.text);
        if (collapsedWhitespace(title).empty() || title.size() > 300) return false;
        titles.push_back(title);
    }
    return samples.size() < 2 || !allEqual(titles);
}

}  // namespace

std::string firstResult(const std::string& expression, const std::string& page) {
    try {
        extract::Replacer find(expression);
        std::vector<std::string> found = find.apply(page);
        return found.empty() ? std::string() : found.front();
    } catch (const std::exception&) {
        return {};
    }
}

std::string findTitleExpression(const std::string& comicName,
                                const std::vector<SamplePage>& samples) {
    if (samples.empty()) return {};
    std::vector<std::string> candidates = metaCandidates(comicName, samples);
    for (const std::string& split : titleCandidates(comicName, samples, false))
        candidates.push_back(split);
    for (const std::string& heading : headingCandidates(samples)) candidates.push_back(heading);
    for (const std::string& marker : markerCandidates(comicName, samples.front().text))
        candidates.push_back(marker);
    for (const std::string& whole : titleCandidates(comicName, samples, true))
        candidates.push_back(whole);
    for (const std::string& candidate : candidates)
        if (works(candidate, samples)) return candidate;
    return {};
}

}  // namespace wendle
