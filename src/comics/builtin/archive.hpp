#pragma once
// The update shared by the archive readers: download the site's archive page,
// list its entries in reading order, and append a page for every entry beyond
// the pages already stored (the page list mirrors the archive one to one).
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "comics/base.hpp"
#include "tools/log.hpp"

namespace comics::builtin {

template <class Entry>
struct ArchiveSteps {
    // The archive's address (it may carry a "POST=" annotation).
    std::string source;
    // The entries of the downloaded archive, oldest first. May raise.
    std::function<std::vector<Entry>(const std::string& archive)> entries;
    // The page for one new entry; nothing ends the update quietly (for
    // example a failed download of the entry's own page). May raise.
    std::function<std::optional<Page>(const Entry& entry)> build;
    // Appends one page under the comic's lock.
    std::function<void(Page)> append;
};

// Downloads without the cache; "" when the download failed.
std::string downloadArchivePart(const std::string& url);
// Every href="..." value of a text, in order.
std::vector<std::string> hrefs(const std::string& text);
// The text without blanks, tabs, carriage returns and line feeds around it.
std::string trimmed(const std::string& text);
// An address made absolute against a site root ("http://host" without a
// trailing slash): "http://..." and "https://..." stay, "//cdn/x" gets the root's scheme,
// "/x" and "x" go below the root.
std::string onSite(const std::string& root, const std::string& address);

// Runs one archive update on the calling thread. A second update of the same
// comic while one runs returns at once. Errors are logged and passed on; the
// pages appended before stay, and `updating` is cleared in every case.
template <class Entry>
void archiveUpdate(Comic& c, const Callback& onChanged, const Callback& onNewPages,
                   const ArchiveSteps<Entry>& steps) {
    if (c.updating.exchange(true)) return;
    auto finish = [&] {
        c.updating = false;
        if (onChanged) onChanged();
    };
    try {
        tools::logln("Updating ", c.name());
        if (onChanged) onChanged();
        std::string archive = downloadArchivePart(steps.source);
        if (!archive.empty()) {
            std::vector<Entry> entries = steps.entries(archive);
            std::size_t have = c.pageCount();
            tools::logln(c.name(), ": ", entries.size(), " in the archive, ", have, " stored");
            for (std::size_t i = have; i < entries.size(); ++i) {
                std::optional<Page> made = steps.build(entries[i]);
                if (!made) break;
                steps.append(std::move(*made));
                if (onNewPages) onNewPages();
                if (onChanged) onChanged();
            }
        }
    } catch (const std::exception& e) {
        tools::logln(c.name(), " update failed: ", e);
        finish();
        throw;
    }
    finish();
}

}  // namespace comics::builtin
