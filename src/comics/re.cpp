#include "comics/re.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>

#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "downloader/follow_link.hpp"
#include "tools/files.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

namespace comics {

using tools::lowered;
using tools::replaceAll;

namespace fs = std::filesystem;
using Hold = std::lock_guard<std::recursive_mutex>;

namespace {

// Calls f(key, value) for every line holding "=" (one trailing CR dropped).
template <class F>
void forEachSetting(const std::string& text, F f) {
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + at, end - at);
        if (line.ends_with('\r')) line.remove_suffix(1);
        std::size_t eq = line.find('=');
        if (eq != std::string_view::npos) f(line.substr(0, eq), line.substr(eq + 1));
        at = end + 1;
    }
}

std::string withoutHttp(std::string address) {
    if (address.starts_with("http://")) address.erase(0, 7);
    return address;
}

// Archived plugins keep the storage read from their archive for the whole run.
std::vector<std::unique_ptr<FileStorage>>& archiveStorages() {
    static auto* list = new std::vector<std::unique_ptr<FileStorage>>;
    return *list;
}

}  // namespace

pluginFlags scanFlags(const std::string& text) {
    pluginFlags flags;
    forEachSetting(text, [&](std::string_view key, std::string_view) {
        if (key == "frontpage" || key == "frontpage_match" || key == "fpmatch") flags.fp = true;
        if (key == "skip") flags.sk = true;
        if (key == "archive") flags.archive = true;
    });
    return flags;
}

pluginSettings parsePlugin(const std::string& path, const std::string& text, pluginFlags flags) {
    pluginSettings s;
    s.text = text;
    try {
        forEachSetting(text, [&](std::string_view rawKey, std::string_view rawValue) {
            const std::string key = lowered(std::string(rawKey));
            const std::string value(rawValue);
            auto build = [&](const char* label) {
                try {
                    return std::make_shared<const extract::replacer>(value);
                } catch (...) {
                    tools::logln(label);
                    throw;
                }
            };
            if (key == "name") {
                s.name = value;
            } else if (key == "filename") {
                s.filename = value;
            } else if (key == "start") {
                s.start = value;
            } else if (key == "next") {
                s.next = build("next:");
            } else if (key == "title") {
                s.title = build("title:");
            } else if (key == "images") {
                s.images = build("images:");
            } else if (key == "unsafe") {
                s.unsafe = build("unsafe:");
            } else if (key == "redirs") {
                s.redirects = lowered(value) == "yes";
            } else if (key == "urls") {
                // Each address is resolved against the one before it on the line.
                std::string previous;
                std::size_t at = 0;
                while (at <= value.size()) {
                    std::size_t comma = value.find(',', at);
                    if (comma == std::string::npos) comma = value.size();
                    std::string item = value.substr(at, comma - at);
                    std::size_t eq = item.find('=');
                    std::string label = eq == std::string::npos ? item : item.substr(0, eq);
                    std::string address = eq == std::string::npos ? item : item.substr(eq + 1);
                    if (!previous.empty()) address = downloader::followLink(previous, address);
                    previous = address;
                    s.urls.emplace_back(std::move(label), std::move(address));
                    at = comma + 1;
                }
            } else if (flags.fp && key == "frontpage") {
                s.frontpage = value;
            } else if (flags.fp && (key == "frontpage_match" || key == "fpmatch")) {
                s.frontpageMatch = build("fpmatch:");
            } else if (flags.sk && key == "skip") {
                s.skip = build("skip:");
            } else if (flags.archive && key == "archive") {
                std::size_t comma = value.find(',');
                if (comma == std::string::npos)
                    throw std::runtime_error("No comma in archive value " + value);
                s.start = value.substr(0, comma);
                s.archiveExpression = value.substr(comma + 1);
            }
        });
    } catch (...) {
        tools::logln("Regex::construct with ", path, " failed");
        throw;
    }
    if (s.filename.empty()) {
        s.filename = path;
        replaceAll(s.filename, "plugins/", "");
        replaceAll(s.filename, ".re", "");
    }
    return s;
}

