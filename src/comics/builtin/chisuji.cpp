#include "comics/builtin/chisuji.hpp"

#include "comics/builtin/archive.hpp"

namespace comics {

Chisuji::site Chisuji::realSite() {
    return {"http://www.chisuji.com/", "http://www.chisuji.com/comics/"};
}

Chisuji::Chisuji(FileStorage& storage, site where)
    : BuiltinComic(storage), site_(std::move(where)) {}

std::vector<Chisuji::option> Chisuji::options(const std::string& archive) {
    std::size_t at = archive.find("[Archives]");
    if (at == std::string::npos) return {};
    std::string list = archive.substr(at);
    list = list.substr(0, list.find("</select>"));
    std::vector<option> out;
    for (const std::string& item : allBetween(list, "<option", "</option>")) {
        std::string value = builtin::trimmed(between(item, "value=\"", "\""));
        if (value.empty()) continue;  // a heading, not a strip
        out.push_back({value, builtin::trimmed(after(item, "\">"))});
    }
    return out;
}

page Chisuji::pageFor(const option& entry) const {
    return page{site_.comics + entry.value + ".jpg", entityCleanup(entry.text), "", ""};
}

void Chisuji::update(const Callback& onChanged, const Callback& onNewPages) {
    comic::update(onChanged, onNewPages);
    builtin::ArchiveSteps<option> steps;
    steps.source = site_.archive;
    steps.entries = [](const std::string& archive) { return options(archive); };
    steps.build = [this](const option& entry) { return std::optional<page>(pageFor(entry)); };
    steps.append = [this](page p) {
        std::lock_guard<std::recursive_mutex> hold(lock());
        state_.pages.push_back(std::move(p));
    };
    builtin::archiveUpdate(*this, onChanged, onNewPages, steps);
}

}  // namespace comics
