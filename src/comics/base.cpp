#include "comics/base.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "tools/ini.hpp"
#include "tools/log.hpp"

namespace comics {

using Hold = std::lock_guard<std::recursive_mutex>;

namespace {

std::uint32_t fieldLength(std::string_view field) {
    if (field.size() > UINT32_MAX) throw std::length_error("Page field too long");
    return static_cast<std::uint32_t>(field.size());
}

}  // namespace

Page::Page(std::string_view image, std::string_view title, std::string_view reserved1,
           std::string_view reserved2) {
    const std::size_t size = image.size() + title.size() + reserved1.size() + reserved2.size();
    if (size == 0) return;
    std::shared_ptr<char[]> buffer = std::make_shared_for_overwrite<char[]>(size);
    char* at = buffer.get();
    auto place = [&](std::string_view field, const char*& begin, std::uint32_t& length) {
        length = fieldLength(field);
        begin = at;
        if (!field.empty()) std::memcpy(at, field.data(), field.size());
        at += field.size();
    };
    place(image, image_, imageLength_);
    place(title, title_, titleLength_);
    place(reserved1, reserved1_, reserved1Length_);
    place(reserved2, reserved2_, reserved2Length_);
    owner_ = std::move(buffer);
}

Page::Page(std::shared_ptr<const void> owner, std::string_view image, std::string_view title,
           std::string_view reserved1, std::string_view reserved2)
    : owner_(std::move(owner)),
      image_(image.data()),
      title_(title.data()),
      reserved1_(reserved1.data()),
      reserved2_(reserved2.data()),
      imageLength_(fieldLength(image)),
      titleLength_(fieldLength(title)),
      reserved1Length_(fieldLength(reserved1)),
      reserved2Length_(fieldLength(reserved2)) {}

bool Page::operator==(const Page& other) const {
    return image() == other.image() && title() == other.title() &&
           reserved1() == other.reserved1() && reserved2() == other.reserved2();
}

Comic::Comic(FileStorage& storage) : storage_(&storage) {}

Comic::~Comic() = default;

void Comic::initialise() {
    readKeepStrips();
    const std::string identifier = id();
    try {
        std::shared_ptr<const std::string> stored = storage().share(identifier);
        ComicState loaded = serialize::decode(stored);
        // A position outside the page list (a damaged entry) is clamped to it.
        std::int32_t count =
            static_cast<std::int32_t>(std::min<std::size_t>(loaded.pages.size(), INT32_MAX));
        loaded.position = std::clamp(loaded.position, -1, count);
        Hold hold(lock_);
        state_ = std::move(loaded);
        // The same pages again only when a failure needs them.
        good_ = ComicState{};
        goodEncoded_ = std::move(stored);
    } catch (const std::exception& e) {
        tools::logln("Exception [", e, "] .. Ignoring.");
        {
            Hold hold(lock_);
            state_ = ComicState{};
            good_ = state_;
            goodEncoded_.reset();
        }
        if (storage().has(identifier)) {
            // Starting empty would replace the stored pages at the next save.
            const std::string damage = storage().damage(identifier);
            keepStored = true;
            fail("Stored state of " + identifier +
                 " cannot be read: " + (damage.empty() ? std::string(e.what()) : damage));
        }
    }
}

void Comic::keepAsGood() {
    Hold hold(lock_);
    good_ = state_;
    goodEncoded_.reset();
}

const ComicState& Comic::goodState() {
    if (goodEncoded_) {
        good_ = serialize::decode(goodEncoded_);  // decoded once already: it cannot fail
        goodEncoded_.reset();
    }
    return good_;
}

void Comic::update(const Callback&, const Callback&) {}

void Comic::readKeepStrips() {
    const std::string section = settingsSection();
    try {
        tools::IniFile& ini = tools::config();
        keepStrips_ = ini.has(section, "keep_strips") && ini.getBool(section, "keep_strips");
    } catch (const std::exception& e) {
        tools::logln("keep_strips of ", section, " ignored: ", e);
        keepStrips_ = false;
    }
}

void Comic::setKeepStrips(bool keep) {
    keepStrips_ = keep;
    tools::config().set(settingsSection(), "keep_strips", keep);
}

LinkList Comic::urls() const { return {}; }

namespace {
std::atomic<bool> stopCrawls{false};
}  // namespace

void requestCrawlStop() { stopCrawls = true; }
bool crawlStopRequested() { return stopCrawls.load(); }

std::string Comic::failure() const {
    Hold hold(lock_);
    return failure_;
}

void Comic::fail(const std::string& message) {
    {
        // The pages found by the failing update go; the reader's place stays.
        Hold hold(lock_);
        failure_ = message;
        const std::int32_t position = state_.position;
        const ComicState& good = goodState();
        state_.pages = good.pages;
        state_.custom = good.custom;
        const auto count =
            static_cast<std::int32_t>(std::min<std::size_t>(state_.pages.size(), INT32_MAX));
        state_.position = std::clamp(position, std::min(-1, count), count);
        failed = true;
    }
    tools::logln("");
    tools::logln("");
    tools::logln("FAIL: ", message);
    tools::logln("");
    tools::logln("");
}

std::int32_t Comic::remaining() const {
    Hold hold(lock_);
    return static_cast<std::int32_t>(state_.pages.size()) - state_.position;
}

ComicState Comic::stateToWrite() const {
    Hold hold(lock_);
    if (!failed) return state_;
    // Only the position may have moved since the comic failed; the pages and
    // the crawl state are the last good ones whatever happened since.
    ComicState out = goodEncoded_ ? serialize::decode(goodEncoded_) : good_;
    const auto count =
        static_cast<std::int32_t>(std::min<std::size_t>(out.pages.size(), INT32_MAX));
    out.position = std::clamp(state_.position, std::min(-1, count), count);
    return out;
}

void Comic::save() {
    if (keepStored) return;
    std::lock_guard<std::recursive_mutex> saving(saveLock());
    std::string bytes = serialize::encode(stateToWrite());
    storage().put(id(), std::move(bytes));
}

ComicState Comic::stateCopy() const {
    Hold hold(lock_);
    return state_;
}

std::vector<Page> Comic::pagesCopy() const {
    Hold hold(lock_);
    return state_.pages;
}

std::size_t Comic::pageCount() const {
    Hold hold(lock_);
    return state_.pages.size();
}

bool Comic::pageAt(std::size_t index, Page& out) const {
    Hold hold(lock_);
    if (index >= state_.pages.size()) return false;
    out = state_.pages[index];
    return true;
}

std::int32_t Comic::position() const {
    Hold hold(lock_);
    return state_.position;
}

void Comic::setPosition(std::int32_t position) {
    Hold hold(lock_);
    state_.position = position;
}

void Comic::replaceState(ComicState state) {
    Hold hold(lock_);
    state_ = std::move(state);
}

void BuiltinComic::initialise() {
    tools::IniFile& ini = tools::config();
    if (ini.has(section(), "active")) active = ini.getBool(section(), "active");
    Comic::initialise();
}

void BuiltinComic::save() {
    std::lock_guard<std::recursive_mutex> saving(saveLock());
    try {
        tools::config().set(section(), "active", static_cast<bool>(active));
    } catch (const std::exception& e) {
        tools::logln("Cannot write the active flag of ", name(), ": ", e);
    }
    Comic::save();
}

void ComicRegistry::append(std::shared_ptr<Comic> c) {
    std::lock_guard<std::mutex> hold(lock_);
    list_.push_back(std::move(c));
}

std::vector<std::shared_ptr<Comic>> ComicRegistry::snapshot() const {
    std::lock_guard<std::mutex> hold(lock_);
    return list_;
}

std::size_t ComicRegistry::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return list_.size();
}

