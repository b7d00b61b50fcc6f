// The annotated-address parser and the request bytes made from what it finds.
#include "downloader/http_parts.hpp"
#include "downloader/request.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    try {
        downloader::detail::Request request = downloader::detail::parseUrl(fuzz::bytes(data, size));
        downloader::detail::requestBytes(request);
    } catch (const std::exception&) {
    }
    return 0;
}
