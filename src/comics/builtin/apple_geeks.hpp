#pragma once
// Applegeeks, read from the site's issue index (a form posted with
// "year=all"), which lists the issues as "<number> - <text>" links.
// Thread safety: as every comic, its state changes under the comic's lock
// (comics/base.hpp); update runs on one worker at a time.
#include <string>
#include <vector>

#include "comics/base.hpp"

namespace comics {

class AppleGeeks : public BuiltinComic {
public:
    struct Site {
        std::string index;   // the issue index, fetched with a POST request
        std::string images;  // issue image address; number + ".jpg" follows
    };
    static Site realSite();

    explicit AppleGeeks(FileStorage& storage, Site where = realSite());

    std::string id() const override { return "applegeeks"; }
    std::string name() const override { return "Applegeeks"; }
    std::string section() const override { return "Applegeeks"; }
    std::string typeName() const override { return "applegeeks"; }
    void update(const Callback& onChanged, const Callback& onNewPages) override;

    struct Issue {
        std::string number;
        std::string text;   // after " - "
        std::string title;  // the link's title attribute
    };
    // The issues of the index in number order. An index without "Issues " or
    // without a single "<number> - <text>" item raises
    // "No issues or no - found, aborting".
    static std::vector<Issue> issues(const std::string& index);
    Page pageFor(const Issue& entry) const;

private:
    const Site site_;
};

}  // namespace comics
