#include "comics/builtin/npwil.hpp"

#include <set>
#include <stdexcept>

#include "comics/builtin/archive.hpp"
#include "tools/log.hpp"

namespace comics {
namespace {
const std::string stripSection = "/comics/npwil/";
}

Npwil::Site Npwil::realSite() {
    return {"http://www.bohemiandrive.com",
            "http://www.bohemiandrive.com/comics/npwil/archive.html"};
}

Npwil::Npwil(FileStorage& storage, Site where) : BuiltinComic(storage), site_(std::move(where)) {}

std::vector<std::string> Npwil::strips(const std::string& archive) const {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const std::string& link : builtin::hrefs(archive)) {
        std::size_t at = link.find(stripSection);
        if (at == std::string::npos) continue;
        std::string rest = link.substr(at + stripSection.size());
        // The section's own index and the archive page are no strips.
        if (rest.empty() || rest.find("archive") != std::string::npos ||
            rest.rfind("index.", 0) == 0)
            continue;
        std::string address = builtin::onSite(site_.host, link);
        if (seen.insert(address).second) out.push_back(address);
    }
    return out;
}

Page Npwil::pageFrom(const std::string& address, const std::string& text) const {
    std::size_t at = text.find("src=\"/images");
    if (at == std::string::npos) throw std::runtime_error("No strip image found on " + address);
    std::string image = between(text.substr(at), "src=\"", "\"");
    if (image.empty()) throw std::runtime_error("No strip image found on " + address);
    std::string title = entityCleanup(builtin::trimmed(between(text, "class=\"title\">", "<")));
    return Page{site_.host + image, title, "", ""};
}

std::optional<Page> Npwil::build(const std::string& address) const {
    std::string text = builtin::downloadArchivePart(address);
    if (text.empty()) {
        tools::logln("Nothing downloaded from ", address, ", stopping here");
        return std::nullopt;
    }
    return pageFrom(address, text);
}

void Npwil::update(const Callback& onChanged, const Callback& onNewPages) {
    Comic::update(onChanged, onNewPages);
    builtin::ArchiveSteps<std::string> steps;
    steps.source = site_.archive;
    steps.entries = [this](const std::string& archive) { return strips(archive); };
    steps.build = [this](const std::string& address) { return build(address); };
    steps.append = [this](Page p) {
        std::lock_guard<std::recursive_mutex> hold(lock());
        state_.pages.push_back(std::move(p));
    };
    builtin::archiveUpdate(*this, onChanged, onNewPages, steps);
}

}  // namespace comics
