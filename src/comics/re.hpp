#pragma once
// Regex plugins: comics described by small key=value files in "plugins". Each
// file names the comic, gives its start address and replacer expressions for the
// next link, the title and the strip images; regex_plugin implements the
// crawler's operations with them. A plugin the user stops following is archived
// on save into "<file>.zip" (the plugin text plus its stored state) and loaded
// from there, inactive, at the next start.
//
// Keys (compared without regard to case): name, filename, start, next, title,
// images, redirs, urls, unsafe, frontpage, frontpage_match / fpmatch, archive,
// skip. The instance (fp, sk, archive) is picked by an exact scan of the keys.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comics/base.hpp"
#include "comics/fhtagn.hpp"
#include "extract/replacer.hpp"

namespace comics {

struct pluginFlags {
    bool fp = false;       // "frontpage", "frontpage_match" or "fpmatch" occurs
    bool sk = false;       // "skip" occurs
    bool archive = false;  // "archive" occurs
    bool operator==(const pluginFlags&) const = default;
};
// Exact scan of the keys of the raw text (letter case counts).
pluginFlags scanFlags(const std::string& text);

// Everything a plugin file sets. Expressions are shared: an update running with
// one set keeps it alive while a re-read installs the next.
struct pluginSettings {
    std::string text;  // the file's text
    std::string name, filename, start, frontpage, archiveExpression;
    LinkList urls;
    bool redirects = false;
    std::shared_ptr<const extract::replacer> next, title, images, unsafe, frontpageMatch, skip;
};
// Parses a plugin text (keys of flags that are off are ignored). A bad
// expression logs the key's label and "Regex::construct with " + path + " failed"
// and raises.
pluginSettings parsePlugin(const std::string& path, const std::string& text, pluginFlags flags);

// What every plugin instance answers, whatever its flags.
class regexPlugin {
public:
    virtual ~regexPlugin() = default;
    virtual const std::string& path() const = 0;
    virtual pluginFlags flags() const = 0;
    // The plugin text as last read.
    virtual std::string text() const = 0;
};

template <bool fp, bool sk, bool archive>
class regex_plugin : public fhtagn<fp, sk, false>, public regexPlugin {
public:
    // An empty text reads the file at path.
    regex_plugin(FileStorage& storage, std::string path, std::string text);

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
    virtual void loadArchive();
    // Reads the file when the text is empty, parses it and installs the result.
    virtual void parse();

    const std::string& path() const override { return path_; }
    pluginFlags flags() const override { return {fp, sk, archive}; }
    std::string text() const override;
    std::shared_ptr<const pluginSettings> settings() const;

protected:
    void prepareUpdate() override;

private:
    std::shared_ptr<const std::vector<std::string>> archiveList();
    std::vector<std::string> nextMatches(const pluginSettings& cfg, const std::string& page,
                                         bool keep);
    void archiveNow();

    const std::string path_;
    std::string pendingText_;                                  // construction only
    std::shared_ptr<const pluginSettings> config_;             // guarded by the comic's lock
    std::shared_ptr<const std::vector<std::string>> archive_;  // guarded by the comic's lock
    struct nextMemo {
        std::shared_ptr<const extract::replacer> expression;
        std::string page;
        std::vector<std::string> results;
    };
    std::mutex memoLock_;
    nextMemo memo_;  // the last page's next-link search, guarded by memoLock_
};

// Builds the instance for the flags of text (read from path when empty) and
// loads its state from storage.
std::shared_ptr<comic> makePlugin(FileStorage& storage, const std::string& path,
                                  const std::string& text);

// The plugin face of a comic, or null for other comics.
const regexPlugin* asPlugin(const comic& c);

// Start-up loading: every "*.re.zip" of the directory (inactive, with a storage
// of its own), then every "*.re" without an archive (active, shared storage),
// each in name order, appended to registry(). Errors log "Regex list failed"
// and are passed on; comics appended before stay.
void loadPlugins(const std::string& dir = "plugins");

}  // namespace comics
