// The layers of the source tree and which of them each may include. A file
// under src/<layer>/ may include project headers of the layers listed for it and
// the system headers its layer is allowed to touch (SDL only in the drawing
// layers, GD only in the reader).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
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

// One include that crosses the table, as "file:line: message".
std::vector<std::string> violationsIn(const fs::path& file, const std::string& layerName,
                                      const std::string& shownName) {
    static const std::regex project(R"re(^\s*#\s*include\s*"([^"]+)")re");
    static const std::regex system(R"re(^\s*#\s*include\s*<([^>]+)>)re");
    const Layer& layer = layerTable().at(layerName);
    std::vector<std::string> found;
    std::ifstream in(file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::smatch m;
        std::string where = shownName + ":" + std::to_string(number) + ": ";
        if (std::regex_search(line, m, project)) {
            std::string header = m[1];
            auto slash = header.find('/');
            if (slash == std::string::npos) continue;  // beside the including file
            std::string target = header.substr(0, slash);
            if (!layerTable().count(target)) {
                found.push_back(where + "\"" + header + "\" names no layer");
            } else if (!layer.mayInclude.count(target)) {
                found.push_back(where + layerName + " may not include \"" + header + "\"");
            }
        } else if (std::regex_search(line, m, system)) {
            std::string header = m[1];
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
    };
    EXPECT_EQ(got, expected);
}

}  // namespace