void ComicRegistry::clearForTests() {
    std::lock_guard<std::mutex> hold(lock_);
    list_.clear();
}

ComicRegistry& registry() {
    static ComicRegistry* list = new ComicRegistry;  // lives until the process ends
    return *list;
}

void saveAll(const std::vector<std::shared_ptr<Comic>>& list, const std::string& path) {
    std::lock_guard<std::recursive_mutex> saving(saveLock());
    tools::IniFile::DeferredWrites once(tools::config());  // the built-ins' flags
    tools::logln("Saving comics ...");
    for (const auto& c : list) {
        try {
            c->save();
        } catch (const std::exception& e) {
            tools::logln("Saving ", c->id(), " failed: ", e);
        }
    }
    writeMainStorage(path);
}

std::string entityCleanup(std::string text) {
    auto replaceAll = [&](const std::string& from, const std::string& to) {
        std::string out;
        std::size_t at = 0;
        for (std::size_t found; (found = text.find(from, at)) != std::string::npos;) {
            out.append(text, at, found - at);
            out.append(to);
            at = found + from.size();
        }
        out.append(text, at, std::string::npos);
        text = std::move(out);
    };
    replaceAll("&apos;", "'");
    replaceAll("&nbsp;", " ");
    return text;
}

namespace {

std::string cutBetween(const std::string& text, std::size_t start, const std::string& startMarker,
                       const std::string& end) {
    if (start == std::string::npos) return {};
    std::size_t from = start + startMarker.size();
    if (from > text.size()) throw std::out_of_range("Cut past the end of the text");
    std::size_t to = text.find(end, from);
    if (to == std::string::npos) return {};
    return text.substr(from, to - from);
}

}  // namespace

std::string between(const std::string& text, const std::string& start, const std::string& end) {
    return cutBetween(text, text.find(start), start, end);
}

std::vector<std::string> allBetween(const std::string& text, const std::string& start,
                                    const std::string& end) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (;;) {
        std::size_t s = text.find(start, at);
        if (s == std::string::npos) break;
        std::size_t from = s + start.size();
        std::size_t e = text.find(end, from);
        if (e == std::string::npos) break;
        out.push_back(text.substr(from, e - from));
        at = e + end.size();
    }
    return out;
}

std::string after(const std::string& text, const std::string& marker) {
    std::size_t at = text.find(marker);
    if (at == std::string::npos) return {};
    return text.substr(at + marker.size());
}

std::string betweenLast(const std::string& text, const std::string& start, const std::string& end) {
    return cutBetween(text, text.rfind(start), start, end);
}

std::string afterLast(const std::string& text, const std::string& marker) {
    std::size_t at = text.rfind(marker);
    if (at == std::string::npos) return {};
    return text.substr(at + marker.size());
}

}  // namespace comics
