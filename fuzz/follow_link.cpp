// Link resolution: the page's address (first line) and a link found on it (the
// rest). A resolved address goes on to the address parser, as in a crawl.
#include "downloader/follow_link.hpp"

#include "downloader/http_parts.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    auto [address, link] = fuzz::splitFirstLine(fuzz::bytes(data, size));
    try {
        std::string next = downloader::followLink(address, link);
        downloader::detail::parseUrl(next);
    } catch (const std::exception&) {
    }
    return 0;
}
