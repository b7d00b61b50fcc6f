#include "comics/builtin/questionable_content.hpp"

#include <algorithm>

#include "comics/builtin/archive.hpp"

namespace comics {

QuestionableContent::Site QuestionableContent::realSite() {
    return {"http://www.questionablecontent.net/archive.php",
            "http://www.questionablecontent.net/comics/"};
}

QuestionableContent::QuestionableContent(FileStorage& storage, Site where)
    : BuiltinComic(storage), site_(std::move(where)) {}

std::vector<std::string> QuestionableContent::entries(const std::string& archive) {
    std::vector<std::string> out;
    for (const std::string& link : allBetween(archive, "<a", "</a>")) {
        if (link.find(">Comic ") == std::string::npos) continue;
        out.push_back(after(link, ">"));
    }
    std::reverse(out.begin(), out.end());  // the archive lists the newest first
    return out;
}

Page QuestionableContent::pageFor(const std::string& entry) const {
    std::string title = entry.substr(std::min<std::size_t>(6, entry.size()));
    std::string number = builtin::trimmed(title.substr(0, title.find(':')));
    return Page{site_.comics + number + ".png", entityCleanup(title), "", ""};
}

void QuestionableContent::update(const Callback& onChanged, const Callback& onNewPages) {
    Comic::update(onChanged, onNewPages);
    builtin::ArchiveSteps<std::string> steps;
    steps.source = site_.archive;
    steps.entries = [](const std::string& archive) { return entries(archive); };
    steps.build = [this](const std::string& entry) { return std::optional<Page>(pageFor(entry)); };
    steps.append = [this](Page p) {
        std::lock_guard<std::recursive_mutex> hold(lock());
        state_.pages.push_back(std::move(p));
    };
    builtin::archiveUpdate(*this, onChanged, onNewPages, steps);
}

}  // namespace comics
