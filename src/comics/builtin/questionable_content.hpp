#pragma once
// Questionable Content, read from the site's archive page, which lists every
// strip as a link "Comic <number>: <title>", newest first.
// Thread safety: as every comic, its state changes under the comic's lock
// (comics/base.hpp); update runs on one worker at a time.
#include <string>
#include <vector>

#include "comics/base.hpp"

namespace comics {

class QuestionableContent : public BuiltinComic {
public:
    struct Site {
        std::string archive;  // the archive page
        std::string comics;   // the strip image directory, ending in "/"
    };
    static Site realSite();

    explicit QuestionableContent(FileStorage& storage, Site where = realSite());

    std::string id() const override { return "questionablecontent"; }
    std::string name() const override { return "Questionable Content"; }
    std::string section() const override { return "QC"; }
    std::string typeName() const override { return "questionablecontent"; }
    void update(const Callback& onChanged, const Callback& onNewPages) override;

    // The archive's entries ("Comic " + number + ":" + title), oldest first.
    static std::vector<std::string> entries(const std::string& archive);
    Page pageFor(const std::string& entry) const;

private:
    const Site site_;
};

}  // namespace comics
