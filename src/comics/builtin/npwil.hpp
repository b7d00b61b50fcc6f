#pragma once
// Nine Planets Without Intelligent Life, read from the comic's archive page on
// its host site: every link into "/comics/npwil/" is one strip page, which is
// downloaded for its image and title.
// Thread safety: as every comic, its state changes under the comic's lock
// (comics/base.hpp); update runs on one worker at a time.
#include <optional>
#include <string>
#include <vector>

#include "comics/base.hpp"

namespace comics {

class Npwil : public BuiltinComic {
public:
    struct Site {
        std::string host;     // the host site's root, without a trailing "/"
        std::string archive;  // the comic's archive page
    };
    static Site realSite();

    explicit Npwil(FileStorage& storage, Site where = realSite());

    std::string id() const override { return "npwil"; }
    std::string name() const override { return "Nine Planets Without Intelligent Life"; }
    std::string section() const override { return "NPWIL"; }
    std::string typeName() const override { return "npwil"; }
    void update(const Callback& onChanged, const Callback& onNewPages) override;

    // The strip pages' addresses, each once, in archive order.
    std::vector<std::string> strips(const std::string& archive) const;
    // The page record from a strip page's text; raises when it shows no image.
    Page pageFrom(const std::string& address, const std::string& text) const;

private:
    std::optional<Page> build(const std::string& address) const;

    const Site site_;
};

}  // namespace comics
