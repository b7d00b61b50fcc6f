#include "reader/startup.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <utility>

#include "comics/base.hpp"
#include "comics/builtin/all.hpp"
#include "comics/cbz.hpp"
#include "comics/next_link_crawler.hpp"
#include "comics/plugin_comic.hpp"
#include "comics/plugin_loading.hpp"
#include "comics/storage.hpp"
#include "comics/strip_source.hpp"
#include "comics/strip_store.hpp"
#include "downloader/downloader.hpp"
#include "reader/headless_update.hpp"
#include "sdloo/window.hpp"
#include "tools/files.hpp"
#include "tools/heap_reservation.hpp"
#include "tools/ini.hpp"
#include "tools/library_lock.hpp"
#include "tools/log.hpp"
#include "tools/user_library.hpp"
#include "tools/version.hpp"

namespace reader {
namespace {

namespace fs = std::filesystem;

using Hold = std::lock_guard<std::recursive_mutex>;

std::mutex hookLock;
InteractiveRun interactiveHook;  // guarded by hookLock

// A positive whole number from tovik.ini; absent or not positive gives the fallback.
long long positiveSetting(const tools::IniFile& ini, const std::string& key, long long fallback) {
    if (!ini.has("", key)) return fallback;
    long long value = tools::parseInt(ini.get("", key));
    return value > 0 ? value : fallback;
}

// The bounds of downloads and crawls that tovik.ini may change.
void applyDownloadSettings(const tools::IniFile& ini) {
    using std::chrono::seconds;
    downloader::Limits limits = downloader::defaultLimits();
    limits.overallDeadline = seconds(positiveSetting(ini, "download_deadline", 120));
    limits.retryAfterCap = seconds(positiveSetting(ini, "retry_after_cap", 120));
    downloader::setDefaultLimits(limits);
    downloader::setConnectionsPerHost(static_cast<int>(std::min<long long>(
        positiveSetting(ini, "connections_per_host", downloader::defaultConnectionsPerHost), 64)));
    const long long budgetMiB = std::min<long long>(
        positiveSetting(ini, "response_budget_mib",
                        static_cast<long long>(downloader::defaultResponseBudget >> 20)),
        1 << 20);
    downloader::setResponseBudget(static_cast<std::size_t>(budgetMiB) << 20);
    comics::setMaxPagesPerUpdate(static_cast<std::size_t>(positiveSetting(
        ini, "max_pages_per_update", static_cast<long long>(comics::defaultMaxPagesPerUpdate))));
}

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
int changeAndSave(Change change, tools::WriteBatch* batch = nullptr) {
    bool allSaved = true;
    Hold saving(comics::saveLock());
    tools::IniFile::DeferredWrites once(tools::config());
    for (const auto& c : comics::registry().snapshot()) {
        try {
            Hold hold(c->lock());
            if (change(*c)) c->save();
        } catch (const std::exception& e) {
            tools::logln("Saving ", c->id(), " failed: ", e);
            allSaved = false;
        }
    }
    if (batch) {
        try {
            batch->commit();
        } catch (const std::exception& e) {
            tools::logln("Saving the archives failed: ", e);
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
            "-h, -hh, -dump=<id>, -cbz=<id>, -export, -import, -read and -update work "
            "without it");
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

void startUp(bool logFile) {
    tools::IniFile& ini = tools::config();  // reads "tovik.ini"
    // One more CA certificate file to trust for "https://" sites (a private CA, a proxy).
    if (ini.has("", "extra_ca_file")) {
        std::string file = ini.get("", "extra_ca_file");
        file.erase(0, file.find_first_not_of(" \t"));
        file.erase(file.find_last_not_of(" \t\r") + 1);
        downloader::setExtraCaFile(file);
    }
    applyDownloadSettings(ini);
    // Writes killed midway leave their temporary files behind.
    tools::removeStaleTemporaries(".");
    tools::removeStaleTemporaries("plugins");
    {
        // Comic states compress well: loaded (expanded, with their pages'
        // records) they take some ten to fifteen times the file's size. The heap
        // grows for them once, with room to spare: what stays unused costs
        // address space only and goes back after loading.
        std::error_code unknown;
        const auto stored = std::filesystem::file_size("storage.dat.zip", unknown);
        tools::HeapReservation heap(unknown ? 0 : static_cast<std::size_t>(stored) * 48);
        comics::loadMainStorage();
        useStripDirectory("strips");
        comics::builtin::appendAll(comics::mainStorage(), [] { comics::loadPlugins(); });
    }
    // The video subsystem starts with the interactive run only.
    if (logFile) {
        tools::openLogFile("tovik.log");
        tools::logln("Logfile open");
    }
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
            if (!p.image().starts_with("http://") && !p.image().starts_with("https://"))
                text += "http://";
            text += p.image();
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
    for (const auto& p : pages) refs.emplace_back(p.image());
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
                   (i < pages.size()
                        ? std::string(pages[i].title()) + "): " + std::string(pages[i].image())
                        : std::string(")")) +
                   "\n";
    writeOut(summary);
    return result.missing.empty() ? 0 : 1;
}

int exportComics() {
    // One file system sync for all the archives instead of one per plugin; each
    // plugin's state leaves the storage only once its archive is durable.
    tools::WriteBatch archives;
    return changeAndSave(
        [&](comics::Comic& c) {
            if (!c.active) return false;
            c.active = false;
            comics::PluginSource* plugin = comics::asPlugin(c);
            if (!plugin) return true;
            plugin->archiveInto(archives);
            return false;
        },
        &archives);
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
        if (!plugin || c.failed || c.keepStored || !fs::exists(plugin->path() + ".zip"))
            return true;
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
        if (mode == "-update") {
            HeadlessUpdateSettings settings;
            settings.progress = ::isatty(STDOUT_FILENO) == 1;
            return headlessUpdate(settings);
        }
        if (mode == "-c") {
            // A terminal program already has its console.
            options.console = true;
            tools::logln("Using the terminal the reader was started from as its console");
        }
    }
    return runInteractive(options);
}

namespace {

enum class ModeKind { listing, writing, update };

ModeKind kindOf(const std::vector<std::string>& args) {
    if (args.empty()) return ModeKind::writing;  // the window
    const std::string& mode = args.front();
    if (mode == "-h" || mode == "-hh" || mode.rfind("-dump=", 0) == 0) return ModeKind::listing;
    if (mode == "-update") return ModeKind::update;
    return ModeKind::writing;
}

void sayError(const std::string& text) {
    std::fprintf(stderr, "tovik: %s\n", text.c_str());
    std::fflush(stderr);
}

std::string here() {
    std::error_code ec;
    std::string dir = fs::current_path(ec).string();
    return ec ? std::string(".") : dir;
}

// The setting lock_wait, read from the file as it is now (the process-wide
// configuration is read only once the lock is held).
std::chrono::milliseconds lockWait() {
    int seconds = defaultLockWaitSeconds;
    if (fs::exists("tovik.ini")) {
        tools::IniFile ini("tovik.ini");
        if (ini.has("", "lock_wait")) seconds = std::max(0, ini.getInt("", "lock_wait"));
    }
    return std::chrono::seconds(seconds);
}

// Log lines of "-update" go to the log file only: standard output carries the
// comics' lines and the summary.
void quietConsole() {
    static const std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::fopen("/dev/null", "w"),
                                                                      std::fclose);
    if (sink) tools::redirectLogOutput(sink.get());
}

}  // namespace

int entryPoint(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    if (!args.empty() && args.front() == "-version") {
        writeOut(std::string("tovik ") + tools::version() + "\n");
        return 0;
    }
    bool desktop = !args.empty() && args.front() == "-desktop";
    if (desktop) args.erase(args.begin());
    const ModeKind kind = kindOf(args);
    const int startFailure = kind == ModeKind::update ? updateCannotStart : 1;
    if (kind == ModeKind::update && args.size() > 1) {
        sayError("-update takes no further arguments (usage: tovik [-desktop] -update)");
        return updateCannotStart;
    }

    if (kind == ModeKind::update) quietConsole();

    std::unique_ptr<tools::LibraryLock> lock;
    bool logFile = true;
    try {
        if (desktop) tools::enterUserLibrary();
        if (kind == ModeKind::listing) {
            // Listing writes no storage; it only keeps off the log of a running reader.
            logFile = !tools::LibraryLock::busy(tools::libraryLockFile);
        } else {
            const auto wait = kind == ModeKind::update ? lockWait() : std::chrono::milliseconds(0);
            lock = tools::LibraryLock::acquire(tools::libraryLockFile, wait);
            if (!lock) {
                if (kind == ModeKind::update)
                    sayError("another tovik is still using the comic library in " + here() +
                             " after " +
                             std::to_string(
                                 std::chrono::duration_cast<std::chrono::seconds>(wait).count()) +
                             " s; nothing was updated");
                else
                    sayError("another tovik is already using the comic library in " + here() +
                             "; close it first");
                return 1;
            }
        }
    } catch (const std::exception& e) {
        sayError(e.what());
        return startFailure;
    }
    if (kind == ModeKind::update) blockStopSignals();

    int status = 1;
    bool started = false;
    try {
        try {
            startUp(logFile);
            started = true;
            tools::logln("Calling actual main function");
            status = mainRoutine(args);
        } catch (...) {
            tools::logln("dead[Main]");
            throw;
        }
    } catch (const std::exception& e) {
        tools::logln("main failed: ", e);
        if (kind == ModeKind::update) sayError(e.what());
        status = started ? 1 : startFailure;
    } catch (...) {
        tools::logln("main failed: unknown error");
        status = started ? 1 : startFailure;
    }
    tools::shutdownLog();
    return status;
}

}  // namespace reader
