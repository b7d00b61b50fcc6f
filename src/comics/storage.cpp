#include "comics/storage.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "comics/crc32.hpp"
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

// Plain archives (what build() writes, and what zip tools write by default)
// are read and written here directly on zlib: one inflate or deflate stream
// reused for every member, straight into the member's own buffer. Anything
// unusual (another compression method, encryption, ZIP64, a comment, members
// that fail a check or a bound) goes the whole way through libzip instead,
// which gives every refusal its usual wording.

std::uint16_t le16(const char* p) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) |
                                      static_cast<unsigned char>(p[1]) << 8);
}

std::uint32_t le32(const char* p) {
    return static_cast<std::uint32_t>(le16(p)) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}

void put16(char* p, std::uint32_t v) {
    p[0] = static_cast<char>(v & 0xff);
    p[1] = static_cast<char>((v >> 8) & 0xff);
}

void put32(char* p, std::uint32_t v) {
    put16(p, v & 0xffff);
    put16(p + 2, v >> 16);
}

constexpr std::uint32_t localSignature = 0x04034b50;
constexpr std::uint32_t centralSignature = 0x02014b50;
constexpr std::uint32_t endSignature = 0x06054b50;
constexpr std::size_t localHeaderSize = 30;
constexpr std::size_t centralHeaderSize = 46;
constexpr std::size_t endRecordSize = 22;
constexpr std::uint16_t methodStored = 0;
constexpr std::uint16_t methodDeflated = 8;
constexpr std::uint16_t flagEncrypted = 1u << 0;
constexpr std::uint16_t flagStrongEncryption = 1u << 6;
constexpr std::uint16_t flagUtf8Name = 1u << 11;

struct InflateStream {
    z_stream z{};
    bool ready = false;
    InflateStream() { ready = inflateInit2(&z, -MAX_WBITS) == Z_OK; }
    ~InflateStream() {
        if (ready) inflateEnd(&z);
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
};

struct DeflateStream {
    z_stream z{};
    bool ready = false;
    DeflateStream() {
        ready = deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~DeflateStream() {
        if (ready) deflateEnd(&z);
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;
};

// Expands one member's stored bytes into exactly size bytes; false when the
// stream is broken, ends early, runs on, or leaves stored bytes unused.
bool inflateExactly(InflateStream& stream, std::string_view stored, std::string& out,
                    std::size_t size) {
    out.resize(size);
    if (inflateReset(&stream.z) != Z_OK) return false;
    stream.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data()));
    stream.z.avail_in = static_cast<uInt>(stored.size());
    stream.z.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.z.avail_out = static_cast<uInt>(size);
    int rc = inflate(&stream.z, Z_FINISH);
    return rc == Z_STREAM_END && stream.z.avail_in == 0 && stream.z.avail_out == 0;
}

// The members of a plain, sound archive, every one expanded and checked; false
// (with members left partly filled) for anything else.
template <class Member>
bool readPlain(std::string_view zip, std::map<std::string, Member>& members) {
    if (zip.size() < endRecordSize) return false;
    const char* end = zip.data() + zip.size() - endRecordSize;
    if (le32(end) != endSignature || le16(end + 4) != 0 || le16(end + 6) != 0 ||
        le16(end + 20) != 0)
        return false;
    const std::size_t count = le16(end + 8);
    const std::size_t cdSize = le32(end + 12), cdOffset = le32(end + 16);
    if (le16(end + 10) != count || count == 0xffff || cdOffset == 0xffffffff ||
        cdOffset + cdSize != zip.size() - endRecordSize)
        return false;
    InflateStream stream;
    if (!stream.ready) return false;
    std::size_t at = cdOffset;
    const std::size_t cdEnd = cdOffset + cdSize;
    for (std::size_t i = 0; i < count; ++i) {
        if (cdEnd - at < centralHeaderSize) return false;
        const char* h = zip.data() + at;
        const std::uint16_t flags = le16(h + 8), method = le16(h + 10);
        const std::uint32_t crc = le32(h + 16), compSize = le32(h + 20), size = le32(h + 24);
        const std::size_t nameLength = le16(h + 28),
                          variable = nameLength + le16(h + 30) + le16(h + 32);
        const std::size_t local = le32(h + 42);
        if (le32(h) != centralSignature || le16(h + 34) != 0 ||
            (flags & (flagEncrypted | flagStrongEncryption)) ||
            (method != methodStored && method != methodDeflated) || compSize == 0xffffffff ||
            size == 0xffffffff || local == 0xffffffff || cdEnd - at - centralHeaderSize < variable)
            return false;
        std::string name(h + centralHeaderSize, nameLength);
        at += centralHeaderSize + variable;
        if (name.find('\0') != std::string::npos || members.count(name)) return false;
        // The local header must agree, and the data lie before the directory.
        if (local > cdOffset || cdOffset - local < localHeaderSize) return false;
        const char* l = zip.data() + local;
        const std::size_t localVariable = le16(l + 26) + std::size_t{le16(l + 28)};
        if (le32(l) != localSignature || le16(l + 8) != method || le16(l + 26) != nameLength ||
            cdOffset - local - localHeaderSize < localVariable ||
            std::string_view(l + localHeaderSize, nameLength) != name)
            return false;
        const std::size_t data = local + localHeaderSize + localVariable;
        if (cdOffset - data < compSize) return false;
        if (!name.empty() && name.back() == '/') continue;  // a directory entry
        // The bounds hold before anything is allocated.
        if (size > maxMemberSize ||
            (size > ratioCheckFrom && size / std::max<std::uint32_t>(compSize, 1) > maxMemberRatio))
            return false;
        std::string bytes;
        std::string_view stored = zip.substr(data, compSize);
        if (method == methodStored) {
            if (compSize != size) return false;
            bytes.assign(stored);
        } else if (!inflateExactly(stream, stored, bytes, size)) {
            return false;
        }
        if (crc32(bytes) != crc) return false;
        members[std::move(name)].data = std::make_shared<const std::string>(std::move(bytes));
    }
    return at == cdEnd;
}

// A DOS date and time for the members written now.
std::uint32_t dosTimeNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local) || local.tm_year < 80) return 0x00210000;  // 1980-01-01
    return static_cast<std::uint32_t>((local.tm_year - 80) << 25 | (local.tm_mon + 1) << 21 |
                                      local.tm_mday << 16 | local.tm_hour << 11 |
                                      local.tm_min << 5 | local.tm_sec / 2);
}

