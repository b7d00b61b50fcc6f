#include "comics/strip_source.hpp"

#include "comics/base.hpp"
#include "comics/strip_store.hpp"
#include "downloader/downloader.hpp"
#include "tools/log.hpp"

namespace comics {

std::string_view imageExtension(std::string_view d) {
    auto starts = [&](std::string_view lead, std::size_t at = 0) {
        return d.size() >= at + lead.size() && d.substr(at, lead.size()) == lead;
    };
    if (starts("\x89PNG")) return "png";
    if (starts("\xFF\xD8\xFF")) return "jpg";
    if (starts("GIF8")) return "gif";
    if (starts("RIFF") && starts("WEBP", 8)) return "webp";
    if (starts("BM") && d.size() > 26) return "bmp";
    return "";
}

bool unreachable(const std::string& error) {
    for (const char* text :
         {"Cannot connect to target", "Unable to resolve host", "Connection refused",
          "Network is unreachable", "No route to host", "Connection timed out"})
        if (error.find(text) != std::string::npos) return true;
    return false;
}

StripData loadStrip(const std::string& ref, downloader::Progress progress) {
    const std::shared_ptr<StripStore> store = stripStore();
    StripData out;
    if (auto stored = store->load(ref)) {
        out.data = std::move(*stored);
        out.fromStore = true;
        return out;
    }
    try {
        out.data = downloader::download(ref, std::move(progress), true);
    } catch (const std::exception& e) {
        // A site that answered badly is a failed download (the data stays
        // empty); only one that could not be reached at all is "offline".
        out.reached = !unreachable(e.what());
        out.error = e.what();
        return out;
    }
    // A web page or an error text in place of the image is never kept.
    if (!imageExtension(out.data).empty()) store->put(ref, out.data);
    return out;
}

FetchCount fetchMissingStrips(const Comic& c, StripStore& store, const FetchProgress& progress,
                              const std::atomic<bool>* stop) {
    FetchCount count;
    const std::vector<Page> pages = c.pagesCopy();
    std::size_t failuresInARow = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (stop && *stop) {
            for (std::size_t j = i; j < pages.size(); ++j)
                if (!store.contains(pages[j].image)) count.missing.push_back(j);
            break;
        }
        const std::string& ref = pages[i].image;
        if (store.contains(ref)) {
            ++count.present;
        } else if (count.gaveUp) {
            count.missing.push_back(i);
        } else {
            const std::string data = downloader::download(ref);  // "" and a log line on failure
            if (!imageExtension(data).empty() && store.put(ref, data)) {
                ++count.stored;
                failuresInARow = 0;
            } else {
                if (!data.empty()) tools::logln("Not an image: ", ref);
                count.missing.push_back(i);
                if (++failuresInARow >= failuresBeforeGivingUp) {
                    count.gaveUp = true;
                    tools::logln("Giving up on the strips of ", c.name(), " after ", failuresInARow,
                                 " failed downloads in a row");
                }
            }
        }
        if (progress) progress(i + 1, pages.size());
    }
    return count;
}

}  // namespace comics
