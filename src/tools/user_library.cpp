#include "tools/user_library.hpp"

#include <cstdlib>
#include <stdexcept>

#include "tools/files.hpp"

namespace tools {
namespace fs = std::filesystem;

namespace {

// Written once, when the library has no configuration yet.
constexpr const char* firstIni =
    "# tovik settings; the manual page tovik(1) lists every key\n"
    "centered = false\n"
    "sortmode = 0\n"
    "lock_wait = 60\n";

}  // namespace

fs::path userLibraryDir() {
    const char* data = std::getenv("XDG_DATA_HOME");
    // Relative values are invalid by the base directory rules and ignored.
    if (data && data[0] == '/') return fs::path(data) / "tovik";
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/')
        throw std::runtime_error("Cannot find the per-user data directory: HOME is not set");
    return fs::path(home) / ".local" / "share" / "tovik";
}

const std::vector<std::string>& systemFontCandidates() {
    static const std::vector<std::string> list = {
        "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf",  // Debian, Ubuntu
        "/usr/share/fonts/bitstream-vera/Vera.ttf",               // Fedora
        "/usr/share/fonts/TTF/Vera.ttf",                          // Arch
    };
    return list;
}

void setUpLibrary(const fs::path& dir, const std::vector<std::string>& fonts) {
    std::error_code ec;
    fs::create_directories(dir / "plugins", ec);
    if (ec || !fs::is_directory(dir / "plugins"))
        throw std::runtime_error("Cannot set up the library in " + dir.string() + ": " +
                                 ec.message());
    const fs::path ini = dir / "tovik.ini";
    if (!fs::exists(fs::symlink_status(ini))) writeFileAtomically(ini.string(), firstIni);

    const fs::path font = dir / "vera.ttf";
    const fs::file_status link = fs::symlink_status(font);
    if (fs::exists(link) && !(fs::is_symlink(link) && !fs::exists(font))) return;
    for (const std::string& candidate : fonts) {
        if (!fs::is_regular_file(candidate)) continue;
        fs::remove(font, ec);  // a dangling link
        fs::create_symlink(candidate, font, ec);
        return;  // without a font the window says so itself
    }
}

void enterUserLibrary() {
    const fs::path dir = userLibraryDir();
    setUpLibrary(dir);
    fs::current_path(dir);
}

}  // namespace tools
