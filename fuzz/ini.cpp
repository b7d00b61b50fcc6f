// The configuration file reader on arbitrary file contents, and the value
// parsers on each of its lines.
#include "tools/ini.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fuzz_support.hpp"

namespace {

// One scratch file per process for the input.
const std::string& scratchFile() {
    static const std::string path = [] {
        char name[] = "/tmp/tovik-fuzz-ini-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        ::close(fd);
        std::atexit([] { std::remove(scratchFile().c_str()); });
        return std::string(name);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    std::FILE* out = std::fopen(scratchFile().c_str(), "wb");
    if (!out) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);

    tools::IniFile file(scratchFile());
    for (const std::string& line : file.lines()) {
        // Each line once as a key of the unnamed section and of a section named by it.
        std::string key = line.substr(0, line.find('='));
        for (const std::string& section : {std::string(), key}) {
            if (!file.has(section, key)) continue;
            try {
                file.get(section, key);
                file.getInt(section, key);
                file.getBool(section, key);
            } catch (const std::exception&) {
            }
        }
        tools::parseInt(line);
        try {
            tools::parseBool(line);
        } catch (const std::exception&) {
        }
    }
    return 0;
}
