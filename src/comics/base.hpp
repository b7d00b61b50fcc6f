#pragma once
// The comic model: a comic owns the strip pages found so far, the reader's
// position in them, a crawler-specific blob and a few flags; it loads that state
// from its storage when built and writes it back on save.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace comics {

class FileStorage;

// One strip. Two pages are the same page when their image fields are equal.
// A page is a value: its four fields are read-only views of bytes it keeps
// alive, either a buffer of its own or the stored entry it was decoded from
// (decoding shares those bytes instead of copying every field). Copies share
// the bytes; nothing ever changes them, so copies may go to other threads.
class Page {
public:
    Page() = default;
    // A page with copies of the given fields, in one buffer.
    Page(std::string_view image, std::string_view title, std::string_view reserved1 = {},
         std::string_view reserved2 = {});
    // A page whose fields lie in bytes that `owner` keeps alive.
    Page(std::shared_ptr<const void> owner, std::string_view image, std::string_view title,
         std::string_view reserved1, std::string_view reserved2);

    // "REFER=" + page address + " " + image address
    std::string_view image() const { return {image_, imageLength_}; }
    std::string_view title() const { return {title_, titleLength_}; }
    // Two fields no crawler fills: kept empty, stored and restored with the page
    // so the stored format keeps its four strings per page.
    std::string_view reserved1() const { return {reserved1_, reserved1Length_}; }
    std::string_view reserved2() const { return {reserved2_, reserved2Length_}; }

    bool operator==(const Page& other) const;
    std::string toString() const { return std::string(image()); }

private:
    std::shared_ptr<const void> owner_;
    const char* image_ = nullptr;
    const char* title_ = nullptr;
    const char* reserved1_ = nullptr;
    const char* reserved2_ = nullptr;
    std::uint32_t imageLength_ = 0;
    std::uint32_t titleLength_ = 0;
    std::uint32_t reserved1Length_ = 0;
    std::uint32_t reserved2Length_ = 0;
};

// The persisted part of a comic.
struct ComicState {
    std::vector<Page> pages;  // reading order, oldest first
    std::int32_t position = 0;
    std::string custom;  // crawler-specific, opaque here
    bool operator==(const ComicState&) const = default;
};

using Callback = std::function<void()>;
using LinkList = std::vector<std::pair<std::string, std::string>>;  // (label, address)

class Comic {
public:
    explicit Comic(FileStorage& storage);
    Comic(const Comic&) = delete;
    Comic& operator=(const Comic&) = delete;
    virtual ~Comic();

    // Loads the stored state (after construction, once id() answers). A missing
    // entry logs "Exception [...] .. Ignoring." and leaves the state empty. An
    // entry that is there but cannot be read or decoded also leaves it empty,
    // fails the comic with the reason and keeps the entry: save() never
    // replaces it in this run.
    virtual void initialise();

    virtual std::string id() const = 0;
    virtual std::string name() const = 0;
    // Brings the page list up to date; the root version does nothing.
    virtual void update(const Callback& onChanged, const Callback& onNewPages);
    virtual LinkList urls() const;
    // Marks the comic failed and logs the message, which failure() answers from
    // then on. Its pages and crawl state go back to the last good ones (those it
    // had before the failing update); the read position stays, within the pages kept.
    void fail(const std::string& message);
    // Why the comic failed last; empty when it never did.
    std::string failure() const;
    // Pages minus position.
    std::int32_t remaining() const;
    // Persists the state into the storage: stateToWrite().
    virtual void save();
    // The state a save writes: the current state, or for a failed comic its
    // last good pages and crawl state with the current read position, so a
    // half-updated page list is never written.
    ComicState stateToWrite() const;
    virtual std::string toString() const { return name(); }
    // The class's name, for the reader's log lines.
    virtual std::string typeName() const { return "comic"; }

    // The comic's section of the configuration: its identifier (built-in
    // comics have a section name of their own).
    virtual std::string settingsSection() const { return id(); }
    // Whether every strip of the comic is kept on disk ("keep_strips" in its
    // section, read when the comic is built): updates then fetch the strips of
    // all pages, and the store never evicts them.
    bool keepsStrips() const { return keepStrips_; }
    // Changes the setting and writes it to the configuration; a failed write
    // of the configuration reaches the caller (the setting still changes).
    void setKeepStrips(bool keep);