template <bool fp, bool sk, bool archive>
regex_plugin<fp, sk, archive>::regex_plugin(FileStorage& storage, std::string path,
                                            std::string text)
    : fhtagn<fp, sk, false>(storage), path_(std::move(path)), pendingText_(std::move(text)) {
    regex_plugin::parse();
}

template <bool fp, bool sk, bool archive>
void regex_plugin<fp, sk, archive>::parse() {
    std::string text;
    {
        Hold hold(this->lock());
        text = config_ ? config_->text : std::move(pendingText_);
        pendingText_.clear();
    }
    if (text.empty()) text = tools::readWholeFile(path_);
    auto fresh = std::make_shared<const pluginSettings>(parsePlugin(path_, text, flags()));
    Hold hold(this->lock());
    config_ = std::move(fresh);
}

template <bool fp, bool sk, bool archive>
void regex_plugin<fp, sk, archive>::prepareUpdate() {
    if (!this->active) return;
    // Edits of the file take effect at the next update. Work still running with
    // the old expressions keeps them alive until it ends.
    auto fresh = std::make_shared<const pluginSettings>(
        parsePlugin(path_, tools::readWholeFile(path_), flags()));
    Hold hold(this->lock());
    config_ = std::move(fresh);
}

template <bool fp, bool sk, bool archive>
std::shared_ptr<const pluginSettings> regex_plugin<fp, sk, archive>::settings() const {
    Hold hold(this->lock());
    return config_;
}

template <bool fp, bool sk, bool archive>
std::string regex_plugin<fp, sk, archive>::text() const {
    return settings()->text;
}

template <bool fp, bool sk, bool archive>
std::string regex_plugin<fp, sk, archive>::id() const {
    return settings()->filename;
}

template <bool fp, bool sk, bool archive>
std::string regex_plugin<fp, sk, archive>::name() const {
    return settings()->name;
}

template <bool fp, bool sk, bool archive>
LinkList regex_plugin<fp, sk, archive>::urls() const {
    return settings()->urls;
}

template <bool fp, bool sk, bool archive>
std::string regex_plugin<fp, sk, archive>::toString() const {
    return "Regex plugin <- " + fhtagn<fp, sk, false>::toString();
}

template <bool fp, bool sk, bool archive>
std::string regex_plugin<fp, sk, archive>::title(const std::string& page) {
    try {
        auto cfg = settings();
        if (!cfg->title) throw std::runtime_error("no title expression");
        std::vector<std::string> found = cfg->title->apply(page);
        if (found.empty()) return "No title found";
        std::string title = found.front();
        replaceAll(title, "&nbsp;", " ");
        replaceAll(title, "&raquo;", "\xC2\xBB");
        return title;
    } catch (...) {
        return "Title failed";
    }
}

template <bool fp, bool sk, bool archive>
std::vector<std::string> regex_plugin<fp, sk, archive>::images(const std::string& page) {
    const std::string address = withoutHttp(pageAddress(page));
    auto cfg = settings();
    if (!cfg->images) throw std::runtime_error("No images expression in " + path_);
    std::vector<std::string> found = cfg->images->apply(page);
    tools::logln("images ", found);
    std::vector<std::string> resolved;
    resolved.reserve(found.size());
    for (const std::string& link : found) resolved.push_back(downloader::followLink(address, link));
    return resolved;
}

template <bool fp, bool sk, bool archive>
std::string regex_plugin<fp, sk, archive>::start() {
    if constexpr (archive) {
        auto list = archiveList();
        if (list->empty()) throw std::runtime_error("No archive entries found for " + name());
        return list->front();
    } else {
        std::string start = settings()->start;
        if (start.empty()) throw std::runtime_error("No start address in " + path_);
        return start;
    }
}