// Whether a name is UTF-8 with at least one byte past ASCII (flagged as such).
bool utf8Name(std::string_view name) {
    bool wide = false;
    for (std::size_t i = 0; i < name.size();) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        std::size_t n = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        if (n == 0 || i + n > name.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(name[i + k]) & 0xc0) != 0x80) return false;
        wide = wide || n > 1;
        i += n;
    }
    return wide;
}

// One member of an archive being written, for its central directory entry.
struct Written {
    const std::string* name;
    std::uint16_t flags;
    std::uint32_t crc, compSize, size, offset;
};

// Deflates every member into a new archive; false when it needs ZIP64 (libzip
// writes that one).
template <class Members>
bool writePlain(const Members& members, std::string& out) {
    constexpr std::uint64_t limit = 0xfffffffe;
    if (members.size() >= 0xffff) return false;
    DeflateStream stream;
    if (!stream.ready) throw std::runtime_error("Cannot build archive: no deflate stream");
    const std::uint32_t when = dosTimeNow();
    std::vector<Written> written;
    written.reserve(members.size());
    std::string scratch;
    // Room for the usual compression at once: growing on the way copies the
    // archive again and again.
    std::size_t expected = endRecordSize;
    for (const auto& [name, member] : members)
        expected += localHeaderSize + centralHeaderSize + 2 * name.size() + member.data->size() / 4;
    out.reserve(expected);
    for (const auto& [name, member] : members) {
        const std::string& data = *member.data;
        if (data.size() > limit || name.size() > 0xffff) return false;
        Written w{&name,
                  static_cast<std::uint16_t>(utf8Name(name) ? flagUtf8Name : 0),
                  crc32(data),
                  0,
                  static_cast<std::uint32_t>(data.size()),
                  static_cast<std::uint32_t>(out.size())};
        if (deflateReset(&stream.z) != Z_OK)
            throw std::runtime_error("Cannot build archive: deflate failed");
        scratch.resize(deflateBound(&stream.z, data.size()));
        stream.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream.z.avail_in = static_cast<uInt>(data.size());
        stream.z.next_out = reinterpret_cast<Bytef*>(scratch.data());
        stream.z.avail_out = static_cast<uInt>(scratch.size());
        if (deflate(&stream.z, Z_FINISH) != Z_STREAM_END)
            throw std::runtime_error("Cannot add " + name + ": deflate failed");
        w.compSize = static_cast<std::uint32_t>(scratch.size() - stream.z.avail_out);
        if (out.size() + localHeaderSize + name.size() + w.compSize > limit) return false;
        char h[localHeaderSize] = {};
        put32(h, localSignature);
        put16(h + 4, 20);  // version needed: deflate
        put16(h + 6, w.flags);
        put16(h + 8, methodDeflated);
        put32(h + 10, when);
        put32(h + 14, w.crc);
        put32(h + 18, w.compSize);
        put32(h + 22, w.size);
        put16(h + 26, static_cast<std::uint32_t>(name.size()));
        out.append(h, localHeaderSize);
        out.append(name);
        out.append(scratch.data(), w.compSize);
        written.push_back(w);
    }
    const std::size_t cdOffset = out.size();
    for (const Written& w : written) {
        char h[centralHeaderSize] = {};
        put32(h, centralSignature);
        put16(h + 4, 3u << 8 | 20);  // made by: Unix
        put16(h + 6, 20);
        put16(h + 8, w.flags);
        put16(h + 10, methodDeflated);
        put32(h + 12, when);
        put32(h + 16, w.crc);
        put32(h + 20, w.compSize);
        put32(h + 24, w.size);
        put16(h + 28, static_cast<std::uint32_t>(w.name->size()));
        put32(h + 38, 0100644u << 16);  // a regular file, rw-r--r--
        put32(h + 42, w.offset);
        out.append(h, centralHeaderSize);
        out.append(*w.name);
    }
    if (out.size() > limit) return false;
    char e[endRecordSize] = {};
    put32(e, endSignature);
    put16(e + 8, static_cast<std::uint32_t>(written.size()));
    put16(e + 10, static_cast<std::uint32_t>(written.size()));
    put32(e + 12, static_cast<std::uint32_t>(out.size() - cdOffset));
    put32(e + 16, static_cast<std::uint32_t>(cdOffset));
    out.append(e, endRecordSize);
    return true;
}

}  // namespace

