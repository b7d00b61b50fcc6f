// Reading ZIP bytes into a storage: the comic storage file and the archived
// plugins both come this way. What was read must survive a build and a new
// read: every readable member with the same bytes.
#include <cstdlib>
#include <optional>

#include "comics/storage.hpp"
#include "fuzz_support.hpp"

namespace {

// The member's bytes; nothing for one the storage refuses to hand out.
std::optional<std::string> content(const comics::FileStorage& storage, const std::string& name) {
    try {
        return storage.get(name);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

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
    // A damaged member whose stored bytes cannot be copied either is left out of the
    // new archive (and logged); every member that reads must come back unchanged.
    for (const std::string& name : storage.names()) {
        std::optional<std::string> before = content(storage, name);
        if (before && content(again, name) != before) std::abort();
    }
    return 0;
}
