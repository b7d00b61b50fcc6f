#pragma once
// Where strip images come from: the strip store first, the network second.
//
// loadStrip is the reader's way to a strip: a strip in the store is answered
// from disk without any request; otherwise it is downloaded through the page
// cache and, when the bytes look like an image, kept in the store. Prefetches
// take the same way. fetchMissingStrips brings every page of a comic into the
// store (comics that keep their strips, and the export), one download at a
// time, so a site sees no more than one request of it at once.
//
// Thread safety: both may run on any thread; the store and the downloader
// guard themselves. fetchMissingStrips reads the comic through its copies.
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "downloader/progress.hpp"

namespace comics {

class Comic;
class StripStore;

struct StripData {
    std::string data;
    bool fromStore = false;
    // false: the site could not be reached (no network, the host gone); a
    // site that answered without a usable body leaves it true with no data.
    bool reached = true;
    std::string error;  // why the download failed, when it did
};

// Whether a download error says that no connection to the site could be made.
bool unreachable(const std::string& error);

// The strip of an image reference, from the process-wide store or the network.
// A host found unreachable is not tried again for 20 seconds: its strips
// report unreachable at once.
StripData loadStrip(const std::string& ref, downloader::Progress progress = {});
// The host (and port) of an image reference's address.
std::string hostOf(const std::string& ref);
// Forgets the unreachable hosts (tests).
void forgetUnreachableHosts();

// The file extension of image bytes by their first bytes ("png", "jpg", "gif",
// "webp", "bmp", "avif", "heic"), or "" when they are no image format.
std::string_view imageExtension(std::string_view data);

struct FetchCount {
    std::size_t present = 0;  // intact in the store already
    std::size_t stored = 0;   // downloaded and stored now
    // Indexes of pages whose strip could not be stored, in page order.
    std::vector<std::size_t> missing;
    bool gaveUp = false;  // stopped after too many failures in a row
};

// Called after each page: pages looked at so far, the page count.
using FetchProgress = std::function<void(std::size_t done, std::size_t total)>;

// Downloads the strip of every page of c that the store lacks (without the
// page cache) and stores it. After this many failures in a row the site is
// taken to be unreachable and the rest is counted missing without a request.
inline constexpr std::size_t failuresBeforeGivingUp = 5;
FetchCount fetchMissingStrips(const Comic& c, StripStore& store, const FetchProgress& progress = {},
                              const std::atomic<bool>* stop = nullptr);

}  // namespace comics
