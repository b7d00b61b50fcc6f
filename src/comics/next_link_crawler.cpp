#include "comics/next_link_crawler.hpp"

#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <unordered_set>

#include "comics/serialize.hpp"
#include "downloader/downloader.hpp"
#include "tools/log.hpp"

namespace comics {

using Hold = std::lock_guard<std::recursive_mutex>;

std::string encodeCrawlState(const CrawlState& state) {
    std::string out;
    out.reserve(12 + state.nextURL.size());
    serialize::putStr(out, state.nextURL);
    serialize::putI32(out, state.lastread);
    serialize::putI32(out, state.frontcount);
    return out;
}

CrawlState decodeCrawlState(std::string_view bytes) {
    serialize::Reader reader(bytes);
    CrawlState state;
    state.nextURL = reader.str();
    state.lastread = reader.i32();
    state.frontcount = reader.i32();
    return state;
}

std::string resolveDots(const std::string& address) {
    if (address.find("..") == std::string::npos) return address;  // no ".." part
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        std::size_t slash = address.find('/', at);
        parts.push_back(address.substr(at, slash == std::string::npos ? slash : slash - at));
        if (slash == std::string::npos) break;
        at = slash + 1;
    }
    std::vector<const std::string*> kept;  // last to first
    int skip = 0;
    for (std::size_t i = parts.size(); i-- > 1;) {
        if (parts[i] == "..")
            ++skip;
        else if (skip > 0)
            --skip;
        else
            kept.push_back(&parts[i]);
    }
    std::string out = parts[0];
    for (std::size_t i = kept.size(); i-- > 0;) {
        out += '/';
        out += *kept[i];
    }
    return out;
}

std::string pageAddress(const std::string& page) {
    std::size_t end = page.find('<');
    if (end == std::string::npos) throw std::runtime_error("Can't isolate address in " + page);
    static const std::string_view bom = "\xEF\xBB\xBF";
    static const std::string_view blanks = " \t\r\n\f\v";
    std::string_view address(page.data(), end);
    for (bool trimmed = true; trimmed && !address.empty();) {
        trimmed = false;
        if (blanks.find(address.front()) != std::string_view::npos) {
            address.remove_prefix(1);
            trimmed = true;
        } else if (address.starts_with(bom)) {
            address.remove_prefix(bom.size());
            trimmed = true;
        }
        if (address.empty()) break;
        if (blanks.find(address.back()) != std::string_view::npos) {
            address.remove_suffix(1);
            trimmed = true;
        } else if (address.ends_with(bom)) {
            address.remove_suffix(bom.size());
            trimmed = true;
        }
    }
    return std::string(address);
}

namespace {

std::atomic<std::size_t> pageCap{defaultMaxPagesPerUpdate};

// Addresses compared for the visited test: with or without the default scheme.
std::string visitKey(const std::string& address) {
    return address.starts_with("http://") ? address.substr(7) : address;
}

void call(const Callback& callback) {
    if (callback) callback();
}

// The strip's own address in an image reference, without the referrer
// annotation: the same strip shown on the front page and on its own page is one
// strip.
std::string_view stripAddress(std::string_view image) {
    if (image.starts_with("REFER=")) {
        std::size_t blank = image.find(' ');
        if (blank != std::string_view::npos) return image.substr(blank + 1);
    }
    return image;
}

std::string listText(const std::vector<Page>& pages, std::size_t count) {
    std::vector<Page> shown(pages.begin(), pages.begin() + static_cast<std::ptrdiff_t>(count));
    std::string out;
    tools::logfmt::put(out, shown);
    return out;
}

}  // namespace

void setMaxPagesPerUpdate(std::size_t pages) {
    pageCap = pages > 0 ? pages : defaultMaxPagesPerUpdate;
}

std::size_t maxPagesPerUpdate() { return pageCap.load(); }

template <bool fp, bool sk, bool internal>
void NextLinkCrawler<fp, sk, internal>::StripIndex::follow(const std::vector<Page>& pages) {
    if (built_ && pages_ == pages.size()) return;
    counts_.clear();
    pages_ = 0;
    built_ = true;
    for (const Page& page : pages) add(stripAddress(page.image()));
}

template <bool fp, bool sk, bool internal>
bool NextLinkCrawler<fp, sk, internal>::StripIndex::contains(std::string_view strip) const {
    return counts_.find(strip) != counts_.end();
}

template <bool fp, bool sk, bool internal>
void NextLinkCrawler<fp, sk, internal>::StripIndex::add(std::string_view strip) {
    auto it = counts_.find(strip);
    if (it == counts_.end())
        counts_.emplace(std::string(strip), 1);
    else
        ++it->second;
    ++pages_;
}

template <bool fp, bool sk, bool internal>
void NextLinkCrawler<fp, sk, internal>::StripIndex::remove(std::string_view strip) {
    auto it = counts_.find(strip);
    if (it != counts_.end() && --it->second == 0) counts_.erase(it);
    --pages_;
}

