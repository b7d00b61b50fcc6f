#include "comics/builtin/chisuji.hpp"

#include "comics/builtin/archive.hpp"

namespace comics {

Chisuji::Site Chisuji::realSite() {
    return {"http://www.chisuji.com/", "http://www.chisuji.com/comics/"};
}

Chisuji::Chisuji(FileStorage& storage, Site where)
    : BuiltinComic(storage), site_(std::move(where)) {}

std::vector<Chisuji::Option> Chisuji::options(const std::string& archive) {
    std::size_t at = archive.find("[Archives]");
    if (at == std::string::npos) return {};
    std::string list = archive.substr(at);
    list = list.substr(0, list.find("</select>"));
    std::vector<Option> out;
    for (const std::string& item : allBetween(list, "<option", "</option>")) {
        std::string value = builtin::trimmed(between(item, "value=\"", "\""));
        if (value.empty()) continue;  // a heading, not a strip
        out.push_back({value, builtin::trimmed(after(item, "\">"))});
    }
    return out;
}

Page Chisuji::pageFor(const Option& entry) const {
    return Page{site_.comics + entry.value + ".jpg", entityCleanup(entry.text), "", ""};
}

void Chisuji::update(const Callback& onChanged, const Callback& onNewPages) {
    Comic::update(onChanged, onNewPages);
    builtin::ArchiveSteps<Option> steps;
    steps.source = site_.archive;
    steps.entries = [](const std::string& archive) { return options(archive); };
    steps.build = [this](const Option& entry) { return std::optional<Page>(pageFor(entry)); };
    steps.append = [this](Page p) {
        std::lock_guard<std::recursive_mutex> hold(lock());
        state_.pages.push_back(std::move(p));
    };
    builtin::archiveUpdate(*this, onChanged, onNewPages, steps);
}

}  // namespace comics
