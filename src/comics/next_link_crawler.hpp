#pragma once
// NextLinkCrawler: the generic next-link crawler. From the newest known page of a comic it
// downloads each page, asks the concrete comic for the strips and the title on it,
// appends them, and follows the next link until the comic says there is none. The
// resume point is kept in the comic state's custom blob, so the next update starts
// again at the newest page. Optionally the site's front page is looked at last.
//
// Flags: fp adds frontpage() and the front-page stage; sk adds skip() (a page that
// matches it is downloaded again, at most maxSkipDownloads times in all); internal
// derives from BuiltinComic instead of Comic.
//
// Every concrete operation gets the page as the crawler hands it over: the page's
// address immediately followed by the downloaded text.
//
// An update ends with an error when a next link leads back to a page it has already read
// (a site whose pages link in a circle); the strips found before stay, and the resume
// point goes back to the last page that added strips.
//
// A strip already listed is not listed again: pages are compared by the strip's
// own address, so the copy of the newest strip taken from the front page and the
// same strip reached later through the chain are one page.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "comics/base.hpp"

namespace comics {

// The resume point, stored as the comic state's custom bytes.
struct CrawlState {
    std::string nextURL;          // newest page of the next-link chain
    std::int32_t lastread = 0;    // pages at the end of the chain part that came from nextURL
    std::int32_t frontcount = 0;  // pages at the very end that came from the front page
    bool operator==(const CrawlState&) const = default;
};
std::string encodeCrawlState(const CrawlState& state);
CrawlState decodeCrawlState(std::string_view bytes);

// Drops "name/.." pairs behind the first "/"-separated part (the host): x/y/../z
// becomes x/z; "." parts stay and surplus ".." parts vanish.
std::string resolveDots(const std::string& address);

// The page address in a crawler page text: the text before the first "<", without
// surrounding white space or a byte-order mark. Raises "Can't isolate address in "
// + page when there is no "<".
std::string pageAddress(const std::string& page);

// A page whose skip() never stops matching is downloaded at most this often.
inline constexpr int maxSkipDownloads = 20;

// Chain pages one update downloads at most; the next update goes on where it stopped.
// Process-wide ("max_pages_per_update" in tovik.ini); 0 restores the default.
inline constexpr std::size_t defaultMaxPagesPerUpdate = 100000;
void setMaxPagesPerUpdate(std::size_t pages);
std::size_t maxPagesPerUpdate();

// The operations that the fp and sk flags add.
class FrontPageCrawl {
public:
    virtual ~FrontPageCrawl() = default;
    // The front page's address, or empty for none.
    virtual std::string frontpage() = 0;
};
class SkipCrawl {
public:
    virtual ~SkipCrawl() = default;
    // True when the downloaded page is a placeholder to be downloaded again.
    virtual bool skip(const std::string& page) = 0;
};
template <int>
struct NoCrawlOps {};

template <bool fp, bool sk, bool internal>
class NextLinkCrawler : public std::conditional_t<internal, BuiltinComic, Comic>,
                        public std::conditional_t<fp, FrontPageCrawl, NoCrawlOps<0>>,
                        public std::conditional_t<sk, SkipCrawl, NoCrawlOps<1>> {
public:
    using BaseComic = std::conditional_t<internal, BuiltinComic, Comic>;
    explicit NextLinkCrawler(FileStorage& storage) : BaseComic(storage) {}

    // One crawl on the calling thread; errors reach the caller after being logged.
    // A second update of the same comic while one runs returns at once.
    void update(const Callback& onChanged, const Callback& onNewPages) override;
    std::string toString() const override;

    // True when the crawl should follow a next link from this page.
    virtual bool hasNext(const std::string& page) = 0;
    virtual std::string title(const std::string& page) = 0;
    // Absolute strip image addresses on the page.
    virtual std::vector<std::string> images(const std::string& page) = 0;
    // Where a fresh comic begins.
    virtual std::string start() = 0;
    // The next page's address (asked only after hasNext said true).
    virtual std::string next(const std::string& page) = 0;
    // True when a page without strips is acceptable.
    virtual bool unsafe(const std::string& page) = 0;

    // The crawl state as stored now (under the comic's lock).
    CrawlState crawlStateCopy() const;

protected:
    // Runs at the start of every update, after the comic is marked updating;
    // an error there fails the update.
    virtual void prepareUpdate() {}
    // Downloads one page of the crawl, without the cache; "" when that fails. An error
    // status or a download limit raises, ending the update with that error.
    virtual std::string downloadPage(const std::string& url);
    // The crawl looks at one page at a time: beginPage gets the page text before
    // any question about it and endPage comes once the crawl is done with it.
    // In between, the questions get that very text object, unchanged, so a comic
    // may keep work done on it (a page prepared once for several expressions).
    virtual void beginPage(const std::string& page) { (void)page; }
    virtual void endPage() noexcept {}

    // The address of the page being examined (the updating thread's own).
    std::string current;

private:
    // Counts the strip addresses of the listed pages, so that the duplicate check
    // of a new strip takes constant time however long the list is.
    class StripIndex {
    public:
        // Rebuilt when the list is not the one indexed (its length differs).
        void follow(const std::vector<Page>& pages);
        bool contains(std::string_view strip) const;
        void add(std::string_view strip);
        void remove(std::string_view strip);

    private:
        // Looked up by a view of the page's text, without a copy.
        struct Hash {
            using is_transparent = void;
            std::size_t operator()(std::string_view s) const {
                return std::hash<std::string_view>{}(s);
            }
        };
        std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> counts_;
        std::size_t pages_ = 0;
        bool built_ = false;
    };
    struct PageScope;

    std::string fetch(const std::string& url, const char* emptyError);
    void crawl(const Callback& onChanged, const Callback& onNewPages);
    void processPage(const std::string& url, const std::string& page, bool front, bool has,
                     const Callback& onChanged, const Callback& onNewPages, StripIndex& strips);
    std::vector<comics::Page> extract(std::string url, const std::string& page);

    CrawlState crawl_;  // guarded by the comic's lock
};

extern template class NextLinkCrawler<true, true, false>;
extern template class NextLinkCrawler<true, false, false>;
extern template class NextLinkCrawler<false, true, false>;
extern template class NextLinkCrawler<false, false, false>;
extern template class NextLinkCrawler<false, false, true>;

}  // namespace comics
