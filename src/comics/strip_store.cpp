#include "comics/strip_store.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "comics/base.hpp"
#include "tools/file_descriptor.hpp"
#include "tools/files.hpp"
#include "tools/log.hpp"

namespace comics {
namespace {

namespace fs = std::filesystem;

// The file layout: magic, reference length (4 bytes), data length (8 bytes),
// both little-endian, then the reference and the data.
constexpr char magic[8] = {'t', 'v', 'k', 's', 't', 'r', 'p', '1'};
constexpr std::size_t headerSize = 8 + 4 + 8;
constexpr std::uint32_t maxReference = 1u << 20;

using Fd = tools::FileDescriptor;
using tools::readFully;
using tools::writeFully;

void putLe(char* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

std::uint64_t getLe(const char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[i]);
    return value;
}

bool strippedName(const std::string& name) {
    return name.size() == 64 && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::int64_t nowNanos() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// What a file holds once its header agreed with the reference and its length.
enum class Check { absent, damaged, intact };

// Opens and checks a file; on intact, fd is positioned at the data and
// dataLength holds its length.
Check openChecked(const std::string& path, const std::string& ref, Fd& fd,
                  std::uint64_t& dataLength, std::string& why) {
    Fd opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (opened.get() < 0) return Check::absent;
    struct stat st {};
    if (::fstat(opened.get(), &st) != 0) return Check::absent;
    char header[headerSize];
    if (static_cast<std::uint64_t>(st.st_size) < headerSize ||
        !readFully(opened.get(), header, headerSize)) {
        why = "shorter than its header";
        return Check::damaged;
    }
    if (std::memcmp(header, magic, sizeof magic) != 0) {
        why = "no strip header";
        return Check::damaged;
    }
    const std::uint64_t refLength = getLe(header + 8, 4);
    dataLength = getLe(header + 12, 8);
    if (refLength > maxReference || dataLength > StripStore::maxStrip) {
        why = "impossible lengths in its header";
        return Check::damaged;
    }
    if (static_cast<std::uint64_t>(st.st_size) != headerSize + refLength + dataLength) {
        why = "size " + std::to_string(st.st_size) + " instead of " +
              std::to_string(headerSize + refLength + dataLength);
        return Check::damaged;
    }
    std::string stored(refLength, '\0');
    if (!readFully(opened.get(), stored.data(), stored.size())) {
        why = "unreadable";
        return Check::damaged;
    }
    if (stored != ref) {
        why = "it holds another reference";
        return Check::damaged;
    }
    fd.reset(opened.release());
    return Check::intact;
}

}  // namespace

StripStore::StripStore(std::string directory, std::uint64_t budget, KeptNames keptNames)
    : directory_(std::move(directory)), keptNames_(std::move(keptNames)), budget_(budget) {}

std::string StripStore::fileName(const std::string& ref) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(ref.data(), ref.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("Cannot hash a strip reference");
    static const char hex[] = "0123456789abcdef";
    std::string name;
    for (unsigned int i = 0; i < length; ++i) {
        name += hex[digest[i] >> 4];
        name += hex[digest[i] & 15];
    }
    return name;
}

std::string StripStore::pathOf(const std::string& name) const { return directory_ + "/" + name; }

void StripStore::scanLocked() {
    if (scanned_) return;
    scanned_ = true;
    // Left by writers that died before their rename; a write still going on
    // (another thread's, another program's) holds its file locked and keeps it.
    tools::removeStaleTemporaries(directory_);
    std::error_code ec;
    for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!strippedName(name)) continue;
        struct stat st {};
        if (::stat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        Entry e;
        e.size = static_cast<std::uint64_t>(st.st_size);
        e.shown = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
        total_ += e.size;
        entries_[name] = e;
    }
}

void StripStore::forgetLocked(const std::string& name) {
    auto found = entries_.find(name);
    if (found == entries_.end()) return;
    total_ -= found->second.size;
    entries_.erase(found);
}

void StripStore::removeDamaged(const std::string& name, const std::string& why) {
    tools::logln("Dropping the stored strip ", name, ": ", why);
    std::lock_guard<std::mutex> hold(lock_);
    ::unlink(pathOf(name).c_str());
    forgetLocked(name);
}

std::optional<std::string> StripStore::load(const std::string& ref, bool shown) {
    if (!enabled()) return std::nullopt;
    const std::string name = fileName(ref);
    const std::string path = pathOf(name);
    Fd fd(-1);
    std::uint64_t length = 0;
    std::string why;
    switch (openChecked(path, ref, fd, length, why)) {
        case Check::absent:
            return std::nullopt;
        case Check::damaged:
            removeDamaged(name, why);
            return std::nullopt;
        case Check::intact:
            break;
    }
    std::string data(length, '\0');
    if (!readFully(fd.get(), data.data(), data.size())) {
        removeDamaged(name, "unreadable");
        return std::nullopt;
    }
    if (shown) {
        ::futimens(fd.get(), nullptr);  // now: the order of eviction
        std::lock_guard<std::mutex> hold(lock_);
        scanLocked();
        Entry& e = entries_[name];
        if (e.size == 0) {
            e.size = headerSize + ref.size() + length;
            total_ += e.size;
        }
        e.shown = nowNanos();
    }
    return data;
}

bool StripStore::listed(const std::string& ref) {
    if (!enabled()) return false;
    const std::string name = fileName(ref);
    std::lock_guard<std::mutex> hold(lock_);
    scanLocked();
    return entries_.count(name) != 0;
}

std::optional<StripStore::Location> StripStore::locate(const std::string& ref) {
    if (!enabled()) return std::nullopt;
    const std::string name = fileName(ref);
    Fd fd(-1);
    Location where{pathOf(name), headerSize + ref.size(), 0};
    std::string why;
    switch (openChecked(where.path, ref, fd, where.length, why)) {
        case Check::absent:
            return std::nullopt;
        case Check::damaged:
            removeDamaged(name, why);
            return std::nullopt;
        case Check::intact:
            break;
    }
    return where;
}

bool StripStore::put(const std::string& ref, std::string_view data) {
    if (!enabled() || data.size() > maxStrip || ref.size() > maxReference) return false;
    const std::string name = fileName(ref);
    {
        // The first look at the directory clears what dead writers left, so
        // it comes before this write's own temporary file exists.
        std::lock_guard<std::mutex> hold(lock_);
        scanLocked();
    }
    try {
        std::error_code ec;
        fs::create_directories(directory_, ec);
        std::string temp = pathOf("." + name + ".tmp-XXXXXX");
        Fd fd(::mkstemp(temp.data()));
        if (fd.get() < 0)
            throw std::runtime_error("cannot create " + temp + ": " + std::strerror(errno));
        // Held until the descriptor closes: tells a clean-up that the write goes on.
        ::flock(fd.get(), LOCK_EX | LOCK_NB);
        struct Cleanup {
            std::string path;
            bool armed = true;
            ~Cleanup() {
                if (armed) ::unlink(path.c_str());
            }
        } cleanup{temp};
        char header[headerSize];
        std::memcpy(header, magic, sizeof magic);
        putLe(header + 8, ref.size(), 4);
        putLe(header + 12, data.size(), 8);
        // No fsync: a file cut short by a crash fails the length check and is
        // fetched again, which costs less than a sync per strip.
        if (!writeFully(fd.get(), header, headerSize) ||
            !writeFully(fd.get(), ref.data(), ref.size()) ||
            !writeFully(fd.get(), data.data(), data.size()))
            throw std::runtime_error("cannot write " + temp + ": " + std::strerror(errno));
        ::fchmod(fd.get(), 0644);
        // Renamed while still locked, so no clean-up can take it first.
        if (::rename(temp.c_str(), pathOf(name).c_str()) != 0)
            throw std::runtime_error("cannot rename " + temp + ": " + std::strerror(errno));
        cleanup.armed = false;
        if (::close(fd.release()) != 0) {
            // Possibly cut short: the length check of the next load drops it.
            throw std::runtime_error("cannot close " + temp + ": " + std::strerror(errno));
        }
    } catch (const std::exception& e) {
        tools::logln("Cannot keep the strip ", ref, " in ", directory_, ": ", e);
        return false;
    }
    bool over = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        scanLocked();
        forgetLocked(name);
        Entry& e = entries_[name];
        e.size = headerSize + ref.size() + data.size();
        e.shown = nowNanos();
        total_ += e.size;
        over = total_ > budget_;
    }
    if (over) keepBudget(name);
    return true;
}

