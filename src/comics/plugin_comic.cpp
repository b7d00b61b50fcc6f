#include "comics/plugin_comic.hpp"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "downloader/follow_link.hpp"
#include "extract/regex.hpp"
#include "tools/files.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

namespace comics {

using tools::replaceAll;

namespace fs = std::filesystem;
using Hold = std::lock_guard<std::recursive_mutex>;

namespace {

std::string withoutHttp(std::string address) {
    if (address.starts_with("http://")) address.erase(0, 7);
    return address;
}

}  // namespace

template <bool fp, bool sk, bool archive>
PluginComic<fp, sk, archive>::PluginComic(FileStorage& storage, std::string path, std::string text)
    : NextLinkCrawler<fp, sk, false>(storage),
      path_(std::move(path)),
      pendingText_(std::move(text)) {
    PluginComic::parse();
}

template <bool fp, bool sk, bool archive>
void PluginComic<fp, sk, archive>::parse() {
    std::string text;
    {
        Hold hold(this->lock());
        text = config_ ? config_->text : std::move(pendingText_);
        pendingText_.clear();
    }
    if (text.empty()) text = readPluginFile(path_);
    auto fresh = std::make_shared<const PluginSettings>(parsePlugin(path_, text, flags()));
    Hold hold(this->lock());
    config_ = std::move(fresh);
}

template <bool fp, bool sk, bool archive>
void PluginComic<fp, sk, archive>::prepareUpdate() {
    if (!this->active) return;
    // Edits of the file take effect at the next update. Work still running with
    // the old expressions keeps them alive until it ends.
    auto fresh =
        std::make_shared<const PluginSettings>(parsePlugin(path_, readPluginFile(path_), flags()));
    Hold hold(this->lock());
    config_ = std::move(fresh);
}

template <bool fp, bool sk, bool archive>
std::shared_ptr<const PluginSettings> PluginComic<fp, sk, archive>::settings() const {
    Hold hold(this->lock());
    return config_;
}

template <bool fp, bool sk, bool archive>
std::string PluginComic<fp, sk, archive>::text() const {
    return settings()->text;
}

template <bool fp, bool sk, bool archive>
std::string PluginComic<fp, sk, archive>::id() const {
    return settings()->filename;
}

template <bool fp, bool sk, bool archive>
std::string PluginComic<fp, sk, archive>::name() const {
    return settings()->name;
}

template <bool fp, bool sk, bool archive>
LinkList PluginComic<fp, sk, archive>::urls() const {
    return settings()->urls;
}

template <bool fp, bool sk, bool archive>
std::string PluginComic<fp, sk, archive>::toString() const {
    return "Regex plugin <- " + NextLinkCrawler<fp, sk, false>::toString();
}

template <bool fp, bool sk, bool archive>
void PluginComic<fp, sk, archive>::beginPage(const std::string& page) {
    const bool valid = extract::isValidUtf8(page);
    std::lock_guard<std::mutex> hold(workLock_);
    std::string buffer = std::move(work_.spaced);
    work_ = {};
    work_.spaced = std::move(buffer);
    work_.page = &page;
    work_.validUtf8 = valid;
}

template <bool fp, bool sk, bool archive>
void PluginComic<fp, sk, archive>::endPage() noexcept {
    std::lock_guard<std::mutex> hold(workLock_);
    std::string buffer = std::move(work_.spaced);
    work_ = {};
    work_.spaced = std::move(buffer);
}

template <bool fp, bool sk, bool archive>
typename PluginComic<fp, sk, archive>::Prepared PluginComic<fp, sk, archive>::preparedText(
    const std::string& page, bool spaced) {
    std::lock_guard<std::mutex> hold(workLock_);
    if (work_.page != &page) return {};
    if (!spaced) return {&page, work_.validUtf8};
    if (!work_.spacedMade) {
        // Spacing keeps the text valid (or not) as it was.
        extract::assignWithLineBreaksSpaced(work_.spaced, page);
        work_.spacedMade = true;
    }
    return {&work_.spaced, work_.validUtf8};
}

template <bool fp, bool sk, bool archive>
std::vector<std::string> PluginComic<fp, sk, archive>::applyAsCrawled(
    const extract::Replacer& expression, const std::string& page, bool spacedBefore) {
    if (const Prepared prepared = preparedText(page, spacedBefore || expression.spacesLineBreaks());
        prepared.text)
        return expression.applyToSpaced(*prepared.text, prepared.validUtf8);
    std::string text = page;
    if (spacedBefore) extract::spaceLineBreaks(text);
    return expression.apply(text);
}

template <bool fp, bool sk, bool archive>
std::string PluginComic<fp, sk, archive>::title(const std::string& page) {
    {
        std::lock_guard<std::mutex> hold(workLock_);
        if (work_.page == &page && work_.titleFound) return work_.title;
    }
    std::string title;
    try {
        auto cfg = settings();
        if (!cfg->title) throw std::runtime_error("no title expression");
        // The crawl applies the next and images expressions to the page
        // before the title's; any of them that spaced its line breaks did so
        // for the expressions after it, as with one shared page text.
        const bool spacedBefore = (!archive && cfg->next && cfg->next->spacesLineBreaks()) ||
                                  (cfg->images && cfg->images->spacesLineBreaks());
        const std::vector<std::string> found = applyAsCrawled(*cfg->title, page, spacedBefore);
        if (found.empty()) {
            title = "No title found";
        } else {
            title = found.front();
            replaceAll(title, "&nbsp;", " ");
            replaceAll(title, "&raquo;", "\xC2\xBB");
        }
    } catch (...) {
        title = "Title failed";
    }
    std::lock_guard<std::mutex> hold(workLock_);
    if (work_.page == &page) {
        work_.title = title;
        work_.titleFound = true;
    }
    return title;
}

template <bool fp, bool sk, bool archive>
std::vector<std::string> PluginComic<fp, sk, archive>::images(const std::string& page) {
    const std::string address = withoutHttp(pageAddress(page));
    auto cfg = settings();
    if (!cfg->images) throw std::runtime_error("No images expression in " + path_);
    const bool spacedBefore = !archive && cfg->next && cfg->next->spacesLineBreaks();
    const std::vector<std::string> found = applyAsCrawled(*cfg->images, page, spacedBefore);
    tools::logln("images ", found);
    std::vector<std::string> resolved;
    resolved.reserve(found.size());
    for (const std::string& link : found) resolved.push_back(downloader::followLink(address, link));
    return resolved;
}

template <bool fp, bool sk, bool archive>
std::string PluginComic<fp, sk, archive>::start() {
    if constexpr (archive) {
        auto list = archiveList();
        if (list->empty()) throw std::runtime_error("No archive entries found for " + name());
        return list->front();
    } else {
        std::string start = settings()->start;
        if (start.empty()) throw std::runtime_error("No start address in " + path_);
        return start;
    }
}

template <bool fp, bool sk, bool archive>
std::string PluginComic<fp, sk, archive>::next(const std::string& page) {
    if constexpr (archive) {
        const std::string address = pageAddress(page);
        auto list = archiveList();
        auto at = std::find(list->begin(), list->end(), address);
        if (at == list->end() || at + 1 == list->end())
            throw std::runtime_error("No next link found");
        return *(at + 1);
    } else {
        const std::string address = withoutHttp(pageAddress(page));
        auto cfg = settings();
        if (!cfg->next) throw std::runtime_error("No next expression in " + path_);
        std::vector<std::string> found = nextMatches(*cfg, page);
        if (found.empty()) {
            tools::logln("No match for next in ", name(), " ... crashing");
            throw std::runtime_error("No match for next in " + name());
        }
        std::string first = firstNextLink(address, found.front(), page);
        tools::logln("Next ", first);
        return first;
    }
}

template <bool fp, bool sk, bool archive>
std::vector<std::string> PluginComic<fp, sk, archive>::nextMatches(const PluginSettings& cfg,
                                                                   const std::string& page) {
    // The crawl asks hasNext and then next of the same page; the second answer
    // comes from the first search.
    {
        std::lock_guard<std::mutex> hold(workLock_);
        if (work_.page == &page && work_.nextSearched && work_.nextExpression == cfg.next)
            return work_.nextFound;
    }
    std::vector<std::string> found = applyAsCrawled(*cfg.next, page, false);
    std::lock_guard<std::mutex> hold(workLock_);
    if (work_.page == &page) {
        work_.nextExpression = cfg.next;
        work_.nextFound = found;
        work_.nextSearched = true;
    }
    return found;
}

template <bool fp, bool sk, bool archive>
std::string PluginComic<fp, sk, archive>::firstNextLink(const std::string& address,
                                                        const std::string& found,
                                                        const std::string& page) {
    {
        std::lock_guard<std::mutex> hold(workLock_);
        if (work_.page == &page && work_.nextResolved && work_.nextLinkBase == address)
            return work_.nextLink;
    }
    std::string link = downloader::followLink(address, found);
    std::lock_guard<std::mutex> hold(workLock_);
    if (work_.page == &page) {
        work_.nextLink = link;
        work_.nextLinkBase = address;
        work_.nextResolved = true;
    }
    return link;
}

template <bool fp, bool sk, bool archive>
bool PluginComic<fp, sk, archive>::hasNext(const std::string& page) {
    const std::string address = pageAddress(page);
    if constexpr (archive) {
        auto list = archiveList();
        return !list->empty() && address != list->back();
    } else {
        auto cfg = settings();
        if (!cfg->next) throw std::runtime_error("No next expression in " + path_);
        std::vector<std::string> found = nextMatches(*cfg, page);
        if (found.empty()) {
            tools::logln("No next match");
            return false;
        }
        std::string candidate = firstNextLink(address, found.front(), page);
        if (candidate == this->current) {
            tools::logln("Last URL found (", this->current, ")");
            return false;
        }
        if (candidate == address) {
            tools::logln("Looping next found. Considering this the end.");
            return false;
        }
        if (cfg->redirects) {
            std::string target;
            downloader::download(candidate, {}, false, &target);
            if (!target.empty()) candidate = target;
        }
        if constexpr (fp) {
            if (!cfg->frontpageMatch)
                throw std::runtime_error("No frontpage match expression in " + path_);
            std::vector<std::string> matches = cfg->frontpageMatch->apply(candidate);
            tools::logln("fp match ", candidate, " .. ", matches);
            if (!matches.empty()) {
                tools::logln("Frontpage found, aborting");
                return false;
            }
        }
        return true;
    }
}

template <bool fp, bool sk, bool archive>
bool PluginComic<fp, sk, archive>::unsafe(const std::string& page) {
    auto cfg = settings();
    return cfg->unsafe && !cfg->unsafe->apply(page).empty();
}

template <bool fp, bool sk, bool archive>
std::string PluginComic<fp, sk, archive>::frontpage() {
    return settings()->frontpage;
}

template <bool fp, bool sk, bool archive>
bool PluginComic<fp, sk, archive>::skip(const std::string& page) {
    auto cfg = settings();
    return cfg->skip && !cfg->skip->apply(page).empty();
}

template <bool fp, bool sk, bool archive>
void PluginComic<fp, sk, archive>::loadArchive() {
    if constexpr (archive) {
        auto cfg = settings();
        std::string text = downloader::download(cfg->start);
        extract::Replacer expression(cfg->archiveExpression);
        auto list = std::make_shared<const std::vector<std::string>>(expression.apply(text));
        Hold hold(this->lock());
        archive_ = std::move(list);
    }
}

template <bool fp, bool sk, bool archive>
std::shared_ptr<const std::vector<std::string>> PluginComic<fp, sk, archive>::archiveList() {
    {
        Hold hold(this->lock());
        if (archive_ && !archive_->empty()) return archive_;
    }
    loadArchive();
    Hold hold(this->lock());
    if (!archive_) archive_ = std::make_shared<const std::vector<std::string>>();
    return archive_;
}

template <bool fp, bool sk, bool archive>
void PluginComic<fp, sk, archive>::save() {
    if (this->keepStored) return;
    std::lock_guard<std::recursive_mutex> saving(saveLock());
    const std::string zip = path_ + ".zip";
    if (this->active) {
        const bool reactivated = fs::exists(zip);
        // A re-activated archive's state belongs to the shared storage from now on.
        if (reactivated) this->attachStorage(mainStorage());
        Comic::save();
        // The file may have been edited while the reader runs; it is only
        // written when it is missing.
        if (!fs::exists(path_)) tools::writeFileAtomically(path_, text());
        if (reactivated) {
            // The archive goes only once the state is safe in the storage file.
            writeMainStorage();
            fs::remove(zip);
        }
        return;
    }
    archiveNow();
}

template <bool fp, bool sk, bool archive>
void PluginComic<fp, sk, archive>::archiveNow() {
    tools::WriteBatch batch(1);
    archiveInto(batch);
    batch.commit();
}

template <bool fp, bool sk, bool archive>
void PluginComic<fp, sk, archive>::archiveInto(tools::WriteBatch& batch) {
    if (this->keepStored) return;
    std::string encoded = serialize::encode(this->stateToWrite());
    FileStorage packed;
    const std::string identifier = id();
    packed.put(identifier, std::move(encoded));
    if (fs::exists(path_)) {
        std::string fresh = readPluginFile(path_);
        auto parsed = std::make_shared<const PluginSettings>(parsePlugin(path_, fresh, flags()));
        Hold hold(this->lock());
        config_ = std::move(parsed);
    }
    packed.put(path_, text());
    batch.add(path_ + ".zip", packed.build(), [this, identifier] {
        tools::logln("Written, removing ", identifier);
        this->storage().remove(identifier);
        tools::logln("Deleting ", path_);
        std::error_code ignored;
        fs::remove(path_, ignored);
    });
}

template class PluginComic<true, true, true>;
template class PluginComic<true, true, false>;
template class PluginComic<true, false, true>;
template class PluginComic<true, false, false>;
template class PluginComic<false, true, true>;
template class PluginComic<false, true, false>;
template class PluginComic<false, false, true>;
template class PluginComic<false, false, false>;

std::shared_ptr<Comic> makePlugin(FileStorage& storage, const std::string& path,
                                  const std::string& text) {
    const PluginFlags f = scanFlags(text.empty() ? readPluginFile(path) : text);
    const int pick = (f.fp ? 4 : 0) + (f.sk ? 2 : 0) + (f.archive ? 1 : 0);
    switch (pick) {
        case 7:
            return create<PluginComic<true, true, true>>(storage, path, text);
        case 6:
            return create<PluginComic<true, true, false>>(storage, path, text);
        case 5:
            return create<PluginComic<true, false, true>>(storage, path, text);
        case 4:
            return create<PluginComic<true, false, false>>(storage, path, text);
        case 3:
            return create<PluginComic<false, true, true>>(storage, path, text);
        case 2:
            return create<PluginComic<false, true, false>>(storage, path, text);
        case 1:
            return create<PluginComic<false, false, true>>(storage, path, text);
        default:
            return create<PluginComic<false, false, false>>(storage, path, text);
    }
}

const PluginSource* asPlugin(const Comic& c) { return dynamic_cast<const PluginSource*>(&c); }
PluginSource* asPlugin(Comic& c) { return dynamic_cast<PluginSource*>(&c); }

}  // namespace comics
