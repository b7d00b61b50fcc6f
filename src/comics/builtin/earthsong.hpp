#pragma once
// Earthsong, read from the site's archive page: every link into one of the
// comic sections ("comic-redux", "vol2", "comic5") is one strip page, which is
// downloaded for its image and date.
// Thread safety: as every comic, its state changes under the comic's lock
// (comics/base.hpp); update runs on one worker at a time.
#include <optional>
#include <string>
#include <vector>

#include "comics/base.hpp"

namespace comics {

class Earthsong : public BuiltinComic {
public:
    struct Site {
        std::string root;     // the site root, without a trailing "/"
        std::string archive;  // the archive page
    };
    static Site realSite();

    explicit Earthsong(FileStorage& storage, Site where = realSite());

    std::string id() const override { return "earthsong"; }
    std::string name() const override { return "Earthsong"; }
    std::string section() const override { return "Earthsong"; }
    std::string typeName() const override { return "earthsong"; }
    void update(const Callback& onChanged, const Callback& onNewPages) override;

    // The strip pages as "section/file", each once, in archive order. A link
    // into a section that is not "section/file" raises "Invalid segment length "
    // + its number of parts; one whose first part is no section raises
    // link + "; wtf?".
    static std::vector<std::string> strips(const std::string& archive);
    // The page record from a strip page's text; raises when it shows no image.
    Page pageFrom(const std::string& entry, const std::string& text) const;

private:
    std::optional<Page> build(const std::string& entry) const;

    const Site site_;
};

}  // namespace comics
