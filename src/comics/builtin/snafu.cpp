#include "comics/builtin/snafu.hpp"

#include <stdexcept>

namespace comics {
namespace {
const std::string nextLabel = "NEXT COMIC</a>";

// The downloaded text behind the page's address.
std::size_t textStart(const std::string& page) {
    std::size_t at = page.find('<');
    return at == std::string::npos ? page.size() : at;
}
}  // namespace

std::string snafuRoot(const std::string& code) {
    return "http://" + code + "." + snafuDomain + "/";
}

SnafuPortal::SnafuPortal(FileStorage& storage, std::string code, std::string displayName,
                         std::string root)
    : NextLinkCrawler(storage),
      code_(std::move(code)),
      name_(std::move(displayName)),
      root_(std::move(root)) {}

bool SnafuPortal::hasNext(const std::string& page) {
    return page.find(nextLabel) != std::string::npos;
}

std::string SnafuPortal::title(const std::string& page) {
    return between(page, "FFFFFF\"><b>", "<");
}

std::vector<std::string> SnafuPortal::images(const std::string& page) {
    std::size_t at = page.find("comics/", textStart(page));
    if (at == std::string::npos) return {};
    std::size_t end = page.find('"', at);
    if (end == std::string::npos) return {};
    return {root_ + page.substr(at, end - at)};
}

std::string SnafuPortal::next(const std::string& page) {
    std::size_t label = page.find(nextLabel);
    if (label == std::string::npos) throw std::runtime_error("No next link found");
    std::size_t link = page.rfind("<a", label);
    if (link == std::string::npos) throw std::runtime_error("No next link found");
    std::size_t from = page.find("href=\"?", link);
    if (from == std::string::npos || from > label) throw std::runtime_error("No next link found");
    from += 7;
    std::size_t to = page.find('"', from);
    if (to == std::string::npos) throw std::runtime_error("No next link found");
    return root_ + "?" + page.substr(from, to - from);
}

}  // namespace comics
