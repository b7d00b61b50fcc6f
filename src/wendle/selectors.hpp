#pragma once
// Adaptive link selectors: start from a pattern for a link's label ("next",
// "prev"...), probe a real page with a broad expression around it, read back
// how the site writes that link (attribute word, quote character, what stands
// between address and label) and build a narrow replacer expression from those
// observed pieces. The narrow expression becomes a plugin's `next` value.
// Thread safety: a selector belongs to the one thread of the dialogue.
#include <string>
#include <string_view>
#include <vector>

namespace wendle {

class LinkSelector {
public:
    virtual ~LinkSelector() = default;
    // Adapts to the page and returns the address the adapted expression finds
    // first, as written in the page. Raises an error with a message when the
    // page does not fit.
    virtual std::string adapt(const std::string& page) = 0;
    // The adapted replacer expression; raises before a first adaptation.
    virtual std::string expression() const = 0;
};

// For labels written after the address (in the link text or a later attribute).
class AdaptiveSelector : public LinkSelector {
public:
    // labelPattern must hold one group: the label as it appears.
    AdaptiveSelector(std::string labelPattern, std::string suffix);
    std::string adapt(const std::string& page) override;
    std::string expression() const override;

private:
    std::string labelPattern_;
    std::string suffix_;
    std::string adapted_;
};

// For labels written before the address inside the tag (a title attribute
// ahead of href).
class AdaptiveReverseSelector : public LinkSelector {
public:
    explicit AdaptiveReverseSelector(std::string labelPattern);
    std::string expression() const override;
    std::string adapt(const std::string& page) override;

private:
    std::string labelPattern_;
    std::string adapted_;
};

// The field separator inside probe results: the middle dot, UTF-8 C2 B7.
inline constexpr std::string_view middleDot = "\xC2\xB7";

// Splits a probe result at every middle dot.
std::vector<std::string> splitAtMiddleDot(std::string_view text);

// The text with every regular-expression metacharacter escaped (and "@", the
// usual expression separator, written by its code), so that a pattern holding
// it matches exactly that text.
std::string escapePattern(std::string_view text);

}  // namespace wendle
