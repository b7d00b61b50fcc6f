#include "downloader/follow_link.hpp"

#include <stdexcept>
#include <vector>

#include "tools/log.hpp"
#include "tools/text.hpp"

namespace downloader {

using tools::replaceAll;

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        std::size_t found = text.find(separator, at);
        if (found == std::string::npos) {
            parts.push_back(text.substr(at));
            return parts;
        }
        parts.push_back(text.substr(at, found - at));
        at = found + 1;
    }
}

// Sets aside an annotation ("POST=..." or "REFER=...") up to and including its space.
std::string takeAnnotation(std::string& link, const std::string& marker) {
    if (!startsWith(link, marker)) return {};
    std::size_t space = link.find(' ');
    if (space == std::string::npos) return {};
    std::string part = link.substr(0, space + 1);
    link.erase(0, space + 1);
    return part;
}

// Trailing spaces go, "&amp;" becomes "&" and spaces become "%20" in the bare link;
// the annotations in front are kept as they are.
std::string normalise(std::string link) {
    while (!link.empty() && link.back() == ' ') link.pop_back();
    std::string post = takeAnnotation(link, "POST=");
    std::string refer = takeAnnotation(link, "REFER=");
    bool fallback = false;
    if (startsWith(link, "1.0")) {
        std::size_t space = link.find(' ');
        if (space != std::string::npos) {
            link.erase(0, space + 1);
            fallback = true;
        }
    }
    replaceAll(link, "&amp;", "&");
    replaceAll(link, " ", "%20");
    return post + refer + (fallback ? "1.0 " : "") + link;
}

[[noreturn]] void lackingSlashes(const std::string& oldAddress) {
    throw std::runtime_error("Old address |" + oldAddress + "| is desperately lacking in slashes!");
}

// Whether the first part of a scheme-less link names a host ("cdn.host"): it has a dot
// and the text after its last dot is not empty and has no "%".
bool looksLikeHost(const std::string& part) {
    if (part.find('.') == std::string::npos) return false;
    std::string tail = part.substr(part.rfind('.') + 1);
    return !tail.empty() && tail.find('%') == std::string::npos;
}

}  // namespace

std::string followLink(const std::string& givenOldAddress, const std::string& givenLink) {
    std::string link = normalise(givenLink);
    std::string oldAddress = givenOldAddress;
    // Links on a TLS page lead to TLS addresses; plain addresses never get a scheme.
    std::string scheme;
    if (oldAddress.size() > 7 && startsWith(oldAddress, "http://")) {
        oldAddress.erase(0, 7);
    } else if (oldAddress.size() > 8 && startsWith(oldAddress, "https://")) {
        oldAddress.erase(0, 8);
        scheme = "https://";
    }
    // A bare host is its root page; without this a relative link would start with "/".
    if (!oldAddress.empty() && oldAddress.find('/') == std::string::npos) oldAddress += '/';

    std::string prefix;
    std::size_t lastSpace = link.rfind(' ');
    if (lastSpace != std::string::npos) {
        prefix = link.substr(0, lastSpace + 1);
        link.erase(0, lastSpace + 1);
    }

    if (link.size() > 7 && startsWith(link, "http://")) return prefix + link.substr(7);
    if (link.size() > 8 && startsWith(link, "https://")) return prefix + link;
    if (link.empty()) throw std::runtime_error("Empty newAddr found! Aborting followLink.");
    // A scheme-relative link ("//cdn.host/x") names a host, reached with the page's scheme.
    if (link.size() > 2 && startsWith(link, "//")) return prefix + scheme + link.substr(2);
    if (link[0] == '/') {
        if (oldAddress.empty()) lackingSlashes(oldAddress);
        return prefix + scheme + oldAddress.substr(0, oldAddress.find('/')) + link;
    }
    if (link[0] == '?') {
        if (oldAddress.empty()) lackingSlashes(oldAddress);
        return prefix + scheme + oldAddress.substr(0, oldAddress.find('?')) + link;
    }

    while (link.size() > 3 && startsWith(link, "../")) {
        if (split(oldAddress, '/').size() <= 2) {
            tools::logln("Link error - cannot find parent directory of |", oldAddress,
                         "|. Ignoring ..");
        } else {
            oldAddress.erase(oldAddress.rfind('/'));
            oldAddress.erase(oldAddress.rfind('/') + 1);
        }
        link.erase(0, 3);
    }
    while (link.size() > 2 && startsWith(link, "./")) link.erase(0, 2);

    if (link.find('/') != std::string::npos && looksLikeHost(link.substr(0, link.find('/'))))
        return prefix + scheme + link;
    if (oldAddress.empty()) lackingSlashes(oldAddress);
    return prefix + scheme + oldAddress.substr(0, oldAddress.rfind('/')) + "/" + link;
}

}  // namespace downloader
