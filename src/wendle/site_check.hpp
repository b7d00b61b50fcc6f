#pragma once
// The comic's site as the generator sees it, and the proof of a plugin: every
// page is fetched once (over the client's kept-alive connection, so one
// connection per site) and kept for the dialogue; a candidate plugin is crawled
// by the reader's own crawler, a few steps from the first page and from the
// second-to-last page to the newest strip, within a small budget of fetches.
// Used on the dialogue's thread only.
#include <map>
#include <string>
#include <vector>

namespace wendle {

// The pages fetched for one dialogue.
class SitePages {
public:
    // The page text ("" when it cannot be fetched). A page not kept yet is
    // fetched; for a trial crawl (`trial`) only while the trial budget lasts.
    const std::string& page(const std::string& address, bool trial = false);
    // Follows the redirects of a typed address (at most ten) and keeps the page
    // it ends at; returns that final address, or "" when nothing answers.
    std::string settle(const std::string& address);

    int fetches() const { return fetches_; }
    int trialFetches() const { return trialFetches_; }
    bool budgetSpent() const { return budgetSpent_; }
    // Fetches left to trial crawls.
    static constexpr int trialBudget = 12;

private:
    std::map<std::string, std::string> pages_;
    int fetches_ = 0;
    int trialFetches_ = 0;
    bool budgetSpent_ = false;
};

// A plugin as it will be written.
struct PluginDraft {
    std::string name, start, next, title, images, frontpageMatch, frontpage;
    // The plugin file's text: name, start, next, title, images, then
    // frontpage_match and frontpage when set.
    std::string text() const;
};

// One page of a trial crawl.
struct CrawlStep {
    std::string address;
    std::vector<std::string> strips;  // as the plugin finds them there
    bool hasNext = false;             // the plugin would go on from here
    std::string next;                 // where to, when it would
};

struct TrialCrawl {
    std::vector<CrawlStep> steps;
    bool cut = false;                    // stopped by the page bound, not by the plugin
    std::vector<std::string> collected;  // the strip addresses listed, in order
    std::string error;                   // what ended the crawl with an error
};

// Crawls the draft with the reader's crawler from `from`, at most `pages` pages
// of the next-link chain (then the front page, if the draft names one), with
// the pages answered from `site`. The crawler's own log lines are kept quiet.
TrialCrawl trialCrawl(const PluginDraft& draft, const std::string& from, int pages,
                      SitePages& site);

// What a draft must achieve on the site.
struct Expectations {
    std::string prevURL;      // the second-to-last page
    std::string newestStrip;  // the newest strip's image address
    // Expressions for the link back to the previous page; each page a next
    // link leads to must link back through one of them (none: not checked).
    std::vector<std::string> backLinks;
};

// Checks the draft by crawling: three pages from the first page and from the
// second-to-last page to the end. Each page shows exactly one strip, differing
// from the one before; each step lands on a page whose previous link leads back;
// the chain ends at the newest strip. Returns "" when it passed, otherwise what
// failed ("next from page 2 (...) went to ..., whose previous link leads to ...").
std::string verifyDraft(const PluginDraft& draft, const Expectations& expect, SitePages& site);

}  // namespace wendle