// Ends the comic's work on a page however the crawl leaves it.
template <bool fp, bool sk, bool internal>
struct NextLinkCrawler<fp, sk, internal>::PageScope {
    NextLinkCrawler& crawler;
    PageScope(NextLinkCrawler& c, const std::string& page) : crawler(c) { crawler.beginPage(page); }
    ~PageScope() { crawler.endPage(); }
    PageScope(const PageScope&) = delete;
    PageScope& operator=(const PageScope&) = delete;
};

template <bool fp, bool sk, bool internal>
std::string NextLinkCrawler<fp, sk, internal>::toString() const {
    std::string tag = "fhtagn-type ";
    if constexpr (fp) tag += "[fp] ";
    if constexpr (sk) tag += "[sk] ";
    if constexpr (internal) tag += "[int] ";
    return tag + "<- " + this->name();
}

template <bool fp, bool sk, bool internal>
CrawlState NextLinkCrawler<fp, sk, internal>::crawlStateCopy() const {
    std::string custom;
    {
        Hold hold(this->lock());
        custom = this->state_.custom;
    }
    return custom.empty() ? CrawlState{} : decodeCrawlState(custom);
}

template <bool fp, bool sk, bool internal>
std::string NextLinkCrawler<fp, sk, internal>::downloadPage(const std::string& url) {
    return downloader::downloadPage(url);
}

template <bool fp, bool sk, bool internal>
std::string NextLinkCrawler<fp, sk, internal>::fetch(const std::string& url,
                                                     const char* emptyError) {
    std::string text = downloadPage(url);
    if (text.empty()) throw std::runtime_error(emptyError);
    if constexpr (sk) {
        int downloads = 1;
        while (this->skip(url + text)) {
            if (downloads >= maxSkipDownloads)
                throw std::runtime_error("Still a placeholder after " +
                                         std::to_string(maxSkipDownloads) + " downloads of " + url);
            text = downloadPage(url);
            ++downloads;
            if (text.empty()) throw std::runtime_error(emptyError);
        }
    }
    return text;
}

template <bool fp, bool sk, bool internal>
void NextLinkCrawler<fp, sk, internal>::update(const Callback& onChanged,
                                               const Callback& onNewPages) {
    BaseComic::update(onChanged, onNewPages);
    bool idle = false;
    if (!this->updating.compare_exchange_strong(idle, true)) {
        tools::logln("Already updating ", this->name(), ", not starting again");
        return;
    }
    std::exception_ptr error;
    try {
        tools::logln("Updating ", this->name());
        // What a failure in this update goes back to.
        this->keepAsGood();
        call(onChanged);
        prepareUpdate();
        crawl(onChanged, onNewPages);
    } catch (...) {
        error = std::current_exception();
    }
    current.clear();
    tools::logln("Exiting");
    tools::logln(toString(), error ? " failed" : " succeeded");
    this->updating = false;
    try {
        call(onChanged);
    } catch (...) {
        if (!error) throw;
    }
    if (error) std::rethrow_exception(error);
}

template <bool fp, bool sk, bool internal>
void NextLinkCrawler<fp, sk, internal>::crawl(const Callback& onChanged,
                                              const Callback& onNewPages) {
    std::string custom;
    {
        Hold hold(this->lock());
        custom = this->state_.custom;
    }
    CrawlState resume;
    if (!custom.empty())
        resume = decodeCrawlState(custom);
    else
        resume.nextURL = start();
    tools::logln("custom is custom { nextURL='", resume.nextURL, "', lastread='", resume.lastread,
                 "' }");
    {
        Hold hold(this->lock());
        crawl_ = resume;
        this->state_.custom = encodeCrawlState(crawl_);
    }

    // Only this thread writes crawl_, so it reads its own fields without the lock.
    std::unordered_set<std::string> visited;
    // The resume point of the last page that changed the list: pages read after it only
    // found strips already listed, so going back to it loses nothing.
    CrawlState productive = crawl_;
    const std::size_t cap = maxPagesPerUpdate();
    StripIndex strips;
    for (std::size_t read = 0;; ++read) {
        if (crawlStopRequested()) throw std::runtime_error("Update interrupted");
        const std::string url = crawl_.nextURL;
        if (read >= cap)
            throw std::runtime_error("Stopped after " + std::to_string(cap) +
                                     " pages in one update; the next update goes on from " + url);
        visited.insert(visitKey(url));
        std::string following;
        {
            std::string page = url;
            page += fetch(url, sk ? "Zero-Length Download" : "Zero-Length Download II");
            current = url;
            PageScope scope(*this, page);
            bool has = hasNext(page);
            processPage(url, page, false, has, onChanged, onNewPages, strips);
            if (read == 0 || crawl_.lastread > 0) productive = crawl_;
            if (!has) break;
            following = resolveDots(next(page));
        }
        tools::logln("Resolved next: ", following);
        if (visited.contains(visitKey(following))) {
            tools::logln(this->name(), ": next link of ", url, " leads back to ", following);
            Hold hold(this->lock());
            crawl_ = productive;
            this->state_.custom = encodeCrawlState(crawl_);
            throw std::runtime_error("Next link leads back to " + following +
                                     ", already read in this update");
        }
        Hold hold(this->lock());
        crawl_.nextURL = following;
        crawl_.lastread = 0;
        this->state_.custom = encodeCrawlState(crawl_);
    }
    tools::logln("End reached");
    tools::logln("No more next link found");

    if constexpr (fp) {
        if (crawlStopRequested()) throw std::runtime_error("Update interrupted");
        std::string front = this->frontpage();
        if (!front.empty()) {
            std::string page = front;
            page += fetch(front, sk ? "Zero-Length Download III" : "Zero-Length Download IV");
            current = front;
            PageScope scope(*this, page);
            processPage(front, page, true, false, onChanged, onNewPages, strips);
        }
    }
}

