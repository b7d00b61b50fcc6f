#include "comics/plugin_file.hpp"

#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "comics/storage.hpp"
#include "downloader/follow_link.hpp"
#include "tools/files.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

namespace comics {

using tools::lowered;
using tools::replaceAll;

namespace {

// Calls f(key, value) for every line holding "=" (one trailing CR dropped).
template <class F>
void forEachSetting(const std::string& text, F f) {
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + at, end - at);
        if (line.ends_with('\r')) line.remove_suffix(1);
        std::size_t eq = line.find('=');
        if (eq != std::string_view::npos) f(line.substr(0, eq), line.substr(eq + 1));
        at = end + 1;
    }
}

}  // namespace

PluginFlags scanFlags(const std::string& text) {
    PluginFlags flags;
    forEachSetting(text, [&](std::string_view key, std::string_view) {
        if (key == "frontpage" || key == "frontpage_match" || key == "fpmatch") flags.fp = true;
        if (key == "skip") flags.sk = true;
        if (key == "archive") flags.archive = true;
    });
    return flags;
}

PluginSettings parsePlugin(const std::string& path, const std::string& text, PluginFlags flags) {
    PluginSettings s;
    s.text = text;
    try {
        forEachSetting(text, [&](std::string_view rawKey, std::string_view rawValue) {
            const std::string key = lowered(std::string(rawKey));
            const std::string value(rawValue);
            auto build = [&](const char* label) {
                try {
                    return std::make_shared<const extract::Replacer>(value);
                } catch (...) {
                    tools::logln(label);
                    throw;
                }
            };
            if (key == "name") {
                s.name = value;
            } else if (key == "filename") {
                s.filename = value;
            } else if (key == "start") {
                s.start = value;
            } else if (key == "next") {
                s.next = build("next:");
            } else if (key == "title") {
                s.title = build("title:");
            } else if (key == "images") {
                s.images = build("images:");
            } else if (key == "unsafe") {
                s.unsafe = build("unsafe:");
            } else if (key == "redirs") {
                s.redirects = lowered(value) == "yes";
            } else if (key == "urls") {
                // Each address is resolved against the one before it on the line.
                std::string previous;
                std::size_t at = 0;
                while (at <= value.size()) {
                    std::size_t comma = value.find(',', at);
                    if (comma == std::string::npos) comma = value.size();
                    std::string item = value.substr(at, comma - at);
                    std::size_t eq = item.find('=');
                    std::string label = eq == std::string::npos ? item : item.substr(0, eq);
                    std::string address = eq == std::string::npos ? item : item.substr(eq + 1);
                    if (!previous.empty()) address = downloader::followLink(previous, address);
                    previous = address;
                    s.urls.emplace_back(std::move(label), std::move(address));
                    at = comma + 1;
                }
            } else if (flags.fp && key == "frontpage") {
                s.frontpage = value;
            } else if (flags.fp && (key == "frontpage_match" || key == "fpmatch")) {
                s.frontpageMatch = build("fpmatch:");
            } else if (flags.sk && key == "skip") {
                s.skip = build("skip:");
            } else if (flags.archive && key == "archive") {
                std::size_t comma = value.find(',');
                if (comma == std::string::npos)
                    throw std::runtime_error("No comma in archive value " + value);
                s.start = value.substr(0, comma);
                s.archiveExpression = value.substr(comma + 1);
            }
        });
    } catch (...) {
        tools::logln("Regex::construct with ", path, " failed");
        throw;
    }
    if (s.filename.empty()) {
        s.filename = path;
        replaceAll(s.filename, "plugins/", "");
        replaceAll(s.filename, ".re", "");
    }
    // The identifier names the comic's storage member.
    if (std::string why = unsafeIdentifier(s.filename); !why.empty()) {
        tools::logln("Regex::construct with ", path, " failed");
        throw std::runtime_error("Unsafe identifier \"" + s.filename + "\" in " + path + " (" +
                                 why + ")");
    }
    return s;
}

std::string readPluginFile(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (!error && size > maxMemberSize)
        throw std::runtime_error("Plugin file " + path + " is larger than " +
                                 std::to_string(maxMemberSize) + " bytes");
    return tools::readWholeFile(path);
}

std::string unsafeIdentifier(const std::string& identifier) {
    if (identifier.find_first_not_of(" \t\r\n\f\v") == std::string::npos) return "empty";
    if (identifier.find('/') != std::string::npos) return "holds \"/\"";
    if (identifier.find('\\') != std::string::npos) return "holds \"\\\"";
    if (identifier.find("..") != std::string::npos) return "holds \"..\"";
    for (unsigned char c : identifier)
        if (c < 0x20 || c == 0x7f) return "holds a control byte";
    return {};
}

}  // namespace comics
