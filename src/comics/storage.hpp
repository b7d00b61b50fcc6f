#pragma once
// FileStorage: the in-memory image of a ZIP archive, a map from member names to
// bytes. The comic states live in one such archive, "storage.dat.zip"; archived
// plugins are archives of their own.
//
// Reading is bounded: a member whose declared or actual expanded size passes
// maxMemberSize, or whose expansion ratio is absurd, is refused before its data
// is allocated. A member that cannot be read (refused, a failed check, an
// unsupported method) is not lost: it stays in the map as a damaged entry that
// get() refuses with its reason and build() copies into the next archive with
// its stored (compressed) bytes unchanged, until put() or remove() replaces it.
// Thread safety: every member function takes the storage's own lock, so one
// storage may be used from any thread.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/files.hpp"

namespace comics {

// A member may expand to at most this many bytes (comic states, plugin texts).
inline constexpr std::uint64_t maxMemberSize = 64u << 20;
// Past ratioCheckFrom expanded bytes, a member expanding more than maxMemberRatio
// times its stored size is refused (no comic state compresses that well).
inline constexpr std::uint64_t maxMemberRatio = 500;
inline constexpr std::uint64_t ratioCheckFrom = 1u << 20;

class FileStorage {
public:
    FileStorage() = default;
    FileStorage(const FileStorage&) = delete;
    FileStorage& operator=(const FileStorage&) = delete;
    ~FileStorage() = default;

    // Parses ZIP bytes and adds (or replaces) every member. Members are expanded
    // whatever their compression method, as far as libzip supports it; one that
    // cannot be is logged and kept as a damaged entry. An archive that cannot be
    // opened at all raises and changes nothing.
    void read(const std::string& zipBytes);
    void put(const std::string& name, std::string data);
    // The member's bytes; a missing name raises name + " not a file", a damaged
    // one name + " cannot be read: " + the reason.
    std::string get(const std::string& name) const;
    // The same bytes without a copy: they stay as they are while the caller
    // holds them, whatever put() or remove() does to the member meanwhile.
    std::shared_ptr<const std::string> share(const std::string& name) const;
    void remove(const std::string& name);
    // A new ZIP archive with one deflated member per entry; damaged entries go
    // in with their stored bytes as read.
    std::string build() const;

    bool has(const std::string& name) const;
    // Why the member could not be read; empty for a readable or missing one.
    std::string damage(const std::string& name) const;
    std::vector<std::string> names() const;

private:
    // A member kept as stored: the archive it came from and its index there.
    struct Raw {
        std::shared_ptr<const std::string> archive;
        std::uint64_t index = 0;
        std::string reason;
    };
    struct Member {
        std::shared_ptr<const std::string> data;  // set for a readable member
        std::shared_ptr<const Raw> raw;           // set for a damaged member
    };
    std::string buildArchive(bool withDamaged) const;  // under lock_

    mutable std::mutex lock_;
    std::map<std::string, Member> members_;
};

using tools::readWholeFile;
using tools::writeFileAtomically;

// The shared storage every comic of the reader is built with.
FileStorage& mainStorage();
// Fills the shared storage from the file ("Reading storage"); a missing or
// damaged file is logged ("Caught exception [...] .. ignoring") and leaves it
// empty. An unreadable file, or one with damaged members, is also copied to
// path + ".damaged" for recovery.
void loadMainStorage(const std::string& path = "storage.dat.zip");
// Builds the shared storage and writes it to the file, under the save lock.
void writeMainStorage(const std::string& path = "storage.dat.zip");

// One process-wide lock around every save: the comics' saves, changes of a
// storage made by saving, and writing the storage file.
std::recursive_mutex& saveLock();

}  // namespace comics
