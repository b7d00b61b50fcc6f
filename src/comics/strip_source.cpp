#include "comics/strip_source.hpp"

#include <chrono>
#include <map>
#include <mutex>

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
    // ISO media files: the brand after "ftyp" tells AVIF from HEIF.
    if (starts("ftyp", 4)) {
        if (starts("avif", 8) || starts("avis", 8)) return "avif";
        for (std::string_view brand : {"heic", "heix", "hevc", "heim", "heis", "mif1", "msf1"})
            if (starts(brand, 8)) return "heic";
    }
    return "";
}

bool unreachable(const std::string& error) {
    for (const char* text :
         {"Cannot connect to target", "Unable to resolve host", "Connection refused",
          "Network is unreachable", "No route to host", "Connection timed out"})
        if (error.find(text) != std::string::npos) return true;
    return false;
}

namespace {

using Clock = std::chrono::steady_clock;

// Hosts that could not be reached a moment ago: paging through a comic on a
// train then says "not downloaded" at once instead of after the client's
// connection retries for every strip.
constexpr auto unreachableMemory = std::chrono::seconds(20);
std::mutex unreachableLock;
std::map<std::string, Clock::time_point> unreachableSince;  // guarded by unreachableLock

bool recentlyUnreachable(const std::string& host) {
    std::lock_guard<std::mutex> hold(unreachableLock);
    auto found = unreachableSince.find(host);
    if (found == unreachableSince.end()) return false;
    if (Clock::now() - found->second < unreachableMemory) return true;
    unreachableSince.erase(found);
    return false;
}

void noteReachable(const std::string& host, bool reachable) {
    std::lock_guard<std::mutex> hold(unreachableLock);
    if (reachable)
        unreachableSince.erase(host);
    else
        unreachableSince[host] = Clock::now();
}

}  // namespace

std::string hostOf(const std::string& ref) {
    std::string address = ref;
    // Annotations end at the last space ("POST=... REFER=... 1.0 address").
    if (const std::size_t space = address.rfind(' '); space != std::string::npos)
        address.erase(0, space + 1);
    for (const char* scheme : {"http://", "https://"})
        if (address.rfind(scheme, 0) == 0) {
            address.erase(0, std::char_traits<char>::length(scheme));
            break;
        }
    return address.substr(0, address.find('/'));
}

void forgetUnreachableHosts() {
    std::lock_guard<std::mutex> hold(unreachableLock);
    unreachableSince.clear();
}

StripData loadStrip(const std::string& ref, downloader::Progress progress) {
    const std::shared_ptr<StripStore> store = stripStore();
    StripData out;
    if (auto stored = store->load(ref)) {
        out.data = std::move(*stored);
        out.fromStore = true;
        return out;
    }
    const std::string host = hostOf(ref);
    if (recentlyUnreachable(host)) {
        out.reached = false;
        out.error = host + " could not be reached moments ago";
        return out;
    }
    try {
        out.data = downloader::download(ref, std::move(progress), true);
    } catch (const std::exception& e) {
        // A site that answered badly is a failed download (the data stays
        // empty); only one that could not be reached at all is "offline".
        out.reached = !unreachable(e.what());
        out.error = e.what();
        noteReachable(host, out.reached);
        return out;
    }
    noteReachable(host, true);
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
                if (!store.contains(std::string(pages[j].image()))) count.missing.push_back(j);
            break;
        }
        const std::string ref(pages[i].image());
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
