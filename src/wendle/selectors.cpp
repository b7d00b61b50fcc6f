#include "wendle/selectors.hpp"

#include <stdexcept>
#include <utility>

#include "extract/replacer.hpp"
#include "tools/log.hpp"

namespace wendle {

namespace {

std::vector<std::string> applyExpression(const std::string& expression, const std::string& page) {
    extract::Replacer probe(expression);
    return probe.apply(page);
}

std::string joinedGroups(int count) {
    std::string format = "@";
    for (int group = 1; group <= count; ++group) {
        if (group > 1) format += middleDot;
        format += "$" + std::to_string(group);
    }
    return format;
}

}  // namespace

std::vector<std::string> splitAtMiddleDot(std::string_view text) {
    std::vector<std::string> fields;
    for (;;) {
        std::size_t at = text.find(middleDot);
        fields.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + middleDot.size());
    }
    return fields;
}

std::string escapePattern(std::string_view text) {
    static constexpr std::string_view special = "\\^$.|?*+()[]{}";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '@') {
            // "@" separates the parts of an expression; inside the pattern it is
            // written by its code.
            out += "\\x40";
            continue;
        }
        if (special.find(c) != std::string_view::npos) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

AdaptiveSelector::AdaptiveSelector(std::string labelPattern, std::string suffix)
    : labelPattern_(std::move(labelPattern)), suffix_(std::move(suffix)) {}

std::string AdaptiveSelector::adapt(const std::string& page) {
    tools::logln("Attempting to adapt regex to source ... ");
    std::string probe =
        "@(href|HREF)=([\"'])([^\"']*)([\"'])([^>]*>*[^>]*)" + labelPattern_ + joinedGroups(6);
    std::vector<std::string> results = applyExpression(probe, page);
    if (results.empty())
        throw std::runtime_error("Could not select using this selector string - no matches");
    if (results.size() > 1) tools::logln("More than one match. Working with first.");

    std::vector<std::string> fields = splitAtMiddleDot(results.front());
    if (fields.size() != 6) throw std::runtime_error("WTF!");
    const std::string& attribute = fields[0];
    const std::string& quote = fields[1];
    if (fields[3] != quote) throw std::runtime_error("Inequal quote marks!");
    tools::logln("Done; attribute is ", attribute, "; quote symbol is ", quote);

    std::string between = fields[4].find('>') != std::string::npos ? "[^>]*>*[^>]*" : "[^>]*";
    tools::logln("Between: ", between);

    // The label goes in as it was seen on the page, literally.
    adapted_ = "@" + attribute + "=" + quote + "([^" + quote + "]*)" + quote + between +
               escapePattern(fields[5]) + suffix_;
    std::vector<std::string> found = applyExpression(adapted_, page);
    if (found.empty())
        throw std::runtime_error("Something went wrong during adaptation to " + adapted_ + "!");
    return found.front();
}

std::string AdaptiveSelector::expression() const {
    if (adapted_.empty()) throw std::runtime_error("Adaptive selector not adapted yet!");
    return adapted_;
}

AdaptiveReverseSelector::AdaptiveReverseSelector(std::string labelPattern)
    : labelPattern_(std::move(labelPattern)) {}

std::string AdaptiveReverseSelector::expression() const {
    if (adapted_.empty())
        throw std::runtime_error("wendle.AdaptiveReverseSelector not adapted yet!");
    return adapted_;
}

std::string AdaptiveReverseSelector::adapt(const std::string& page) {
    tools::logln("Attempting to adapt reverse regex to source ... ");
    std::string probe = "@" + labelPattern_ + "[^Hh]*([Hh][Rr][Ee][Ff])=(['\"])" + joinedGroups(3);
    std::vector<std::string> results = applyExpression(probe, page);
    if (results.empty())
        throw std::runtime_error("Could not select using reverse string - no matches");
    if (results.size() > 1) tools::logln("More than one match in rev. Working with first.");

    std::vector<std::string> fields = splitAtMiddleDot(results.front());
    if (fields.size() != 3) throw std::runtime_error("WTF!");
    const std::string& label = fields[0];
    const std::string& attribute = fields[1];
    const std::string& quote = fields[2];
    tools::logln("Done. Repl is ", label, ", attribute ", attribute, ", quote character ", quote);

    adapted_ = "@" + escapePattern(label) + "[^Hh]*" + attribute + "=" + quote + "([^" + quote +
               "]*)" + quote;
    std::vector<std::string> found = applyExpression(adapted_, page);
    if (found.empty())
        throw std::runtime_error("Something went wrong during reverse adaption to " + adapted_ +
                                 "!");
    return found.front();
}

}  // namespace wendle
