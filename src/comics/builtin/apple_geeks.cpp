#include "comics/builtin/apple_geeks.hpp"

#include <algorithm>
#include <stdexcept>

#include "comics/builtin/archive.hpp"

namespace comics {
namespace {

const char* noIssues = "No issues or no - found, aborting";

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char ch) { return ch >= '0' && ch <= '9'; });
}

// Issue numbers compare as numbers of any length.
bool numberLess(const std::string& a, const std::string& b) {
    auto strip = [](const std::string& s) {
        std::size_t nz = s.find_first_not_of('0');
        return nz == std::string::npos ? std::string() : s.substr(nz);
    };
    std::string x = strip(a), y = strip(b);
    if (x.size() != y.size()) return x.size() < y.size();
    return x < y;
}

}  // namespace

AppleGeeks::Site AppleGeeks::realSite() {
    return {"http://www.applegeeks.com/comics/archive.php",
            "http://www.applegeeks.com/comics/issue"};
}

AppleGeeks::AppleGeeks(FileStorage& storage, Site where)
    : BuiltinComic(storage), site_(std::move(where)) {}

std::vector<AppleGeeks::Issue> AppleGeeks::issues(const std::string& index) {
    std::size_t at = index.find("Issues ");
    if (at == std::string::npos) throw std::runtime_error(noIssues);
    std::vector<Issue> out;
    for (const std::string& link : allBetween(index.substr(at), "<a", "</a>")) {
        std::size_t close = link.find('>');
        if (close == std::string::npos) continue;
        std::string tag = link.substr(0, close);
        std::string inner = link.substr(close + 1);
        std::size_t dash = inner.find(" - ");
        if (dash == std::string::npos) continue;
        std::string number = builtin::trimmed(inner.substr(0, dash));
        if (!allDigits(number)) continue;
        out.push_back(
            {number, builtin::trimmed(inner.substr(dash + 3)), between(tag, "title=\"", "\"")});
    }
    if (out.empty()) throw std::runtime_error(noIssues);
    std::stable_sort(out.begin(), out.end(),
                     [](const Issue& a, const Issue& b) { return numberLess(a.number, b.number); });
    return out;
}

Page AppleGeeks::pageFor(const Issue& entry) const {
    std::string title = entry.text;
    if (!entry.title.empty()) title += ": " + entry.title;
    return Page{site_.images + entry.number + ".jpg", entityCleanup(title), "", ""};
}

void AppleGeeks::update(const Callback& onChanged, const Callback& onNewPages) {
    Comic::update(onChanged, onNewPages);
    builtin::ArchiveSteps<Issue> steps;
    steps.source = "POST=start=0&year=all " + site_.index;
    steps.entries = [](const std::string& index) { return issues(index); };
    steps.build = [this](const Issue& entry) { return std::optional<Page>(pageFor(entry)); };
    steps.append = [this](Page p) {
        std::lock_guard<std::recursive_mutex> hold(lock());
        state_.pages.push_back(std::move(p));
    };
    builtin::archiveUpdate(*this, onChanged, onNewPages, steps);
}

}  // namespace comics