void StripStore::drop(const std::string& ref) {
    if (!enabled()) return;
    const std::string name = fileName(ref);
    std::lock_guard<std::mutex> hold(lock_);
    ::unlink(pathOf(name).c_str());
    forgetLocked(name);
}

StripStore::Pin::Pin(StripStore& store, const std::vector<std::string>& refs) : store_(store) {
    for (const std::string& ref : refs) names_.push_back(fileName(ref));
    std::lock_guard<std::mutex> hold(store_.lock_);
    store_.pinned_.insert(names_.begin(), names_.end());
}

StripStore::Pin::~Pin() {
    std::lock_guard<std::mutex> hold(store_.lock_);
    for (const std::string& name : names_) store_.pinned_.erase(store_.pinned_.find(name));
}

void StripStore::setBudget(std::uint64_t budget) {
    std::lock_guard<std::mutex> hold(lock_);
    budget_ = budget;
}

std::uint64_t StripStore::budget() const {
    std::lock_guard<std::mutex> hold(lock_);
    return budget_;
}

void StripStore::keepBudget(const std::string& spare) {
    if (!enabled()) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        scanLocked();
        if (total_ <= budget_) return;
    }
    // Asked without the store's lock: the provider takes the comics' locks.
    const std::unordered_set<std::string> kept =
        keptNames_ ? keptNames_() : std::unordered_set<std::string>{};
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::pair<std::int64_t, std::string>> candidates;
    for (const auto& [name, e] : entries_)
        if (name != spare && !kept.count(name) && !pinned_.count(name))
            candidates.emplace_back(e.shown, name);
    std::sort(candidates.begin(), candidates.end());
    const std::uint64_t target = budget_ - budget_ / 16;
    std::size_t evicted = 0;
    std::uint64_t freed = 0;
    for (const auto& [shown, name] : candidates) {
        if (total_ <= target) break;
        ::unlink(pathOf(name).c_str());
        freed += entries_[name].size;
        forgetLocked(name);
        ++evicted;
    }
    tools::logln("Strip store over its budget of ", budget_, " bytes: evicted ", evicted,
                 " strips (", freed, " bytes), ", total_, " bytes stay");
}

std::uint64_t StripStore::totalSize() {
    std::lock_guard<std::mutex> hold(lock_);
    scanLocked();
    return total_;
}

std::size_t StripStore::count() {
    std::lock_guard<std::mutex> hold(lock_);
    scanLocked();
    return entries_.size();
}

namespace {

std::mutex processStoreLock;
std::shared_ptr<StripStore>& processStore() {
    static auto* store = new std::shared_ptr<StripStore>(std::make_shared<StripStore>(""));
    return *store;
}

}  // namespace

std::shared_ptr<StripStore> stripStore() {
    std::lock_guard<std::mutex> hold(processStoreLock);
    return processStore();
}

void useStripStore(const std::string& directory, std::uint64_t budget) {
    auto store = std::make_shared<StripStore>(directory, budget, keptStripNames);
    std::lock_guard<std::mutex> hold(processStoreLock);
    processStore() = std::move(store);
}

std::unordered_set<std::string> keptStripNames() {
    std::unordered_set<std::string> names;
    for (const auto& c : registry().snapshot()) {
        if (!c->keepsStrips()) continue;
        for (const Page& p : c->pagesCopy())
            names.insert(StripStore::fileName(std::string(p.image())));
    }
    return names;
}

}  // namespace comics