template <bool fp, bool sk, bool internal>
std::vector<Page> NextLinkCrawler<fp, sk, internal>::extract(std::string url,
                                                             const std::string& text) {
    if (!url.starts_with("http://") && !url.starts_with("https://")) url = "http://" + url;
    std::size_t blank = url.rfind(' ');
    std::string referrer = blank == std::string::npos ? url : url.substr(blank + 1);
    std::vector<Page> found;
    const std::vector<std::string> strips = images(text);
    // One title for every strip of the page.
    const std::string name = strips.empty() ? std::string() : title(text);
    for (const std::string& img : strips) {
        Page record{"REFER=" + referrer + " " + img, name, {}, {}};
        tools::logln("New page @", record.image(), ": ", record.title());
        found.push_back(std::move(record));
    }
    return found;
}

template <bool fp, bool sk, bool internal>
void NextLinkCrawler<fp, sk, internal>::processPage(const std::string& url, const std::string& text,
                                                    bool front, bool has, const Callback& onChanged,
                                                    const Callback& onNewPages,
                                                    StripIndex& strips) {
    std::vector<Page> fresh = extract(url, text);
    // A page that should show strips but shows none means the plugin broke; the
    // list is left as it is.
    if (has && fresh.empty() && !unsafe(text)) {
        tools::logln(this->name(), " from ", url,
                     " - no comics found, probably plugin error. Marking as failed.");
        this->fail("No comics found");
        throw std::runtime_error("fail");
    }

    std::size_t popped = 0, pushed = 0;
    bool grew = false;
    {
        // Pop, push and the new resume point under one hold, so a save never
        // stores a page list and a crawl state that disagree.
        Hold hold(this->lock());
        std::vector<Page>& pages = this->state_.pages;
        strips.follow(pages);
        const std::size_t before = pages.size();
        const auto frontCount = static_cast<std::size_t>(crawl_.frontcount);
        const auto lastRead = front ? 0 : static_cast<std::size_t>(crawl_.lastread);
        if (crawl_.frontcount < 0 || pages.size() < frontCount)
            throw std::runtime_error("Can't pop " + std::to_string(crawl_.frontcount) + " off " +
                                     listText(pages, pages.size()));
        if (crawl_.lastread < 0 || pages.size() - frontCount < lastRead)
            throw std::runtime_error("Can't pop " + std::to_string(crawl_.lastread) + " off " +
                                     listText(pages, pages.size() - frontCount));

        std::vector<Page> fromFront(pages.end() - static_cast<std::ptrdiff_t>(frontCount),
                                    pages.end());
        for (std::size_t i = pages.size() - frontCount - lastRead; i < pages.size(); ++i)
            strips.remove(stripAddress(pages[i].image()));
        pages.resize(pages.size() - frontCount - lastRead);
        crawl_.frontcount = 0;
        if (!front) crawl_.lastread = 0;
        const std::size_t base = pages.size();

        auto push = [&](std::int32_t& counter, std::vector<Page>& records) {
            if (counter != 0) throw std::runtime_error("Trying to push again");
            for (Page& record : records) {
                const std::string_view strip = stripAddress(record.image());
                if (strips.contains(strip)) {
                    tools::logln("Tried to push duplicate page ", record.image(), ". Ignoring.");
                    continue;
                }
                strips.add(strip);
                pages.push_back(std::move(record));
                ++counter;
            }
        };
        if (front) {
            push(crawl_.frontcount, fresh);
        } else {
            push(crawl_.lastread, fresh);
            push(crawl_.frontcount, fromFront);
        }
        this->state_.custom = encodeCrawlState(crawl_);
        grew = pages.size() > before;
        popped = before - base;
        pushed = pages.size() - base;
    }
    if (grew) call(onNewPages);
    call(onChanged);
    tools::logln(this->name(), " from ", url, ": ", popped, " popped, ", pushed, " pushed");
}

template class NextLinkCrawler<true, true, false>;
template class NextLinkCrawler<true, false, false>;
template class NextLinkCrawler<false, true, false>;
template class NextLinkCrawler<false, false, false>;
template class NextLinkCrawler<false, false, true>;

}  // namespace comics
