// The layers of the source tree and which of them each may include. A file
// under src/<layer>/ may include project headers of the layers listed for it and
// the system headers its layer is allowed to touch (SDL only in the drawing
// layers, GD only in the reader). Outside the drawing layers the code does not
// name SDL either (SDL_..., SDLK_..., KMOD_...), not even through their headers.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Layer {
    std::set<std::string> mayInclude;  // project layers, itself included
    bool sdl = false;
    bool gd = false;
};

const std::map<std::string, Layer>& layerTable() {
    static const std::map<std::string, Layer> table = {
        {"tools", {{"tools"}}},
        {"downloader", {{"tools", "downloader"}}},
        {"extract", {{"tools", "extract"}}},
        {"comics", {{"tools", "downloader", "extract", "comics"}}},
        {"sdloo", {{"tools", "sdloo"}, true}},
        {"gui", {{"tools", "sdloo", "gui"}, true}},
        {"reader",
         {{"tools", "downloader", "extract", "comics", "sdloo", "gui", "reader"}, false, true}},
        {"wendle", {{"tools", "downloader", "extract", "comics", "wendle"}}},
    };
    return table;
}

bool identifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// Where a scan stands between lines: inside a block comment, or inside a raw
// string (then the text that ends it).
struct Scan {
    bool inComment = false;
    std::string rawEnd;
};

// The code of a line with comments and string and character literals blanked.
std::string codeOf(const std::string& line, Scan& scan) {
    std::string code;
    std::size_t i = 0;
    while (i < line.size()) {
        if (scan.inComment || !scan.rawEnd.empty()) {
            const std::string end = scan.inComment ? "*/" : scan.rawEnd;
            std::size_t at = line.find(end, i);
            if (at == std::string::npos) return code;
            i = at + end.size();
            scan.inComment = false;
            scan.rawEnd.clear();
            code += ' ';
            continue;
        }
        const char c = line[i];
        const char next = i + 1 < line.size() ? line[i + 1] : '\0';
        const bool startsWord = i == 0 || !identifierChar(line[i - 1]);
        if (c == '/' && next == '/') return code;
        if (c == '/' && next == '*') {
            scan.inComment = true;
            i += 2;
        } else if (c == 'R' && next == '"' && startsWord) {
            std::size_t open = line.find('(', i + 2);
            if (open == std::string::npos) return code;
            scan.rawEnd = ")" + line.substr(i + 2, open - i - 2) + "\"";
            i = open + 1;
        } else if (c == '"' || (c == '\'' && startsWord)) {  // 1'000 is a number
            std::size_t j = i + 1;
            while (j < line.size() && line[j] != c) j += line[j] == '\\' ? 2 : 1;
            i = j + 1;
            code += ' ';
        } else {
            code += c;
            ++i;
        }
    }
    return code;
}

// Whether the line is an include directive; form is '"' or '<', header the
// name between the quotes or brackets. (Parsed by hand: g++ 12 warns inside
// std::regex in the sanitizer builds.)
bool includeOf(const std::string& line, char& form, std::string& header) {
    std::size_t i = 0;
    auto skipSpace = [&] {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    };
    skipSpace();
    if (i >= line.size() || line[i] != '#') return false;
    ++i;
    skipSpace();
    if (line.compare(i, 7, "include") != 0) return false;
    i += 7;
    skipSpace();
    if (i >= line.size() || (line[i] != '"' && line[i] != '<')) return false;
    form = line[i];
    const std::size_t end = line.find(form == '"' ? '"' : '>', i + 1);
    if (end == std::string::npos || end == i + 1) return false;
    header = line.substr(i + 1, end - i - 1);
    return true;
}

