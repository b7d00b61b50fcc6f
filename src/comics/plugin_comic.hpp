#pragma once
// Regex plugins: comics described by small key=value files in "plugins". Each
// file names the comic, gives its start address and replacer expressions for the
// next link, the title and the strip images; PluginComic implements the
// crawler's operations with them. A plugin the user stops following is archived
// on save into "<file>.zip" (the plugin text plus its stored state) and loaded
// from there, inactive, at the next start.
//
// The file format is in plugin_file.hpp, the start-up loading of the plugin
// directory in plugin_loading.hpp.
//
// Thread safety: as for every comic, the state under the comic's lock; the
// settings are replaced as a whole, so an update keeps the set it started with.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comics/base.hpp"
#include "comics/next_link_crawler.hpp"
#include "comics/plugin_file.hpp"
#include "extract/replacer.hpp"
#include "tools/files.hpp"

namespace comics {

// What every plugin instance answers, whatever its flags.
class PluginSource {
public:
    virtual ~PluginSource() = default;
    virtual const std::string& path() const = 0;
    virtual PluginFlags flags() const = 0;
    // The plugin text as last read.
    virtual std::string text() const = 0;
    // Archives the plugin as an inactive save does, with the archive written in
    // batch: the state leaves the storage and the plugin file goes once the
    // batch has made the archive durable. Nothing for a comic whose stored
    // entry is kept. The caller holds the save lock until the commit.
    virtual void archiveInto(tools::WriteBatch& batch) = 0;
};

template <bool fp, bool sk, bool archive>
class PluginComic : public NextLinkCrawler<fp, sk, false>, public PluginSource {
public:
    // An empty text reads the file at path.
    PluginComic(FileStorage& storage, std::string path, std::string text);

    std::string id() const override;
    std::string name() const override;
    LinkList urls() const override;
    std::string toString() const override;
    std::string typeName() const override { return "regex_plugin"; }
    // Active: stores the state, writes the file when it is missing and, for a
    // re-activated archive, moves the state into the shared storage, writes that
    // out and only then deletes the archive. Inactive: archives the plugin.
    void save() override;

    bool hasNext(const std::string& page) override;
    std::string title(const std::string& page) override;
    std::vector<std::string> images(const std::string& page) override;
    std::string start() override;
    std::string next(const std::string& page) override;
    bool unsafe(const std::string& page) override;
    std::string frontpage();
    bool skip(const std::string& page);

    // Downloads the archive page and keeps its entries (archive flag only).
    void loadArchive();
    // Reads the file when the text is empty, parses it and installs the result.
    void parse();

    const std::string& path() const override { return path_; }
    PluginFlags flags() const override { return {fp, sk, archive}; }
    std::string text() const override;
    void archiveInto(tools::WriteBatch& batch) override;
    std::shared_ptr<const PluginSettings> settings() const;

protected:
    void prepareUpdate() override;
    void beginPage(const std::string& page) override;
    void endPage() noexcept override;

private:
    std::shared_ptr<const std::vector<std::string>> archiveList();
    std::vector<std::string> nextMatches(const PluginSettings& cfg, const std::string& page);
    // The first next link found, resolved against the page's address.
    std::string firstNextLink(const std::string& address, const std::string& found,
                              const std::string& page);
    // The page as an expression sees it, with its line breaks spaced or not, when
    // page is the one the crawl is working on; null otherwise.
    struct Prepared {
        const std::string* text = nullptr;
        bool validUtf8 = false;
    };
    Prepared preparedText(const std::string& page, bool spaced);
    // The expression's results on page as the crawl gives it: with line breaks
    // spaced when an expression before it (spacedBefore) or it itself spaces
    // them, read from the prepared copy when page is the crawl's current one.
    std::vector<std::string> applyAsCrawled(const extract::Replacer& expression,
                                            const std::string& page, bool spacedBefore);
    void archiveNow();

    const std::string path_;
    std::string pendingText_;                                  // construction only
    std::shared_ptr<const PluginSettings> config_;             // guarded by the comic's lock
    std::shared_ptr<const std::vector<std::string>> archive_;  // guarded by the comic's lock
    // The crawl's current page (between beginPage and endPage): its text with
    // line breaks spaced, made once on first need, and the answers found so far,
    // so every expression reads one shared copy and none runs twice.
    struct PageWork {
        const std::string* page = nullptr;
        std::string spaced;  // its buffer is kept from page to page
        bool spacedMade = false;
        bool validUtf8 = false;
        std::shared_ptr<const extract::Replacer> nextExpression;
        std::vector<std::string> nextFound;
        bool nextSearched = false;
        std::string nextLink;  // the first found, resolved against nextLinkBase
        std::string nextLinkBase;
        bool nextResolved = false;
        bool titleFound = false;
        std::string title;
    };
    std::mutex workLock_;
    PageWork work_;  // guarded by workLock_
};

// Builds the instance for the flags of text (read from path when empty) and
// loads its state from storage.
std::shared_ptr<Comic> makePlugin(FileStorage& storage, const std::string& path,
                                  const std::string& text);

// The plugin face of a comic, or null for other comics.
const PluginSource* asPlugin(const Comic& c);
PluginSource* asPlugin(Comic& c);

}  // namespace comics
