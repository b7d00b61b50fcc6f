#pragma once
// Chisuji, read from the "[Archives]" selection list on the site's page: one
// option per strip, its value naming the strip image.
// Thread safety: as every comic, its state changes under the comic's lock
// (comics/base.hpp); update runs on one worker at a time.
#include <string>
#include <vector>

#include "comics/base.hpp"

namespace comics {

class Chisuji : public BuiltinComic {
public:
    struct Site {
        std::string archive;  // the page holding the "[Archives]" list
        std::string comics;   // the strip image directory, ending in "/"
    };
    static Site realSite();

    explicit Chisuji(FileStorage& storage, Site where = realSite());

    std::string id() const override { return "chisuji"; }
    std::string name() const override { return "Chisuji"; }
    std::string section() const override { return "Chisuji"; }
    std::string typeName() const override { return "chisuji"; }
    void update(const Callback& onChanged, const Callback& onNewPages) override;

    struct Option {
        std::string value;
        std::string text;
    };
    // The options of the list with a non-empty value, in list order.
    static std::vector<Option> options(const std::string& archive);
    Page pageFor(const Option& entry) const;

private:
    const Site site_;
};

}  // namespace comics
