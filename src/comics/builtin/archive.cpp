#include "comics/builtin/archive.hpp"

#include "downloader/downloader.hpp"

namespace comics::builtin {

std::string downloadArchivePart(const std::string& url) { return downloader::download(url); }

std::vector<std::string> hrefs(const std::string& text) {
    return allBetween(text, "href=\"", "\"");
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    std::size_t from = text.find_first_not_of(blanks);
    if (from == std::string::npos) return {};
    std::size_t to = text.find_last_not_of(blanks);
    return text.substr(from, to - from + 1);
}

std::string onSite(const std::string& root, const std::string& address) {
    if (address.rfind("http://", 0) == 0 || address.rfind("https://", 0) == 0) return address;
    // "//cdn/x.png" names another host, reached with the root's scheme.
    if (address.rfind("//", 0) == 0) {
        std::size_t schemeEnd = root.find("://");
        return (schemeEnd == std::string::npos ? "http:" : root.substr(0, schemeEnd + 1)) + address;
    }
    if (!address.empty() && address.front() == '/') return root + address;
    return root + "/" + address;
}

}  // namespace comics::builtin