// The identifiers of SDL in a line of code: SDL_..., SDLK_..., KMOD_...
std::vector<std::string> sdlNames(const std::string& code) {
    std::vector<std::string> names;
    std::size_t i = 0;
    while (i < code.size()) {
        if (!identifierChar(code[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < code.size() && identifierChar(code[end])) ++end;
        const std::string word = code.substr(i, end - i);
        for (const char* prefix : {"SDL_", "SDLK_", "KMOD_"})
            if (word.rfind(prefix, 0) == 0 && word.size() > std::strlen(prefix))
                names.push_back(word);
        i = end;
    }
    return names;
}

// One include that crosses the table, or a use of SDL outside the drawing
// layers, as "file:line: message".
std::vector<std::string> violationsIn(const fs::path& file, const std::string& layerName,
                                      const std::string& shownName) {
    const Layer& layer = layerTable().at(layerName);
    std::vector<std::string> found;
    std::ifstream in(file);
    std::string line;
    Scan scan;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string where = shownName + ":" + std::to_string(number) + ": ";
        const std::string code = codeOf(line, scan);
        if (!layer.sdl) {
            std::set<std::string> named;
            for (const std::string& name : sdlNames(code))
                if (named.insert(name).second)
                    found.push_back(where + layerName + " may not use " + name);
        }
        char form = 0;
        std::string header;
        if (!includeOf(line, form, header)) continue;
        if (form == '"') {
            auto slash = header.find('/');
            if (slash == std::string::npos) continue;  // beside the including file
            std::string target = header.substr(0, slash);
            if (!layerTable().count(target)) {
                found.push_back(where + "\"" + header + "\" names no layer");
            } else if (!layer.mayInclude.count(target)) {
                found.push_back(where + layerName + " may not include \"" + header + "\"");
            }
        } else {
            bool sdl = header.rfind("SDL", 0) == 0;
            bool gd = header.rfind("gd.h", 0) == 0 || header.rfind("gd_", 0) == 0 ||
                      header.rfind("gdfont", 0) == 0;
            if ((sdl && !layer.sdl) || (gd && !layer.gd)) {
                found.push_back(where + layerName + " may not include <" + header + ">");
            }
        }
    }
    return found;
}

std::vector<std::string> violationsUnder(const fs::path& src) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file()) continue;
        auto ext = entry.path().extension();
        if (ext != ".cpp" && ext != ".hpp" && ext != ".h") continue;
        fs::path relative = fs::relative(entry.path(), src);
        std::string layerName = relative.begin()->string();
        std::string shown = "src/" + relative.generic_string();
        if (!layerTable().count(layerName)) {
            found.push_back(shown + ": not inside a known layer");
            continue;
        }
        auto more = violationsIn(entry.path(), layerName, shown);
        found.insert(found.end(), more.begin(), more.end());
    }
    return found;
}

TEST(Layers, EveryIncludeFollowsTheLayerTable) {
    auto found = violationsUnder(fs::path(TOVIK_SOURCE_DIR) / "src");
    std::string report;
    for (const auto& v : found) report += v + "\n";
    EXPECT_TRUE(found.empty()) << report;
}

TEST(Layers, TheCheckCatchesUpwardAndSidewaysIncludes) {
    fs::path root = fs::temp_directory_path() / ("tovik-layers-" + std::to_string(::getpid()));
    fs::create_directories(root / "gui");
    fs::create_directories(root / "comics");
    fs::create_directories(root / "wendle");
    fs::create_directories(root / "tools");
    std::ofstream(root / "gui" / "w.cpp")
        << "#include \"gui/base.hpp\"\n#include \"comics/base.hpp\"\n";
    std::ofstream(root / "comics" / "m.hpp")
        << "#include <SDL.h>\n#include \"reader/window.hpp\"\n";
    std::ofstream(root / "wendle" / "d.cpp") << "#include \"sdloo/video.hpp\"\n#include <gd.h>\n";
    std::ofstream(root / "tools" / "t.cpp")
        << "#include \"extract/regex.hpp\"\n#include <vector>\n";
    // SDL's names: in code outside the drawing layers only; comments and
    // literals (also over several lines) do not count.
    fs::create_directories(root / "reader");
    std::ofstream(root / "reader" / "r.cpp")
        << "// SDL_Surface in a comment\n"
           "const char* t = \"SDL_Quit\"; char q = '\\''; int n = 1'000; // SDL_Init\n"
           "SDL_Surface* s = sdloo::setVideoMode(1, 1); SDL_Surface* t;\n"
           "int k = SDLK_ESCAPE | KMOD_ALT; /* SDL_Delay\n"
           "   SDL_Flip */ auto raw = R\"x(SDL_GetError\n"
           ")x\"; bool mySDL_thing = sdloo::SDL_Drawable::ok;\n";
    std::ofstream(root / "gui" / "b.cpp") << "SDL_Surface* s = SDL_GetVideoSurface();\n";
    auto found = violationsUnder(root);
    fs::remove_all(root);
    std::set<std::string> got(found.begin(), found.end());
    std::set<std::string> expected = {
        "src/gui/w.cpp:2: gui may not include \"comics/base.hpp\"",
        "src/comics/m.hpp:1: comics may not include <SDL.h>",
        "src/comics/m.hpp:2: comics may not include \"reader/window.hpp\"",
        "src/wendle/d.cpp:1: wendle may not include \"sdloo/video.hpp\"",
        "src/wendle/d.cpp:2: wendle may not include <gd.h>",
        "src/tools/t.cpp:1: tools may not include \"extract/regex.hpp\"",
        "src/reader/r.cpp:3: reader may not use SDL_Surface",
        "src/reader/r.cpp:4: reader may not use SDLK_ESCAPE",
        "src/reader/r.cpp:4: reader may not use KMOD_ALT",
        "src/reader/r.cpp:6: reader may not use SDL_Drawable",
    };
    EXPECT_EQ(got, expected);
}

}  // namespace
