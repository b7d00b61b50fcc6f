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

std::string sizeText(std::uint64_t n) { return std::to_string(n) + " bytes"; }

// Refuses a member whose expansion would pass the bounds: declared sizes before
// anything is allocated, the bytes actually expanded while reading.
void checkExpansion(std::uint64_t expanded, const zip_stat_t& stat) {
    if (expanded > maxMemberSize)
        throw std::runtime_error("expands to more than " + sizeText(maxMemberSize));
    if (expanded > ratioCheckFrom && (stat.valid & ZIP_STAT_COMP_SIZE) &&
        expanded / std::max<std::uint64_t>(stat.comp_size, 1) > maxMemberRatio)
        throw std::runtime_error("expands from " + sizeText(stat.comp_size) + " to over " +
                                 sizeText(expanded) + ", an absurd ratio");
}

std::string readMember(zip_t* archive, zip_int64_t index, const zip_stat_t& stat) {
    if (stat.valid & ZIP_STAT_SIZE) checkExpansion(stat.size, stat);
    ZipFilePtr file(zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0));
    if (!file) throw std::runtime_error(zipError(archive));
    std::string data;
    // Read straight into a string of the announced size, then on in blocks
    // should the member turn out longer than its header says.
    if (stat.valid & ZIP_STAT_SIZE) data.resize(stat.size);
    std::size_t filled = 0;
    char block[16384];
    for (;;) {
        bool intoData = filled < data.size();
        char* to = intoData ? data.data() + filled : block;
        std::size_t room = intoData ? data.size() - filled : sizeof block;
        zip_int64_t n = zip_fread(file.get(), to, room);
        if (n < 0) throw std::runtime_error(zip_error_strerror(zip_file_get_error(file.get())));
        if (n == 0) break;
        if (intoData) {
            filled += static_cast<std::size_t>(n);
        } else {
            checkExpansion(filled + static_cast<std::size_t>(n), stat);
            data.append(block, static_cast<std::size_t>(n));
            filled = data.size();
        }
        checkExpansion(filled, stat);
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

    std::map<std::string, Member> found;
    std::shared_ptr<const std::string> kept;  // the archive, once a member needs it
    zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &stat) != 0)
            throw std::runtime_error("Cannot read archive: " + zipError(archive.get()));
        std::string name = stat.name ? stat.name : "";
        if (!name.empty() && name.back() == '/') continue;  // a directory entry
        // A member that cannot be expanded stays as it is stored; the other
        // members are unaffected.
        try {
            found[name] = Member{readMember(archive.get(), i, stat), nullptr};
        } catch (const std::exception& e) {
            tools::logln("Member ", name, " cannot be read, kept as stored: ", e);
            if (!kept) kept = std::make_shared<const std::string>(zipBytes);
            found[name] = Member{
                {},
                std::make_shared<const Raw>(Raw{kept, static_cast<std::uint64_t>(i), e.what()})};
        }
    }
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& [name, member] : found) members_[name] = std::move(member);
}

void FileStorage::put(const std::string& name, std::string data) {
    std::lock_guard<std::mutex> hold(lock_);
    members_[name] = Member{std::move(data), nullptr};
}

std::string FileStorage::get(const std::string& name) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = members_.find(name);
    if (it == members_.end()) throw std::runtime_error(name + " not a file");
    if (it->second.raw)
        throw std::runtime_error(name + " cannot be read: " + it->second.raw->reason);
    return it->second.data;
}

std::string FileStorage::damage(const std::string& name) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = members_.find(name);
    return it != members_.end() && it->second.raw ? it->second.raw->reason : std::string();
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
    for (auto& [name, member] : members_) out.push_back(name);
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
    try {
        return buildArchive(true);
    } catch (const std::exception& e) {
        // A damaged member whose stored bytes cannot be copied either (its
        // local header is broken) must not stop every later save; the
        // ".damaged" copy made at start-up still holds it.
        bool anyDamaged = false;
        for (const auto& [name, stored] : members_)
            if (stored.raw) anyDamaged = true;
        if (!anyDamaged) throw;
        tools::logln("Cannot copy the damaged members as stored (", e,
                     "); writing the archive without them");
        return buildArchive(false);
    }
}

std::string FileStorage::buildArchive(bool withDamaged) const {
    // The archives damaged members are copied from; they are declared first so they stay
    // open until the new archive is gone.
    std::map<const std::string*, ArchivePtr> sources;
    auto sourceArchive = [&](const std::string& bytes) -> zip_t* {
        auto& open = sources[&bytes];
        if (!open) {
            ZipErrorText sourceError;
            SourcePtr from(
                zip_source_buffer_create(bytes.data(), bytes.size(), 0, &sourceError.error));
            if (!from) throw std::runtime_error(sourceError.text());
            open.reset(zip_open_from_source(from.get(), ZIP_RDONLY, &sourceError.error));
            if (!open) throw std::runtime_error(sourceError.text());
            from.release();
        }
        return open.get();
    };
    ZipErrorText error;
    SourcePtr target(zip_source_buffer_create(nullptr, 0, 0, &error.error));
    if (!target) throw std::runtime_error("Cannot build archive: " + error.text());
    zip_source_keep(target.get());  // the archive takes one reference, we keep ours
    ArchivePtr archive(zip_open_from_source(target.get(), ZIP_TRUNCATE, &error.error));
    if (!archive) {
        zip_source_free(target.get());  // drop the reference the archive did not take
        throw std::runtime_error("Cannot build archive: " + error.text());
    }
    std::size_t added = 0;
    for (auto& [name, stored] : members_) {
        if (stored.raw && !withDamaged) continue;
        if (stored.raw) {
            // Its stored bytes, compression and check go over unchanged.
            try {
                zip_t* from = sourceArchive(*stored.raw->archive);
                zip_source_t* member = zip_source_zip(archive.get(), from, stored.raw->index,
                                                      ZIP_FL_COMPRESSED, 0, -1);
                if (!member) throw std::runtime_error(zipError(archive.get()));
                if (zip_file_add(archive.get(), name.c_str(), member, ZIP_FL_ENC_GUESS) < 0) {
                    zip_source_free(member);
                    throw std::runtime_error(zipError(archive.get()));
                }
                ++added;
            } catch (const std::exception& e) {
                tools::logln("Cannot keep the damaged member ", name, ": ", e);
            }
            continue;
        }
        const std::string& data = stored.data;
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
        ++added;
    }
    if (added == 0) return emptyArchive;  // libzip writes nothing at all for no members
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
    bool damaged = false;
    try {
        mainStorage().read(tools::readWholeFile(path));
        for (const std::string& name : mainStorage().names())
            if (!mainStorage().damage(name).empty()) damaged = true;
    } catch (const std::exception& e) {
        tools::logln("Caught exception [", e, "] .. ignoring");
        damaged = true;
    }
    // The next save replaces an unreadable file with the comics' empty states,
    // and damaged members go on only as far as their stored bytes can be
    // copied: keep a copy of the file for recovery first.
    std::error_code ec;
    if (damaged && std::filesystem::file_size(path, ec) > 0 && !ec) {
        std::string copy = path + ".damaged";
        std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing,
                                   ec);
        if (!ec) tools::logln("Kept a copy of the unreadable storage as ", copy);
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
