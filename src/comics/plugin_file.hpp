#pragma once
// The regex plugin file: small key=value lines naming the comic, its start address and
// the replacer expressions for the next link, the title and the strip images.
//
// Keys (compared without regard to case): name, filename, start, next, title,
// images, redirs, urls, unsafe, frontpage, frontpage_match / fpmatch, archive,
// skip. The instance (fp, sk, archive) is picked by an exact scan of the keys.
//
// Thread safety: pure functions; parsed settings are immutable and shared.
#include <memory>
#include <string>

#include "comics/base.hpp"
#include "extract/replacer.hpp"

namespace comics {

struct PluginFlags {
    bool fp = false;       // "frontpage", "frontpage_match" or "fpmatch" occurs
    bool sk = false;       // "skip" occurs
    bool archive = false;  // "archive" occurs
    bool operator==(const PluginFlags&) const = default;
};
// Exact scan of the keys of the raw text (letter case counts).
PluginFlags scanFlags(const std::string& text);

// Everything a plugin file sets. Expressions are shared: an update running with
// one set keeps it alive while a re-read installs the next.
struct PluginSettings {
    std::string text;  // the file's text
    std::string name, filename, start, frontpage, archiveExpression;
    LinkList urls;
    bool redirects = false;
    std::shared_ptr<const extract::Replacer> next, title, images, unsafe, frontpageMatch, skip;
};
// Parses a plugin text (keys of flags that are off are ignored). A bad
// expression logs the key's label and "Regex::construct with " + path + " failed"
// and raises; so does an identifier that unsafeIdentifier() refuses.
PluginSettings parsePlugin(const std::string& path, const std::string& text, PluginFlags flags);

// Reads a plugin file; one larger than maxMemberSize (storage.hpp) is refused
// before reading.
std::string readPluginFile(const std::string& path);

// Why an identifier cannot name a storage member: it holds "/", "\\", "..", or a
// control byte, or it is empty after trimming blanks. Empty when it is safe.
std::string unsafeIdentifier(const std::string& identifier);

}  // namespace comics
