// Strip image bytes: the format sniffing, the size check of the header, the
// decoding and the conversion to a surface.
#include "fuzz_support.hpp"
#include "reader/images.hpp"

// libavif, which GD decodes AVIF with, and the AV1 decoder under it (dav1d) lose a
// few blocks per image: not ours to fix.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libavif.so\nleak:libdav1d.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    try {
        libgd::Image image =
            libgd::toImage(std::string_view(reinterpret_cast<const char*>(data), size));
        if (image) libgd::toSurface(image.get());
    } catch (const std::exception&) {
    }
    return 0;
}
