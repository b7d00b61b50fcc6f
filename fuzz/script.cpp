// A selector script (first line) compiled and run on a page (the rest).
#include "extract/script.hpp"

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    auto [program, page] = fuzz::splitFirstLine(fuzz::bytes(data, size));
    try {
        extract::SelectorScript script(program);
        script.apply(page);
    } catch (const std::exception&) {
    }
    return 0;
}
