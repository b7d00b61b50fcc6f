// The comic-state decoder on arbitrary bytes (a damaged or crafted storage
// member). Whatever decodes must encode and decode again to the same state.
#include <cstdlib>

#include "comics/serialize.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    comics::ComicState state;
    try {
        state = comics::serialize::decode(fuzz::bytes(data, size));
    } catch (const std::exception&) {
        return 0;
    }
    if (!(comics::serialize::decode(comics::serialize::encode(state)) == state)) std::abort();
    return 0;
}