template <bool fp, bool sk, bool archive>
std::string regex_plugin<fp, sk, archive>::next(const std::string& page) {
    if constexpr (archive) {
        const std::string address = pageAddress(page);
        auto list = archiveList();
        auto at = std::find(list->begin(), list->end(), address);
        if (at == list->end() || at + 1 == list->end())
            throw std::runtime_error("No next link found");
        return *(at + 1);
    } else {
        const std::string address = withoutHttp(pageAddress(page));
        auto cfg = settings();
        if (!cfg->next) throw std::runtime_error("No next expression in " + path_);
        std::vector<std::string> found = nextMatches(*cfg, page, false);
        if (found.empty()) {
            tools::logln("No match for next in ", name(), " ... crashing");
            throw std::runtime_error("No match for next in " + name());
        }
        std::string first = downloader::followLink(address, found.front());
        tools::logln("Next ", first);
        return first;
    }
}

template <bool fp, bool sk, bool archive>
std::vector<std::string> regex_plugin<fp, sk, archive>::nextMatches(const pluginSettings& cfg,
                                                                    const std::string& page,
                                                                    bool keep) {
    // The crawler asks hasNext and then next of the same page; the second
    // answer comes from the first search, and the page copy goes with it.
    {
        std::lock_guard<std::mutex> hold(memoLock_);
        if (memo_.expression == cfg.next && memo_.page == page) {
            std::vector<std::string> found = memo_.results;
            if (!keep) memo_ = {};
            return found;
        }
    }
    std::vector<std::string> found = cfg.next->apply(page);
    std::lock_guard<std::mutex> hold(memoLock_);
    if (keep)
        memo_ = {cfg.next, page, found};
    else
        memo_ = {};
    return found;
}

template <bool fp, bool sk, bool archive>
bool regex_plugin<fp, sk, archive>::hasNext(const std::string& page) {
    const std::string address = pageAddress(page);
    if constexpr (archive) {
        auto list = archiveList();
        return !list->empty() && address != list->back();
    } else {
        auto cfg = settings();
        if (!cfg->next) throw std::runtime_error("No next expression in " + path_);
        std::vector<std::string> found = nextMatches(*cfg, page, true);
        if (found.empty()) {
            tools::logln("No next match");
            return false;
        }
        std::string candidate = downloader::followLink(address, found.front());
        if (candidate == this->current) {
            tools::logln("Last URL found (", this->current, ")");
            return false;
        }
        if (candidate == address) {
            tools::logln("Looping next found. Considering this the end.");
            return false;
        }
        if (cfg->redirects) {
            std::string target;
            downloader::download(candidate, {}, false, &target);
            if (!target.empty()) candidate = target;
        }
        if constexpr (fp) {
            if (!cfg->frontpageMatch)
                throw std::runtime_error("No frontpage match expression in " + path_);
            std::vector<std::string> matches = cfg->frontpageMatch->apply(candidate);
            tools::logln("fp match ", candidate, " .. ", matches);
            if (!matches.empty()) {
                tools::logln("Frontpage found, aborting");
                return false;
            }
        }
        return true;
    }
}

template <bool fp, bool sk, bool archive>
bool regex_plugin<fp, sk, archive>::unsafe(const std::string& page) {
    auto cfg = settings();
    return cfg->unsafe && !cfg->unsafe->apply(page).empty();
}

template <bool fp, bool sk, bool archive>
std::string regex_plugin<fp, sk, archive>::frontpage() {
    return settings()->frontpage;
}

template <bool fp, bool sk, bool archive>
bool regex_plugin<fp, sk, archive>::skip(const std::string& page) {
    auto cfg = settings();
    return cfg->skip && !cfg->skip->apply(page).empty();
}

template <bool fp, bool sk, bool archive>
void regex_plugin<fp, sk, archive>::loadArchive() {
    if constexpr (archive) {
        auto cfg = settings();
        std::string text = downloader::download(cfg->start);
        extract::replacer expression(cfg->archiveExpression);
        auto list = std::make_shared<const std::vector<std::string>>(expression.apply(text));
        Hold hold(this->lock());
        archive_ = std::move(list);
    }
}

