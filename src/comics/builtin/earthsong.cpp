#include "comics/builtin/earthsong.hpp"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "comics/builtin/archive.hpp"
#include "extract/regex.hpp"
#include "tools/log.hpp"

namespace comics {
namespace {

const std::vector<std::string> sections = {"comic-redux", "vol2", "comic5"};

bool isSection(const std::string& part) {
    return std::find(sections.begin(), sections.end(), part) != sections.end();
}

bool mentionsSection(const std::string& link) {
    return std::any_of(sections.begin(), sections.end(), [&](const std::string& s) {
        return link.find(s + "/") != std::string::npos;
    });
}

std::vector<std::string> split(const std::string& text, char at) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        std::size_t to = text.find(at, from);
        parts.push_back(text.substr(from, to == std::string::npos ? std::string::npos : to - from));
        if (to == std::string::npos) return parts;
        from = to + 1;
    }
}

// A link relative to the site root: "../vol2/12.html", "/vol2/12.html" and
// "http://host/vol2/12.html" all give "vol2/12.html".
std::string belowRoot(std::string link) {
    if (link.rfind("http://", 0) == 0) {
        std::size_t slash = link.find('/', 7);
        link = slash == std::string::npos ? "" : link.substr(slash + 1);
    }
    for (;;) {
        if (link.rfind("../", 0) == 0)
            link.erase(0, 3);
        else if (link.rfind("./", 0) == 0)
            link.erase(0, 2);
        else if (link.rfind("/", 0) == 0)
            link.erase(0, 1);
        else
            return link;
    }
}

}  // namespace

Earthsong::Site Earthsong::realSite() {
    return {"http://www.earthsongsaga.com", "http://www.earthsongsaga.com/archive.html"};
}

Earthsong::Earthsong(FileStorage& storage, Site where)
    : BuiltinComic(storage), site_(std::move(where)) {}

std::vector<std::string> Earthsong::strips(const std::string& archive) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const std::string& href : builtin::hrefs(archive)) {
        if (!mentionsSection(href)) continue;
        std::string link = belowRoot(href);
        std::vector<std::string> parts = split(link, '/');
        if (parts.size() != 2)
            throw std::runtime_error("Invalid segment length " + std::to_string(parts.size()));
        if (!isSection(parts[0]) || parts[1].empty()) throw std::runtime_error(link + "; wtf?");
        if (seen.insert(link).second) out.push_back(link);
    }
    return out;
}

Page Earthsong::pageFrom(const std::string& entry, const std::string& text) const {
    static const extract::EcmaRegex imageName("^[0-9]+\\.(jpg|png|gif|jpeg)$");
    static const extract::EcmaRegex date("[^> ]* [0-9]{1,2}[ ]{0,1}, [0-9]{4}");
    std::string image;
    for (const std::string& source : allBetween(text, "img src=\"../", "\"")) {
        std::string file =
            source.substr(source.rfind('/') == std::string::npos ? 0 : source.rfind('/') + 1);
        if (imageName.first(file, [](const extract::RegexMatch&) {})) {
            image = site_.root + "/" + source;
            break;
        }
    }
    if (image.empty()) throw std::runtime_error("No strip image found on " + entry);
    std::string title = entry;
    std::size_t marker = text.find("</strong><strong>");
    if (marker != std::string::npos) {
        std::size_t from = marker >= 100 ? marker - 100 : 0;
        std::string around = text.substr(from, 400);
        date.first(around, [&](const extract::RegexMatch& m) { title = std::string(m.groups[0]); });
    }
    return Page{image, title, "", ""};
}

std::optional<Page> Earthsong::build(const std::string& entry) const {
    std::string address = site_.root + "/" + entry;
    std::string text = builtin::downloadArchivePart(address);
    if (text.empty()) {
        tools::logln("Nothing downloaded from ", address, ", stopping here");
        return std::nullopt;
    }
    return pageFrom(entry, text);
}

void Earthsong::update(const Callback& onChanged, const Callback& onNewPages) {
    Comic::update(onChanged, onNewPages);
    builtin::ArchiveSteps<std::string> steps;
    steps.source = site_.archive;
    steps.entries = [](const std::string& archive) { return strips(archive); };
    steps.build = [this](const std::string& entry) { return build(entry); };
    steps.append = [this](Page p) {
        std::lock_guard<std::recursive_mutex> hold(lock());
        state_.pages.push_back(std::move(p));
    };
    builtin::archiveUpdate(*this, onChanged, onNewPages, steps);
}

}  // namespace comics