    // The comic's lock: every change of the state, and every read of it from
    // another thread, holds it. Recursive, so a caller holding it may save.
    std::recursive_mutex& lock() const { return lock_; }

    // Copies and single values, each taken under the lock.
    ComicState stateCopy() const;
    std::vector<Page> pagesCopy() const;
    std::size_t pageCount() const;
    bool pageAt(std::size_t index, Page& out) const;  // false when out of range
    std::int32_t position() const;
    void setPosition(std::int32_t position);
    void replaceState(ComicState state);

    FileStorage& storage() const { return *storage_.load(); }
    void attachStorage(FileStorage& storage) { storage_.store(&storage); }

    // State flags shared between the reader and the workers.
    std::atomic<bool> failed{false};
    std::atomic<bool> active{true};
    std::atomic<bool> updating{false};
    // Set when an update has been queued and not yet finished.
    std::atomic<bool> queued{false};
    // Set when the stored entry could not be read: the entry is kept as it is
    // stored, whatever happens to the failed flag.
    std::atomic<bool> keepStored{false};

protected:
    // Remembers the current pages and crawl state as the last good ones (an
    // update calls it before it changes anything).
    void keepAsGood();

    ComicState state_;  // guarded by lock()
    ComicState good_;   // the last good state (its position unused); guarded by lock()
    // Reads "keep_strips" from the comic's section; a value that is no bool
    // is logged and reads as false.
    void readKeepStrips();

private:
    std::atomic<bool> keepStrips_{false};
    mutable std::recursive_mutex lock_;
    std::atomic<FileStorage*> storage_;
    std::string failure_;  // guarded by lock_
    // Until the first keepAsGood() after loading, the last good state is the
    // stored entry it was loaded from: its bytes stand for good_ and are
    // decoded only should the comic fail. Guarded by lock_.
    std::shared_ptr<const std::string> goodEncoded_;
    // good_, decoded from goodEncoded_ first where that is set (under lock_).
    const ComicState& goodState();
};

// Asks every crawl to stop after the page it is working on (a headless update
// told to end): a crawl that sees it ends with the error "Update interrupted",
// its pages and resume point as they were after its last whole page. Process
// wide, never cleared.
void requestCrawlStop();
bool crawlStopRequested();

// A built-in comic whose "active" flag lives in the configuration, in the
// section named by section().
class BuiltinComic : public Comic {
public:
    using Comic::Comic;
    // Reads "active" from the configuration ("Cannot parse ... as bool" aborts),
    // then loads the state.
    void initialise() override;
    // Writes "active" into the configuration (also for a failed comic), then
    // saves the state. A failed write of the configuration is logged.
    void save() override;
    virtual std::string section() const = 0;
    std::string settingsSection() const override { return section(); }
    std::string typeName() const override { return "internalComic"; }
};

// Builds a comic and loads its state.
template <class T, class... A>
std::shared_ptr<T> create(A&&... args) {
    auto made = std::make_shared<T>(std::forward<A>(args)...);
    made->initialise();
    return made;
}

// The registry of every comic of the running reader, in the order the sources
// appended them. Nothing removes entries.
class ComicRegistry {
public:
    void append(std::shared_ptr<Comic> c);
    std::vector<std::shared_ptr<Comic>> snapshot() const;
    std::size_t size() const;
    void clearForTests();

private:
    mutable std::mutex lock_;
    std::vector<std::shared_ptr<Comic>> list_;
};
ComicRegistry& registry();

// Saves every comic of the list ("Saving comics ..."), logging and skipping a
// comic whose save fails, then writes the shared storage to the file. All of
// it under the save lock.
void saveAll(const std::vector<std::shared_ptr<Comic>>& list,
             const std::string& path = "storage.dat.zip");

// Text cuts used by the built-in comics (plain substring search).
std::string entityCleanup(std::string text);
std::string between(const std::string& text, const std::string& start, const std::string& end);
std::vector<std::string> allBetween(const std::string& text, const std::string& start,
                                    const std::string& end);
std::string after(const std::string& text, const std::string& marker);
// The same cuts anchored at the last occurrence of the start marker.
std::string betweenLast(const std::string& text, const std::string& start, const std::string& end);
std::string afterLast(const std::string& text, const std::string& marker);

}  // namespace comics
