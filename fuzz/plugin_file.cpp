// The plugin file parser: the keys, the flags scan and the expressions it
// builds, then each expression applied to the file's own text.
#include "comics/plugin_file.hpp"

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    std::string text = fuzz::bytes(data, size);
    try {
        comics::PluginSettings settings =
            comics::parsePlugin("fuzz.re", text, comics::scanFlags(text));
        for (const auto& replacer : {settings.next, settings.title, settings.images,
                                     settings.unsafe, settings.frontpageMatch, settings.skip})
            if (replacer) replacer->apply(text);
    } catch (const std::exception&) {
    }
    return 0;
}
