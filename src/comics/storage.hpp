#pragma once
// FileStorage: the in-memory image of a ZIP archive, a map from member names to
// bytes. The comic states live in one such archive, "storage.dat.zip"; archived
// plugins are archives of their own.
// Thread safety: every member function takes the storage's own lock, so one
// storage may be used from any thread.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tools/files.hpp"

namespace comics {

class FileStorage {
public:
    FileStorage() = default;
    FileStorage(const FileStorage&) = delete;
    FileStorage& operator=(const FileStorage&) = delete;
    ~FileStorage() = default;

    // Parses ZIP bytes and adds (or replaces) every member. Members are expanded
    // whatever their compression method, as far as libzip supports it.
    void read(const std::string& zipBytes);
    void put(const std::string& name, std::string data);
    // The member's bytes; a missing name raises name + " not a file".
    std::string get(const std::string& name) const;
    void remove(const std::string& name);
    // A new ZIP archive with one deflated member per entry.
    std::string build() const;

    bool has(const std::string& name) const;
    std::vector<std::string> names() const;

private:
    mutable std::mutex lock_;
    std::map<std::string, std::string> members_;
};

using tools::readWholeFile;
using tools::writeFileAtomically;

// The shared storage every comic of the reader is built with.
FileStorage& mainStorage();
// Fills the shared storage from the file ("Reading storage"); a missing or
// damaged file is logged ("Caught exception [...] .. ignoring") and leaves it empty.
void loadMainStorage(const std::string& path = "storage.dat.zip");
// Builds the shared storage and writes it to the file, under the save lock.
void writeMainStorage(const std::string& path = "storage.dat.zip");

// One process-wide lock around every save: the comics' saves, changes of a
// storage made by saving, and writing the storage file.
std::recursive_mutex& saveLock();

}  // namespace comics
