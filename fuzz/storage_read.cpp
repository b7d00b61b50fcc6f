// Reading ZIP bytes into a storage: the comic storage file and the archived
// plugins both come this way. What was read must survive a build and a new read.
#include <cstdlib>

#include "comics/storage.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    comics::FileStorage storage;
    try {
        storage.read(fuzz::bytes(data, size));
    } catch (const std::exception&) {
        return 0;
    }
    comics::FileStorage again;
    again.read(storage.build());
    if (again.names() != storage.names()) std::abort();
    for (const std::string& name : storage.names())
        if (again.get(name) != storage.get(name)) std::abort();
    return 0;
}
