// A replacer expression (first line) built and applied to a page (the rest).
#include "extract/replacer.hpp"

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    auto [expression, page] = fuzz::splitFirstLine(fuzz::bytes(data, size));
    try {
        extract::Replacer replacer(expression);
        replacer.apply(page);
    } catch (const std::exception&) {
    }
    return 0;
}
