#include "reader/startup.hpp"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <utility>

#include "comics/base.hpp"
#include "comics/builtin/all.hpp"
#include "comics/cbz.hpp"
#include "comics/plugin_comic.hpp"
#include "comics/plugin_loading.hpp"
#include "comics/storage.hpp"
#include "comics/strip_source.hpp"
#include "comics/strip_store.hpp"
#include "downloader/downloader.hpp"
#include "sdloo/window.hpp"
#include "tools/files.hpp"
#include "tools/ini.hpp"
#include "tools/log.hpp"

namespace reader {
namespace {

namespace fs = std::filesystem;

using Hold = std::lock_guard<std::recursive_mutex>;

std::mutex hookLock;
InteractiveRun interactiveHook;  // guarded by hookLock

void writeOut(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// A dump file name must stay in the working directory: identifiers are user
// data (a plugin's filename key).
bool plainFileName(const std::string& identifier) {
    return identifier.find('/') == std::string::npos && identifier.find("..") == std::string::npos;
}

// Runs change on every comic (saving it when change says so) with the save lock
// and then the comic's lock held, and writes the storage afterwards. A comic
// that cannot be saved is logged and skipped; the others and the storage are
// still written, and the status tells that something failed.
template <class Change>
int changeAndSave(Change change) {
    bool allSaved = true;
    Hold saving(comics::saveLock());
    for (const auto& c : comics::registry().snapshot()) {
        try {
            Hold hold(c->lock());
            if (change(*c)) c->save();
        } catch (const std::exception& e) {
            tools::logln("Saving ", c->id(), " failed: ", e);
            allSaved = false;
        }
    }
    comics::writeMainStorage();
    return allSaved ? 0 : 1;
}

int runInteractive(const InteractiveOptions& options) {
    InteractiveRun run;
    {
        std::lock_guard<std::mutex> hold(hookLock);
        run = interactiveHook;
    }
    if (!run) {
        tools::logln(
            "The reader window is not available in this build; the command-line modes "
            "-h, -hh, -dump=<id>, -cbz=<id>, -export, -import and -read work without it");
        return 1;
    }
    sdloo::startVideo();
    // A size that is not positive keeps the desktop's.
    if (options.fullscreenW > 0) sdloo::desktopWidth = options.fullscreenW;
    if (options.fullscreenH > 0) sdloo::desktopHeight = options.fullscreenH;
    return run(options);
}

}  // namespace

static std::uint64_t stripBudget() {
    tools::IniFile& ini = tools::config();
    if (!ini.has("", "strip_store_mib")) return comics::StripStore::defaultBudget;
    const int mib = ini.getInt("", "strip_store_mib");
    // A negative size is a mistake, not a wish for no store: the default.
    if (mib < 0) return comics::StripStore::defaultBudget;
    return static_cast<std::uint64_t>(mib) << 20;
}

void useStripDirectory(const std::string& directory) {
    comics::useStripStore(directory, stripBudget());
}

void setInteractiveRun(InteractiveRun run) {
    std::lock_guard<std::mutex> hold(hookLock);
    interactiveHook = std::move(run);
}

void startUp() {
    tools::IniFile& ini = tools::config();  // reads "tovik.ini"
    // One more CA certificate file to trust for "https://" sites (a private CA, a proxy).
    if (ini.has("", "extra_ca_file")) {
        std::string file = ini.get("", "extra_ca_file");
        file.erase(0, file.find_first_not_of(" \t"));
        file.erase(file.find_last_not_of(" \t\r") + 1);
        downloader::setExtraCaFile(file);
    }
    comics::loadMainStorage();
    useStripDirectory("strips");
    comics::builtin::appendAll(comics::mainStorage(), [] { comics::loadPlugins(); });
    // The video subsystem starts with the interactive run only.
    tools::openLogFile("tovik.log");
    tools::logln("Logfile open");
}

int listIds() {
    for (const auto& c : comics::registry().snapshot()) writeOut(c->id() + "\n");
    return 0;
}

int listNames() {
    for (const auto& c : comics::registry().snapshot()) writeOut(c->name() + "\n");
    return 0;
}

int dump(const std::string& identifier) {
    if (!plainFileName(identifier)) {
        tools::logln("Not dumping ", identifier, ": the dump file name may not contain / or ..");
        return 1;
    }
    for (const auto& c : comics::registry().snapshot()) {
        if (c->id() != identifier) continue;
        std::string text;
        for (const auto& p : c->pagesCopy()) {
            if (p.image.rfind("http://", 0) != 0 && p.image.rfind("https://", 0) != 0)
                text += "http://";
            text += p.image;
            text += "\n";
        }
        tools::writeFileAtomically(identifier + ".dump.txt", text);
        return 0;
    }
    tools::logln("No comic has the identifier ", identifier);
    return 1;
}

int exportCbz(const std::string& identifier) {
    if (!plainFileName(identifier)) {
        tools::logln("Not exporting ", identifier, ": the archive name may not contain / or ..");
        return 1;
    }
    std::shared_ptr<comics::Comic> found;
    for (const auto& c : comics::registry().snapshot())
        if (c->id() == identifier) {
            found = c;
            break;
        }
    if (!found) {
        tools::logln("No comic has the identifier ", identifier);
        return 1;
    }
    const std::shared_ptr<comics::StripStore> store = comics::stripStore();
    const std::vector<comics::Page> pages = found->pagesCopy();
    std::vector<std::string> refs;
    for (const auto& p : pages) refs.push_back(p.image);
    // The whole comic stays in the store until it is written, whatever the budget.
    comics::StripStore::Pin pin(*store, refs);
    const std::size_t total = pages.size();
    tools::logln("Fetching the strips of ", found->name(), " missing from ", store->directory());
    comics::fetchMissingStrips(*found, *store, [&](std::size_t done, std::size_t all) {
        if (done % 50 == 0 || done == all) tools::logln("Strips looked at: ", done, " of ", all);
    });
    const std::string file = identifier + ".cbz";
    const comics::CbzResult result = comics::writeCbz(*found, file, *store);
    std::string summary = "Wrote " + file + ": " + std::to_string(result.pages) + " of " +
                          std::to_string(total) + " pages\n";
    for (std::size_t i : result.missing)
        summary += "Missing page " + std::to_string(i + 1) + " (" +
                   (i < pages.size() ? pages[i].title + "): " + pages[i].image : std::string(")")) +
                   "\n";
    writeOut(summary);
    return result.missing.empty() ? 0 : 1;
}

int exportComics() {
    return changeAndSave([](comics::Comic& c) {
        if (!c.active) return false;
        c.active = false;
        return true;
    });
}

int importComics() {
    // A re-activated plugin archive may go only once its state is safe in the
    // storage file. Saving one such plugin on its own writes the whole storage
    // file each time; here the archives are removed together, after the one
    // write at the end, so importing many plugins stays linear.
    std::vector<std::string> archives;
    int status = changeAndSave([&](comics::Comic& c) {
        if (c.active) return false;
        c.active = true;
        c.attachStorage(comics::mainStorage());
        const comics::PluginSource* plugin = comics::asPlugin(c);
        if (!plugin || c.failed || !fs::exists(plugin->path() + ".zip")) return true;
        c.Comic::save();  // the state into the shared storage
        if (!fs::exists(plugin->path())) tools::writeFileAtomically(plugin->path(), plugin->text());
        archives.push_back(plugin->path() + ".zip");
        return false;
    });
    for (const std::string& archive : archives) {
        std::error_code ec;
        fs::remove(archive, ec);
        if (ec) tools::logln("Cannot delete ", archive, ": ", ec.message());
    }
    return status;
}

int markRead() {
    return changeAndSave([](comics::Comic& c) {
        auto count = static_cast<std::int32_t>(c.pageCount());
        c.setPosition(count > 0 ? count - 1 : 0);
        return true;
    });
}

int mainRoutine(const std::vector<std::string>& args) {
    tools::logln("Starting up");
    tools::IniValue<int> fullscreenWidth("fullscreen_w", 0);
    tools::IniValue<int> fullscreenHeight("fullscreen_h", 0);
    InteractiveOptions options;
    options.fullscreenW = fullscreenWidth.get();
    options.fullscreenH = fullscreenHeight.get();

    if (!args.empty()) {
        const std::string& mode = args.front();  // only the first argument counts
        if (mode == "-h") return listIds();
        if (mode == "-hh") return listNames();
        if (mode.rfind("-dump=", 0) == 0) return dump(mode.substr(6));
        if (mode.rfind("-cbz=", 0) == 0) return exportCbz(mode.substr(5));
        if (mode == "-export") return exportComics();
        if (mode == "-import") return importComics();
        if (mode == "-read") return markRead();
        if (mode == "-c") {
            // A terminal program already has its console.
            options.console = true;
            tools::logln("Using the terminal the reader was started from as its console");
        }
    }
    return runInteractive(options);
}

int entryPoint(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    int status = 1;
    try {
        try {
            startUp();
            tools::logln("Calling actual main function");
            status = mainRoutine(args);
        } catch (...) {
            tools::logln("dead[Main]");
            throw;
        }
    } catch (const std::exception& e) {
        tools::logln("main failed: ", e);
        status = 1;
    } catch (...) {
        tools::logln("main failed: unknown error");
        status = 1;
    }
    tools::shutdownLog();
    return status;
}

}  // namespace reader
