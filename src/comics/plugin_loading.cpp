#include "comics/plugin_loading.hpp"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "tools/files.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

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

// The value of the first "name" line of a plugin text (any letter case), or
// the fallback: the name a broken plugin is listed under.
std::string nameIn(const std::string& text, const std::string& fallback) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.size() > 5 && tools::lowered(line.substr(0, 5)) == "name=") {
            std::string name = line.substr(5);
            if (!name.empty() && name.back() == '\r') name.pop_back();
            if (!name.empty()) return name;
        }
        at = end + 1;
    }
    return fallback;
}

// Where an identifier taken by a comic of the list comes from, for the error.
std::string origin(const Comic& c) {
    if (const PluginSource* plugin = asPlugin(c)) {
        std::string path = plugin->path();
        return c.active ? path : path + ".zip";
    }
    return "the built-in comic " + c.name();
}

// The list being loaded into, with the comics it holds by identifier (the
// first of each), so that checking an identifier does not walk the list.
class Appender {
public:
    explicit Appender(ComicRegistry& list) : list_(list) {
        for (const auto& c : list.snapshot()) byId_.try_emplace(c->id(), c);
    }

    // Appends the plugin unless its identifier is taken; refused, it goes in
    // as a broken plugin naming both files.
    void appendChecked(std::shared_ptr<Comic> plugin, const std::string& file,
                       const std::string& text) {
        const std::string identifier = plugin->id();
        auto earlier = byId_.find(identifier);
        if (earlier == byId_.end()) {
            append(std::move(plugin));
            return;
        }
        std::string error = "Identifier \"" + identifier + "\" of " + file +
                            " is already taken by " + origin(*earlier->second);
        tools::logln(error);
        append(
            std::make_shared<BrokenPlugin>(file, nameIn(text, file), error, plugin->active.load()));
    }

    void appendBroken(const std::string& file, const std::string& text, const std::exception& e,
                      bool active) {
        append(std::make_shared<BrokenPlugin>(file, nameIn(text, file), e.what(), active));
    }

private:
    void append(std::shared_ptr<Comic> c) {
        byId_.try_emplace(c->id(), c);
        list_.append(std::move(c));
    }

    ComicRegistry& list_;
    std::unordered_map<std::string, std::shared_ptr<Comic>> byId_;
};

}  // namespace

BrokenPlugin::BrokenPlugin(std::string file, std::string name, std::string error, bool active)
    : Comic(mainStorage()),
      file_(std::move(file)),
      name_(std::move(name)),
      error_(std::move(error)) {
    this->active = active;
    keepStored = true;
    fail(error_);
}

void BrokenPlugin::update(const Callback&, const Callback&) {
    fail(error_);
    throw std::runtime_error(error_);
}

void loadPlugins(const std::string& dir, ComicRegistry& list) {
    try {
        Appender loaded(list);
        std::set<std::string> archived;
        for (const std::string& file : listPlugins(dir, ".re.zip")) {
            const std::string path = file.substr(0, file.size() - 4);
            std::string text;
            // Even an archive that cannot be read hides a plugin file of the
            // same name: saving that one would delete the archive.
            archived.insert(path);
            try {
                auto storage = std::make_unique<FileStorage>();
                storage->read(tools::readWholeFile(file));
                if (!storage->has(path)) {
                    tools::logln("Outweirding error [", path, " not a file] in getting ", path,
                                 " from ", file, ". Ignoring plugin.");
                    continue;
                }
                text = storage->get(path);  // a damaged text fails the plugin
                std::shared_ptr<Comic> plugin = makePlugin(*storage, path, text);
                plugin->active = false;
                archiveStorages().push_back(std::move(storage));
                loaded.appendChecked(std::move(plugin), file, text);
            } catch (const std::exception& e) {
                loaded.appendBroken(file, text, e, false);
            }
        }
        for (const std::string& path : listPlugins(dir, ".re")) {
            if (archived.count(path)) {
                tools::logln("Zip found for ", path, ", ignoring .re");
                continue;
            }
            std::string text;
            try {
                text = readPluginFile(path);
                loaded.appendChecked(makePlugin(mainStorage(), path, text), path, text);
            } catch (const std::exception& e) {
                loaded.appendBroken(path, text, e, true);
            }
        }
    } catch (...) {
        tools::logln("Regex list failed");
        throw;
    }
}

}  // namespace comics
