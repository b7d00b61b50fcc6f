#pragma once
// StripStore: strip images kept on disk, so that a strip shown once shows again
// without the network, and a comic whose site went away can still be read.
//
// One file per strip in the store's directory ("strips" in the working
// directory for the reader), named by the SHA-256 of the strip's full image
// reference in hex; nothing taken from a page ever becomes part of a name.
// Each file holds a small header (magic, the reference's and the data's
// lengths), the reference, then the image bytes exactly as the site sent them.
// Files are written to a temporary file and renamed, so a reader never sees a
// half-written strip; a file whose header, reference or length does not agree
// (damaged, truncated) counts as absent and is removed.
//
// The size budget is enforced by evicting the least recently shown strips
// (a file's modification time is its last showing, so the order survives
// restarts). Strips of comics that keep their strips are never evicted: the
// store asks its kept-names provider for them when it has to evict. After
// evicting the store is a sixteenth below the budget, so that not every new
// strip costs an eviction.
//
// Writers: one process at a time (the reader's lock file); within the process
// every member function may be called from any thread (one internal lock
// guards the index; file contents are read and written outside it).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace comics {

class StripStore {
public:
    // The file names (see fileName) of strips that must not be evicted.
    using KeptNames = std::function<std::unordered_set<std::string>()>;

    static constexpr std::uint64_t defaultBudget = std::uint64_t{2} << 30;  // 2 GiB
    // Largest strip stored or read back (the downloader's body limit).
    static constexpr std::uint64_t maxStrip = std::uint64_t{256} << 20;

    // An empty directory gives a disabled store: nothing is found, nothing kept.
    explicit StripStore(std::string directory, std::uint64_t budget = defaultBudget,
                        KeptNames keptNames = {});
    StripStore(const StripStore&) = delete;
    StripStore& operator=(const StripStore&) = delete;

    bool enabled() const { return !directory_.empty(); }
    const std::string& directory() const { return directory_; }

    // The file name of a reference: 64 lower-case hex digits.
    static std::string fileName(const std::string& ref);

    // The stored bytes of a strip, or nothing when it is not stored intact (a
    // damaged file is logged and removed). shown marks it as just shown.
    std::optional<std::string> load(const std::string& ref, bool shown = true);
    // Whether an intact file is stored; checks the header and the length
    // without reading the image.
    bool contains(const std::string& ref) { return locate(ref).has_value(); }
    // Whether the store's index lists the strip: no file is opened, so a
    // damaged file still counts (for marking rows, not for reading).
    bool listed(const std::string& ref);
    // Where an intact strip's image bytes lie: the file and the byte range
    // (for copying them elsewhere without reading them into memory).
    struct Location {
        std::string path;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    };
    std::optional<Location> locate(const std::string& ref);
    // Stores the bytes, replacing an older file, then keeps the budget. A
    // failure (a full disk, no permission) is logged and gives false: the
    // strip is still shown, it is only not kept.
    bool put(const std::string& ref, std::string_view data);
    // Removes a strip (its bytes turned out not to decode).
    void drop(const std::string& ref);

    // While a Pin lives, the strips of its references are not evicted (an
    // export that fetches a whole comic must not lose its first strips to
    // its last ones).
    class Pin {
    public:
        Pin(StripStore& store, const std::vector<std::string>& refs);
        ~Pin();
        Pin(const Pin&) = delete;
        Pin& operator=(const Pin&) = delete;

    private:
        StripStore& store_;
        std::vector<std::string> names_;
    };

    void setBudget(std::uint64_t budget);
    std::uint64_t budget() const;
    // Evicts unkept strips, least recently shown first, while the total is
    // over the budget; spare (a file name) stays whatever its age.
    void keepBudget(const std::string& spare = {});

    // Size of all stored files and their number.
    std::uint64_t totalSize();
    std::size_t count();

private:
    struct Entry {
        std::uint64_t size = 0;
        std::int64_t shown = 0;  // nanoseconds since the epoch
    };
    void scanLocked();
    std::string pathOf(const std::string& name) const;
    void forgetLocked(const std::string& name);
    void removeDamaged(const std::string& name, const std::string& why);

    const std::string directory_;
    KeptNames keptNames_;
    mutable std::mutex lock_;
    std::uint64_t budget_;                  // guarded by lock_
    bool scanned_ = false;                  // guarded by lock_
    std::map<std::string, Entry> entries_;  // by file name; guarded by lock_
    std::multiset<std::string> pinned_;     // guarded by lock_
    std::uint64_t total_ = 0;               // guarded by lock_
};

// The process-wide store of the reader. Disabled until useStripStore is called
// (the reader's start-up does it), so other programs and tests store nothing.
// A store replaced while a caller still holds it stays alive until it is done.
std::shared_ptr<StripStore> stripStore();
// Replaces the process-wide store by one over the directory; strips of the
// registry's comics whose keep_strips setting is on are never evicted.
void useStripStore(const std::string& directory, std::uint64_t budget = StripStore::defaultBudget);
// The file names of every page of the registry's comics that keep their strips.
std::unordered_set<std::string> keptStripNames();

}  // namespace comics
