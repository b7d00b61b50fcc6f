#pragma once
// Whole-file reading and crash-safe whole-file writing.
// Thread safety: no shared state; writers of one path are serialised by their
// caller (the save lock for the storage file).
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tools {

// Reads a whole file; raises "Cannot read " + path when it cannot be read.
std::string readWholeFile(const std::string& path);
// Writes a whole file safely: a temporary file in the same directory
// ("." + name + ".tmp-" + six characters, locked while it is written), flushed
// to disk, then renamed over the target. Raises an error when anything fails;
// the old file is then left untouched.
void writeFileAtomically(const std::string& path, const std::string& data);

// Many whole-file writes made durable together: each add() writes its data to a
// temporary file beside the target (locked, as writeFileAtomically does) without
// flushing it; commit() flushes all of them with one file system sync, renames
// each over its target, flushes the directories and then runs each write's
// "then" step in the order added. A crash leaves every target whole, old or
// absent. At most maxPending temporaries are held open: the add() that would
// pass that commits the batch first. Whatever is not committed when the batch
// goes is removed. Raises like writeFileAtomically; a failed commit removes
// the temporaries not yet renamed and skips the "then" steps of those.
// Thread safety: one thread per batch.
class WriteBatch {
public:
    explicit WriteBatch(std::size_t maxPending = 128);
    ~WriteBatch();
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;

    void add(const std::string& path, const std::string& data, std::function<void()> then = {});
    void commit();
    std::size_t pending() const { return pending_.size(); }

private:
    struct Pending {
        int fd;
        std::string temporary;
        std::string target;
        std::function<void()> then;
    };
    void discard();
    std::size_t maxPending_;
    std::vector<Pending> pending_;
};

// Removes the temporary files of dir that writes killed midway left behind
// (those no running write holds locked), logging each. Returns how many.
int removeStaleTemporaries(const std::string& dir);

}  // namespace tools
