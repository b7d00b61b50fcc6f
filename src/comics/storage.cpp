#include "comics/storage.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "tools/files.hpp"
#include "tools/log.hpp"

namespace comics {
namespace {

struct ZipErrorText {
    zip_error_t error;
    ZipErrorText() { zip_error_init(&error); }
    ~ZipErrorText() { zip_error_fini(&error); }
    std::string text() { return zip_error_strerror(&error); }
};

struct SourceFree {
    void operator()(zip_source_t* s) const { zip_source_free(s); }
};
using SourcePtr = std::unique_ptr<zip_source_t, SourceFree>;

struct ArchiveDiscard {
    void operator()(zip_t* z) const { zip_discard(z); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveDiscard>;

struct FileClose {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using ZipFilePtr = std::unique_ptr<zip_file_t, FileClose>;

// An archive without members: just the end-of-central-directory record.
const std::string emptyArchive("PK\x05\x06" + std::string(18, '\0'));

std::string zipError(zip_t* archive) { return zip_error_strerror(zip_get_error(archive)); }

std::string readMember(zip_t* archive, zip_int64_t index, const std::string& name,
                       const zip_stat_t& stat) {
    ZipFilePtr file(zip_fopen_index(archive, index, 0));
    if (!file) throw std::runtime_error("Cannot read member " + name + ": " + zipError(archive));
    std::string data;
    // Read straight into a string of the announced size, then on in blocks
    // should the member turn out longer than its header says.
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size < (1u << 30)) data.resize(stat.size);
    std::size_t filled = 0;
    char block[4096];
    for (;;) {
        bool intoData = filled < data.size();
        char* to = intoData ? data.data() + filled : block;
        std::size_t room = intoData ? data.size() - filled : sizeof block;
        zip_int64_t n = zip_fread(file.get(), to, room);
        if (n < 0)
            throw std::runtime_error("Cannot read member " + name + ": " +
                                     zip_error_strerror(zip_file_get_error(file.get())));
        if (n == 0) break;
        if (intoData)
            filled += static_cast<std::size_t>(n);
        else
            data.append(block, static_cast<std::size_t>(n)), filled = data.size();
    }
    data.resize(filled);
    return data;
}

}  // namespace

void FileStorage::read(const std::string& zipBytes) {
    ZipErrorText error;
    SourcePtr source(zip_source_buffer_create(zipBytes.data(), zipBytes.size(), 0, &error.error));
    if (!source) throw std::runtime_error("Cannot read archive: " + error.text());
    ArchivePtr archive(zip_open_from_source(source.get(), ZIP_RDONLY, &error.error));
    if (!archive) throw std::runtime_error("Cannot read archive: " + error.text());
    source.release();  // the archive owns the source now

    std::map<std::string, std::string> found;
    zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive.get(), i, ZIP_FL_ENC_RAW, &stat) != 0)
            throw std::runtime_error("Cannot read archive: " + zipError(archive.get()));
        std::string name = stat.name ? stat.name : "";
        if (!name.empty() && name.back() == '/') continue;  // a directory entry
        // A member that cannot be expanded is left out (its comic starts
        // empty); the other members are unaffected.
        try {
            found[name] = readMember(archive.get(), i, name, stat);
        } catch (const std::exception& e) {
            tools::logln("Caught exception [", e, "] .. ignoring");
        }
    }
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& [name, data] : found) members_[name] = std::move(data);
}

void FileStorage::put(const std::string& name, std::string data) {
    std::lock_guard<std::mutex> hold(lock_);
    members_[name] = std::move(data);
}

std::string FileStorage::get(const std::string& name) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = members_.find(name);
    if (it == members_.end()) throw std::runtime_error(name + " not a file");
    return it->second;
}

void FileStorage::remove(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock_);
    members_.erase(name);
}

bool FileStorage::has(const std::string& name) const {
    std::lock_guard<std::mutex> hold(lock_);
    return members_.count(name) != 0;
}

std::vector<std::string> FileStorage::names() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> out;
    for (auto& [name, data] : members_) out.push_back(name);
    return out;
}

std::string FileStorage::build() const {
    struct DoneLine {
        ~DoneLine() { tools::logln("ser: done"); }
    };
    tools::logln("ser: compressing");
    DoneLine done;
    std::lock_guard<std::mutex> hold(lock_);
    if (members_.empty()) return emptyArchive;

    ZipErrorText error;
    SourcePtr target(zip_source_buffer_create(nullptr, 0, 0, &error.error));
    if (!target) throw std::runtime_error("Cannot build archive: " + error.text());
    zip_source_keep(target.get());  // the archive takes one reference, we keep ours
    ArchivePtr archive(zip_open_from_source(target.get(), ZIP_TRUNCATE, &error.error));
    if (!archive) {
        zip_source_free(target.get());  // drop the reference the archive did not take
        throw std::runtime_error("Cannot build archive: " + error.text());
    }
    for (auto& [name, data] : members_) {
        zip_source_t* member = zip_source_buffer(archive.get(), data.data(), data.size(), 0);
        if (!member) throw std::runtime_error("Cannot build archive: " + zipError(archive.get()));
        zip_int64_t index = zip_file_add(archive.get(), name.c_str(), member, ZIP_FL_ENC_GUESS);
        if (index < 0) {
            zip_source_free(member);
            throw std::runtime_error("Cannot add " + name + ": " + zipError(archive.get()));
        }
        if (zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index),
                                     ZIP_CM_DEFLATE, 6) != 0)
            throw std::runtime_error("Cannot compress " + name + ": " + zipError(archive.get()));
    }
    if (zip_close(archive.get()) != 0)
        throw std::runtime_error("Cannot build archive: " + zipError(archive.get()));
    archive.release();  // closed

    zip_source_t* src = target.get();
    if (zip_source_open(src) != 0)
        throw std::runtime_error("Cannot build archive: " +
                                 std::string(zip_error_strerror(zip_source_error(src))));
    std::string out;
    zip_source_seek(src, 0, SEEK_END);
    zip_int64_t size = zip_source_tell(src);
    zip_source_seek(src, 0, SEEK_SET);
    if (size > 0) {
        out.resize(static_cast<std::size_t>(size));
        zip_int64_t n = zip_source_read(src, out.data(), out.size());
        if (n != size) {
            zip_source_close(src);
            throw std::runtime_error("Cannot build archive: short read");
        }
    }
    zip_source_close(src);
    return out;
}

FileStorage& mainStorage() {
    static FileStorage* storage = new FileStorage;  // lives until the process ends
    return *storage;
}

void loadMainStorage(const std::string& path) {
    tools::logln("Reading storage");
    try {
        mainStorage().read(tools::readWholeFile(path));
    } catch (const std::exception& e) {
        tools::logln("Caught exception [", e, "] .. ignoring");
        // The next save would replace an unreadable file with the comics'
        // empty states: keep a copy of it for recovery first.
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) > 0 && !ec) {
            std::string copy = path + ".damaged";
            std::filesystem::copy_file(path, copy,
                                       std::filesystem::copy_options::overwrite_existing, ec);
            if (!ec) tools::logln("Kept a copy of the unreadable storage as ", copy);
        }
    }
}

void writeMainStorage(const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(saveLock());
    tools::writeFileAtomically(path, mainStorage().build());
}

std::recursive_mutex& saveLock() {
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}

}  // namespace comics
