#include "comics/plugin_loading.hpp"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "comics/re.hpp"
#include "comics/storage.hpp"
#include "tools/files.hpp"
#include "tools/log.hpp"

namespace comics {

namespace fs = std::filesystem;

namespace {

// Archived plugins keep the storage read from their archive for the whole run.
std::vector<std::unique_ptr<FileStorage>>& archiveStorages() {
    static auto* list = new std::vector<std::unique_ptr<FileStorage>>;
    return *list;
}

// Regular files of dir whose names end in suffix, sorted by name, as "dir/name".
std::vector<std::string> listPlugins(const std::string& dir, const std::string& suffix) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(dir, error);
    if (error) return names;  // no directory: no plugins
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        if (name.size() > suffix.size() && name.ends_with(suffix) && entry.is_regular_file())
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        std::string path = dir + "/" + name;
        std::replace(path.begin(), path.end(), '\\', '/');
        paths.push_back(std::move(path));
    }
    return paths;
}

}  // namespace

void loadPlugins(const std::string& dir, comicList& list) {
    try {
        std::set<std::string> archived;
        for (const std::string& file : listPlugins(dir, ".re.zip")) {
            auto storage = std::make_unique<FileStorage>();
            storage->read(tools::readWholeFile(file));
            const std::string path = file.substr(0, file.size() - 4);
            std::string text;
            try {
                text = storage->get(path);
            } catch (const std::exception& e) {
                tools::logln("Outweirding error [", e, "] in getting ", path, " from ", file,
                             ". Ignoring plugin.");
                continue;
            }
            std::shared_ptr<comic> plugin = makePlugin(*storage, path, text);
            plugin->active = false;
            archiveStorages().push_back(std::move(storage));
            archived.insert(path);
            list.append(std::move(plugin));
        }
        for (const std::string& path : listPlugins(dir, ".re")) {
            tools::readWholeFile(path);  // an unreadable file stops the loading
            if (archived.count(path)) {
                tools::logln("Zip found for ", path, ", ignoring .re");
                continue;
            }
            list.append(makePlugin(mainStorage(), path, ""));
        }
    } catch (...) {
        tools::logln("Regex list failed");
        throw;
    }
}

}  // namespace comics
