#pragma once
// The comics of one comic portal: thirteen sub-sites that differ only in their
// code (the first label of the host name) and display name, all crawled by
// next links.
// Thread safety: as every comic, its state changes under the comic's lock
// (comics/base.hpp); update runs on one worker at a time.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "comics/next_link_crawler.hpp"

namespace comics {

// The portal's domain; a member's root address is "http://" + code + "." +
// domain + "/".
inline constexpr const char* snafuDomain = "snafu-comics.com";
std::string snafuRoot(const std::string& code);

// Everything the members share; root is the sub-site's root address.
class SnafuPortal : public NextLinkCrawler<false, false, true> {
public:
    SnafuPortal(FileStorage& storage, std::string code, std::string displayName, std::string root);

    std::string id() const override { return code_ + ".snafu"; }
    std::string name() const override { return name_; }
    std::string section() const override { return "snafu: " + name_; }
    std::string typeName() const override { return "snafu"; }

    bool hasNext(const std::string& page) override;
    std::string title(const std::string& page) override;
    // The strip below the root named at the page's first "comics/"; none when
    // the page has no such reference.
    std::vector<std::string> images(const std::string& page) override;
    std::string start() override { return root_ + "?strip_id=0"; }
    // The "<a" link that "NEXT COMIC</a>" closes; raises "No next link found"
    // when the page has none.
    std::string next(const std::string& page) override;
    bool unsafe(const std::string&) override { return false; }

    const std::string& root() const { return root_; }

private:
    const std::string code_;
    const std::string name_;
    const std::string root_;
};

// A text usable as a template argument.
template <std::size_t length>
struct FixedText {
    char text[length]{};
    constexpr FixedText(const char (&from)[length]) { std::copy_n(from, length, text); }  // NOLINT
    std::string str() const { return std::string(text, length - 1); }
};

template <FixedText code, FixedText displayName>
class Snafu : public SnafuPortal {
public:
    explicit Snafu(FileStorage& storage, std::string root = snafuRoot(code.str()))
        : SnafuPortal(storage, code.str(), displayName.str(), std::move(root)) {}
};

}  // namespace comics
