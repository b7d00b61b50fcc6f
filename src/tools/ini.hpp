#pragma once
// The configuration file: its non-empty lines held in memory, looked up by
// section and key, and the whole file rewritten on every change.
// Thread safety: every member function of IniFile takes the file's own recursive
// lock; config() and useConfigFile() swap the process-wide file under a lock of
// their own and keep a replaced file alive for callers still holding it.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tools {

class IniFile {
public:
    // Reads the file. Only a missing file starts empty and writable; a file that
    // exists but cannot be read is logged and never written over (changes then
    // stay in memory).
    explicit IniFile(std::string fileName);

    bool has(const std::string& section, const std::string& key) const;
    // Raises "Label " + key + " not found" [+ " in section " + section] + "!".
    std::string get(const std::string& section, const std::string& key) const;
    // Raises "Cannot parse " + value + " as bool" unless true/false (any case).
    bool getBool(const std::string& section, const std::string& key) const;
    int getInt(const std::string& section, const std::string& key) const;

    void set(const std::string& section, const std::string& key, bool value);
    void set(const std::string& section, const std::string& key, int value);
    // Writes every line followed by "\n", replacing the file.
    void save();

    // While one of these lives, set() changes the lines in memory only; the
    // file is written once when the last one ends, if anything changed (a
    // failed write is then logged). Saving all comics holds one.
    class DeferredWrites {
    public:
        explicit DeferredWrites(IniFile& file);
        ~DeferredWrites();
        DeferredWrites(const DeferredWrites&) = delete;
        DeferredWrites& operator=(const DeferredWrites&) = delete;

    private:
        IniFile& file_;
    };
    // How often the file has been written.
    std::uint64_t writes() const;

    std::vector<std::string> lines() const;
    const std::string& fileName() const { return fileName_; }
    bool writable() const;

private:
    int lookup(const std::string& section, const std::string& key) const;  // -1 when absent
    void setText(const std::string& section, const std::string& key, const std::string& value);
    void saveLocked();

    std::string fileName_;
    std::vector<std::string> lines_;
    bool writable_ = true;
    int deferred_ = 0;      // DeferredWrites alive
    bool pending_ = false;  // a change waits for the last of them
    std::uint64_t writes_ = 0;
    mutable std::recursive_mutex lock_;
};

// The process-wide configuration "tovik.ini" (read on first use).
IniFile& config();
// Replaces the process-wide configuration by one read from another file (tests,
// or a working directory chosen after start).
void useConfigFile(const std::string& fileName);

// Reads a value as a bool ("true"/"false" in any case, blanks trimmed).
bool parseBool(const std::string& value);
// The leading decimal number of a value (optional sign); no digits give 0.
int parseInt(const std::string& value);

// Orders of the comic list.
enum class SortMode : int { unsorted = 0, byName = 1, byUnread = 2, byStrips = 3 };

// One typed setting of the unnamed section, bound to its key.
template <class T>
class IniValue {
public:
    IniValue(std::string key, T fallback)
        : key_(std::move(key)), value_(fallback), default_(fallback) {
        reload();
    }
    void reload();
    T get() const { return value_; }
    bool equals(T v) const { return value_ == v; }
    void set(T v);
    const std::string& key() const { return key_; }

private:
    std::string key_;
    T value_;
    T default_;
};

extern template class IniValue<bool>;
extern template class IniValue<int>;
extern template class IniValue<SortMode>;

}  // namespace tools