template <bool fp, bool sk, bool archive>
std::shared_ptr<const std::vector<std::string>> regex_plugin<fp, sk, archive>::archiveList() {
    {
        Hold hold(this->lock());
        if (archive_ && !archive_->empty()) return archive_;
    }
    loadArchive();
    Hold hold(this->lock());
    if (!archive_) archive_ = std::make_shared<const std::vector<std::string>>();
    return archive_;
}

template <bool fp, bool sk, bool archive>
void regex_plugin<fp, sk, archive>::save() {
    if (this->failed) return;
    std::lock_guard<std::recursive_mutex> saving(saveLock());
    const std::string zip = path_ + ".zip";
    if (this->active) {
        const bool reactivated = fs::exists(zip);
        // A re-activated archive's state belongs to the shared storage from now on.
        if (reactivated) this->attachStorage(mainStorage());
        comic::save();
        // The file may have been edited while the reader runs; it is only
        // written when it is missing.
        if (!fs::exists(path_)) tools::writeFileAtomically(path_, text());
        if (reactivated) {
            // The archive goes only once the state is safe in the storage file.
            writeMainStorage();
            fs::remove(zip);
        }
        return;
    }
    archiveNow();
}

template <bool fp, bool sk, bool archive>
void regex_plugin<fp, sk, archive>::archiveNow() {
    std::string encoded;
    {
        Hold hold(this->lock());
        encoded = serialize::encode(this->state_);
    }
    FileStorage packed;
    const std::string identifier = id();
    packed.put(identifier, std::move(encoded));
    if (fs::exists(path_)) {
        std::string fresh = tools::readWholeFile(path_);
        auto parsed = std::make_shared<const pluginSettings>(parsePlugin(path_, fresh, flags()));
        Hold hold(this->lock());
        config_ = std::move(parsed);
    }
    packed.put(path_, text());
    tools::writeFileAtomically(path_ + ".zip", packed.build());
    tools::logln("Written, removing ", identifier);
    this->storage().remove(identifier);
    tools::logln("Deleting ", path_);
    std::error_code ignored;
    fs::remove(path_, ignored);
}

template class regex_plugin<true, true, true>;
template class regex_plugin<true, true, false>;
template class regex_plugin<true, false, true>;
template class regex_plugin<true, false, false>;
template class regex_plugin<false, true, true>;
template class regex_plugin<false, true, false>;
template class regex_plugin<false, false, true>;
template class regex_plugin<false, false, false>;

std::shared_ptr<comic> makePlugin(FileStorage& storage, const std::string& path,
                                  const std::string& text) {
    const pluginFlags f = scanFlags(text.empty() ? tools::readWholeFile(path) : text);
    const int pick = (f.fp ? 4 : 0) + (f.sk ? 2 : 0) + (f.archive ? 1 : 0);
    switch (pick) {
        case 7:
            return create<regex_plugin<true, true, true>>(storage, path, text);
        case 6:
            return create<regex_plugin<true, true, false>>(storage, path, text);
        case 5:
            return create<regex_plugin<true, false, true>>(storage, path, text);
        case 4:
            return create<regex_plugin<true, false, false>>(storage, path, text);
        case 3:
            return create<regex_plugin<false, true, true>>(storage, path, text);
        case 2:
            return create<regex_plugin<false, true, false>>(storage, path, text);
        case 1:
            return create<regex_plugin<false, false, true>>(storage, path, text);
        default:
            return create<regex_plugin<false, false, false>>(storage, path, text);
    }
}

const regexPlugin* asPlugin(const comic& c) { return dynamic_cast<const regexPlugin*>(&c); }

namespace {

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

void loadPlugins(const std::string& dir) {
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
            registry().append(std::move(plugin));
        }
        for (const std::string& path : listPlugins(dir, ".re")) {
            tools::readWholeFile(path);  // an unreadable file stops the loading
            if (archived.count(path)) {
                tools::logln("Zip found for ", path, ", ignoring .re");
                continue;
            }
            registry().append(makePlugin(mainStorage(), path, ""));
        }
    } catch (...) {
        tools::logln("Regex list failed");
        throw;
    }
}

}  // namespace comics
