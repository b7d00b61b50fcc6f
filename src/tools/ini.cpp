#include "tools/ini.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "tools/files.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

namespace tools {
namespace {

using Hold = std::lock_guard<std::recursive_mutex>;

std::string trim(const std::string& text) {
    auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    std::size_t b = 0, e = text.size();
    while (b < e && blank(text[b])) ++b;
    while (e > b && blank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

// The section name of a header line: between "[" and the first "]" (or the
// line's end when it has none), trimmed.
std::string sectionName(const std::string& line) {
    std::size_t close = line.find(']');
    return trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

}  // namespace

bool parseBool(const std::string& value) {
    std::string v = lowered(trim(value));
    if (v == "true") return true;
    if (v == "false") return false;
    throw std::runtime_error("Cannot parse " + value + " as bool");
}

int parseInt(const std::string& value) {
    std::string v = trim(value);
    std::size_t i = 0;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
    long long n = 0;
    for (; i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])); ++i) {
        n = n * 10 + (v[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) n = -n;
    return static_cast<int>(std::clamp<long long>(n, INT_MIN, INT_MAX));
}

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {
    struct stat info;
    if (::stat(fileName_.c_str(), &info) != 0 && errno == ENOENT) return;  // a fresh start
    std::ifstream in(fileName_, std::ios::binary);
    std::ostringstream s;
    bool readable = in && S_ISREG(info.st_mode);
    if (readable) {
        s << in.rdbuf();
        readable = !in.bad();
    }
    if (!readable) {
        // It exists but cannot be read: never replace the user's settings.
        writable_ = false;
        logln("Cannot read ", fileName_, "; settings are kept in memory only");
        return;
    }
    std::string text = s.str();
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (end > at) lines_.push_back(text.substr(at, end - at));
        at = end + 1;
    }
}

int IniFile::lookup(const std::string& section, const std::string& key) const {
    std::string current;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string& line = lines_[i];
        if (!line.empty() && line[0] == '[') {
            current = sectionName(line);
            if (key.empty() && current == section) return static_cast<int>(i);
            continue;
        }
        if (key.empty() || current != section) continue;
        std::string content = line.substr(0, line.find('#'));
        std::size_t eq = content.find('=');
        if (eq != std::string::npos && trim(content.substr(0, eq)) == key)
            return static_cast<int>(i);
    }
    return -1;
}

bool IniFile::has(const std::string& section, const std::string& key) const {
    Hold hold(lock_);
    return lookup(section, key) >= 0;
}

std::string IniFile::get(const std::string& section, const std::string& key) const {
    Hold hold(lock_);
    int at = lookup(section, key);
    if (at < 0)
        throw std::runtime_error("Label " + key + " not found" +
                                 (section.empty() ? "" : " in section " + section) + "!");
    const std::string& line = lines_[static_cast<std::size_t>(at)];
    std::string content = line.substr(0, line.find('#'));
    return trim(content.substr(content.find('=') + 1));
}

bool IniFile::getBool(const std::string& section, const std::string& key) const {
    return parseBool(get(section, key));
}

int IniFile::getInt(const std::string& section, const std::string& key) const {
    return parseInt(get(section, key));
}

void IniFile::set(const std::string& section, const std::string& key, bool value) {
    setText(section, key, value ? "true" : "false");
}

void IniFile::set(const std::string& section, const std::string& key, int value) {
    setText(section, key, std::to_string(value));
}

void IniFile::setText(const std::string& section, const std::string& key,
                      const std::string& value) {
    Hold hold(lock_);
    std::string fresh = key + " = " + value;
    int at = lookup(section, key);
    if (at >= 0) {
        std::string& line = lines_[static_cast<std::size_t>(at)];
        std::size_t hash = line.find('#');
        if (hash != std::string::npos) fresh += " #" + line.substr(hash + 1);
        if (line == fresh) return;  // nothing changes: the file stays as it is
        line = fresh;
    } else if (int header = lookup(section, ""); header >= 0) {
        lines_.insert(lines_.begin() + header + 1, fresh);
    } else if (!section.empty()) {
        lines_.push_back("[" + section + "]");
        lines_.push_back(fresh);
    } else {
        lines_.insert(lines_.begin(), fresh);
    }
    if (deferred_ > 0) {
        pending_ = true;
        return;
    }
    saveLocked();
}

IniFile::DeferredWrites::DeferredWrites(IniFile& file) : file_(file) {
    Hold hold(file_.lock_);
    ++file_.deferred_;
}

IniFile::DeferredWrites::~DeferredWrites() {
    Hold hold(file_.lock_);
    if (--file_.deferred_ > 0 || !file_.pending_) return;
    file_.pending_ = false;
    try {
        file_.saveLocked();
    } catch (const std::exception& e) {
        logln("Cannot write ", file_.fileName_, ": ", e);
    }
}

std::uint64_t IniFile::writes() const {
    Hold hold(lock_);
    return writes_;
}

void IniFile::save() {
    Hold hold(lock_);
    saveLocked();
}

void IniFile::saveLocked() {
    if (!writable_) return;
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += '\n';
    }
    writeFileAtomically(fileName_, text);
    ++writes_;
}

std::vector<std::string> IniFile::lines() const {
    Hold hold(lock_);
    return lines_;
}

bool IniFile::writable() const {
    Hold hold(lock_);
    return writable_;
}

namespace {
std::mutex configLock;
std::shared_ptr<IniFile>& configSlot() {
    static std::shared_ptr<IniFile>* slot = new std::shared_ptr<IniFile>;
    return *slot;
}
}  // namespace

IniFile& config() {
    std::lock_guard<std::mutex> hold(configLock);
    auto& slot = configSlot();
    if (!slot) slot = std::make_shared<IniFile>("tovik.ini");
    return *slot;
}

void useConfigFile(const std::string& fileName) {
    auto fresh = std::make_shared<IniFile>(fileName);
    std::lock_guard<std::mutex> hold(configLock);
    // The previous configuration is kept alive: callers may still hold a reference.
    static std::vector<std::shared_ptr<IniFile>>* retired =
        new std::vector<std::shared_ptr<IniFile>>;
    if (configSlot()) retired->push_back(configSlot());
    configSlot() = std::move(fresh);
}

template <class T>
void IniValue<T>::reload() {
    IniFile& ini = config();
    if (!ini.has("", key_)) return;
    if constexpr (std::is_same_v<T, bool>) {
        value_ = ini.getBool("", key_);
    } else if constexpr (std::is_same_v<T, int>) {
        value_ = ini.getInt("", key_);
    } else {
        int n = ini.getInt("", key_);
        // A mode outside the known ones falls back to the default.
        value_ = (n >= 0 && n <= 3) ? static_cast<SortMode>(n) : default_;
    }
}

template <class T>
void IniValue<T>::set(T v) {
    value_ = v;
    if constexpr (std::is_same_v<T, SortMode>)
        config().set("", key_, static_cast<int>(v));
    else
        config().set("", key_, v);
}

template class IniValue<bool>;
template class IniValue<int>;
template class IniValue<SortMode>;

}  // namespace tools
