#include "wendle/site_check.hpp"

#include <algorithm>
#include <memory>

#include "comics/next_link_crawler.hpp"
#include "comics/plugin_comic.hpp"
#include "comics/storage.hpp"
#include "downloader/downloader.hpp"
#include "downloader/follow_link.hpp"
#include "tools/log.hpp"
#include "wendle/addresses.hpp"
#include "wendle/link_candidates.hpp"

namespace wendle {

namespace {

const std::string noPage;

// A regex plugin whose crawl stops after a number of pages, fetches through
// the generator's kept pages and reports what it saw.
template <bool fp>
class TrialPlugin final : public comics::PluginComic<fp, false, false> {
    using Base = comics::PluginComic<fp, false, false>;

public:
    TrialPlugin(comics::FileStorage& storage, const std::string& text, SitePages& site, int bound,
                TrialCrawl& record)
        : Base(storage, "plugins/wendle-trial.re", text),
          site_(site),
          bound_(bound),
          record_(record) {}

    bool hasNext(const std::string& page) override {
        CrawlStep step;
        step.address = comics::pageAddress(page);
        step.strips = Base::images(page);
        step.hasNext = Base::hasNext(page);
        if (step.hasNext) step.next = comics::resolveDots(Base::next(page));
        record_.steps.push_back(step);
        if (step.hasNext && static_cast<int>(record_.steps.size()) >= bound_) {
            record_.cut = true;
            return false;
        }
        return step.hasNext;
    }

protected:
    std::string downloadPage(const std::string& url) override { return site_.page(url, true); }

private:
    SitePages& site_;
    const int bound_;
    TrialCrawl& record_;
};

template <bool fp>
void runTrial(const PluginDraft& draft, const std::string& from, int pages, SitePages& site,
              TrialCrawl& record) {
    comics::FileStorage storage;
    auto comic = comics::create<TrialPlugin<fp>>(storage, draft.text(), site, pages, record);
    comic->active = false;  // never re-read from a file
    comics::ComicState state;
    state.custom = comics::encodeCrawlState({from, 0, 0});
    comic->replaceState(state);
    try {
        comic->update({}, {});
    } catch (const std::exception& e) {
        record.error = e.what();
    }
    for (const comics::Page& page : comic->pagesCopy())
        record.collected.push_back(std::string(page.image().substr(page.image().rfind(' ') + 1)));
}

std::string count(std::size_t n, const char* what) {
    return n == 0 ? std::string("no ") + what
                  : std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// Where the previous link of the page at `address` leads, by the first back
// expression that finds one there ("" when none does).
std::string backLinkOf(const Expectations& expect, const std::string& address, SitePages& site) {
    const std::string& text = site.page(address, true);
    for (const std::string& expression : expect.backLinks) {
        std::string back = firstLink(expression, address, text);
        if (!back.empty()) return back;
    }
    return {};
}

bool leadsBack(const Expectations& expect, const std::string& address, const std::string& from,
               SitePages& site) {
    const std::string& text = site.page(address, true);
    for (const std::string& expression : expect.backLinks)
        if (sameAddress(firstLink(expression, address, text), from)) return true;
    return expect.backLinks.empty();
}

// Checks the pages of one trial crawl; `names` gives each page's name in messages.
template <class Name>
std::string checkSteps(const TrialCrawl& crawl, const Expectations& expect, SitePages& site,
                       Name name) {
    for (std::size_t i = 0; i < crawl.steps.size(); ++i) {
        const CrawlStep& step = crawl.steps[i];
        if (step.strips.size() != 1)
            return name(i) + " (" + step.address + ") shows " + count(step.strips.size(), "strip");
        if (i > 0 && crawl.steps[i - 1].strips == step.strips)
            return name(i) + " (" + step.address + ") shows the same strip as " + name(i - 1);
        if (i == 0) continue;
        const std::string& from = crawl.steps[i - 1].address;
        if (!leadsBack(expect, step.address, from, site)) {
            std::string back = backLinkOf(expect, step.address, site);
            return "next from " + name(i - 1) + " went to " + step.address +
                   (back.empty() ? ", which has no previous link"
                                 : ", whose previous link leads to " + back);
        }
    }
    return {};
}

}  // namespace

const std::string& SitePages::page(const std::string& address, bool trial) {
    auto found = pages_.find(address);
    if (found != pages_.end()) return found->second;
    if (trial) {
        if (trialFetches_ >= trialBudget) {
            budgetSpent_ = true;
            return noPage;
        }
        ++trialFetches_;
    }
    ++fetches_;
    return pages_[address] = downloader::download(address);
}

std::string SitePages::settle(const std::string& given) {
    std::string address = withoutHttp(given);
    for (int hop = 0; hop <= 10; ++hop) {
        if (pages_.count(address)) return pages_[address].empty() ? std::string() : address;
        std::string target;
        ++fetches_;
        std::string text = downloader::download(address, {}, false, &target);
        if (target.empty()) {
            pages_[address] = text;
            return text.empty() ? std::string() : address;
        }
        address = downloader::followLink(address, target);
    }
    return {};
}

std::string PluginDraft::text() const {
    std::string out = "name=" + name + "\nstart=" + start + "\nnext=" + next + "\ntitle=" + title +
                      "\nimages=" + images + "\n";
    if (!frontpageMatch.empty()) out += "frontpage_match=" + frontpageMatch + "\n";
    if (!frontpage.empty()) out += "frontpage=" + frontpage + "\n";
    return out;
}

TrialCrawl trialCrawl(const PluginDraft& draft, const std::string& from, int pages,
                      SitePages& site) {
    TrialCrawl record;
    tools::QuietLog quiet;
    try {
        if (draft.frontpageMatch.empty())
            runTrial<false>(draft, from, pages, site, record);
        else
            runTrial<true>(draft, from, pages, site, record);
    } catch (const std::exception& e) {
        record.error = e.what();
    }
    return record;
}

std::string verifyDraft(const PluginDraft& draft, const Expectations& expect, SitePages& site) {
    auto spent = [&](const std::string& failure) {
        return site.budgetSpent() ? failure + " (no more pages may be fetched for checks)"
                                  : failure;
    };
    // Forward from the first page.
    TrialCrawl forward = trialCrawl(draft, draft.start, 3, site);
    auto pageName = [](std::size_t i) { return "page " + std::to_string(i + 1); };
    if (!forward.error.empty() && forward.steps.empty())
        return spent("the first page could not be crawled: " + forward.error);
    if (std::string failure = checkSteps(forward, expect, site, pageName); !failure.empty())
        return failure;
    if (!forward.error.empty())
        return spent("the crawl from the first page failed: " + forward.error);
    if (!forward.cut) {
        // A short comic: the chain has to pass the second-to-last page and end
        // at the newest strip.
        const CrawlStep& last = forward.steps.back();
        if (forward.collected.empty() || !sameAddress(forward.collected.back(), expect.newestStrip))
            return "the chain from the first page ended at " + pageName(forward.steps.size() - 1) +
                   " (" + last.address + "), before the newest strip";
        if (std::none_of(forward.steps.begin(), forward.steps.end(), [&](const CrawlStep& step) {
                return sameAddress(step.address, expect.prevURL);
            }))
            return "next from page 1 went to " + forward.steps[1 % forward.steps.size()].address +
                   ", past the second-to-last page " + expect.prevURL;
    }

    // From the second-to-last page to the end.
    TrialCrawl backward = trialCrawl(draft, expect.prevURL, 3, site);
    auto endName = [](std::size_t i) {
        return i == 0   ? std::string("the second-to-last page")
               : i == 1 ? std::string("the newest page")
                        : "the page after the newest";
    };
    if (!backward.error.empty() && backward.steps.empty())
        return spent("the second-to-last page could not be crawled: " + backward.error);
    if (backward.cut || backward.steps.size() > 2) {
        const CrawlStep& step = backward.steps[1];
        return "the chain does not end at the newest strip: next from " + step.address +
               " went to " + step.next;
    }
    if (std::string failure = checkSteps(backward, expect, site, endName); !failure.empty())
        return failure;
    if (!backward.error.empty())
        return spent("the crawl from the second-to-last page failed: " + backward.error);
    if (backward.collected.empty() || !sameAddress(backward.collected.back(), expect.newestStrip))
        return "the chain from the second-to-last page ended with " +
               (backward.collected.empty() ? std::string("no strip")
                                           : "the strip " + backward.collected.back()) +
               ", not with the newest strip " + expect.newestStrip;
    return {};
}

}  // namespace wendle