void FileStorage::read(const std::string& zipBytes) {
    {
        std::map<std::string, Member> found;
        if (readPlain(zipBytes, found)) {
            std::lock_guard<std::mutex> hold(lock_);
            for (auto& [name, member] : found) members_[name] = std::move(member);
            return;
        }
    }
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
            found[name] = Member{
                std::make_shared<const std::string>(readMember(archive.get(), i, stat)), nullptr};
        } catch (const std::exception& e) {
            tools::logln("Member ", name, " cannot be read, kept as stored: ", e);
            if (!kept) kept = std::make_shared<const std::string>(zipBytes);
            found[name] = Member{nullptr, std::make_shared<const Raw>(
                                              Raw{kept, static_cast<std::uint64_t>(i), e.what()})};
        }
    }
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& [name, member] : found) members_[name] = std::move(member);
}

void FileStorage::put(const std::string& name, std::string data) {
    std::lock_guard<std::mutex> hold(lock_);
    members_[name] = Member{std::make_shared<const std::string>(std::move(data)), nullptr};
}

std::string FileStorage::get(const std::string& name) const { return *share(name); }

std::shared_ptr<const std::string> FileStorage::share(const std::string& name) const {
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
    bool anyDamaged = false;
    for (const auto& [name, stored] : members_)
        if (stored.raw) anyDamaged = true;
    if (!anyDamaged) {
        std::string out;
        if (writePlain(members_, out)) return out;
    }
    try {
        return buildArchive(true);
    } catch (const std::exception& e) {
        // A damaged member whose stored bytes cannot be copied either (its
        // local header is broken) must not stop every later save; the
        // ".damaged" copy made at start-up still holds it.
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
        const std::string& data = *stored.data;
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
