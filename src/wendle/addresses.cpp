#include "wendle/addresses.hpp"

#include <cctype>

#include "tools/text.hpp"
#include "wendle/selectors.hpp"

namespace wendle {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           startsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

struct Parts {
    std::string host;   // lowered, no "www.", no default port
    std::string path;   // no trailing "/", no index file
    std::string query;  // with its "?", or empty
};

Parts split(std::string_view address) {
    if (startsWithNoCase(address, "http://"))
        address.remove_prefix(7);
    else if (startsWithNoCase(address, "https://"))
        address.remove_prefix(8);
    else if (address.starts_with("//"))
        address.remove_prefix(2);
    address = address.substr(0, address.find('#'));
    std::size_t hostEnd = address.find_first_of("/?");
    Parts parts;
    parts.host = tools::lowered(std::string(address.substr(0, hostEnd)));
    if (parts.host.starts_with("www.")) parts.host.erase(0, 4);
    for (std::string_view port : {":80", ":443"})
        if (parts.host.ends_with(port)) parts.host.resize(parts.host.size() - port.size());
    std::string_view rest = hostEnd == std::string_view::npos ? "" : address.substr(hostEnd);
    std::size_t question = rest.find('?');
    std::string_view path = rest.substr(0, question);
    if (question != std::string_view::npos && question + 1 < rest.size())
        parts.query = std::string(rest.substr(question));
    for (std::string_view index : {"/index.html", "/index.htm", "/index.php"})
        if (endsWithNoCase(path, index)) {
            path.remove_suffix(index.size() - 1);
            break;
        }
    while (path.ends_with('/')) path.remove_suffix(1);
    parts.path = std::string(path);
    return parts;
}

}  // namespace

std::string normalisedAddress(std::string_view address) {
    Parts parts = split(address);
    return parts.host + parts.path + parts.query;
}

bool sameAddress(std::string_view a, std::string_view b) {
    return normalisedAddress(a) == normalisedAddress(b);
}

std::string frontPageMatch(std::string_view address) {
    Parts parts = split(address);
    std::string expression = "@^(?:[Hh][Tt][Tt][Pp][Ss]?://)?(?:[Ww][Ww][Ww]\\.)?";
    expression += escapePattern(parts.host);
    if (parts.host.find(':') == std::string::npos) expression += "(?::80|:443)?";
    expression += escapePattern(parts.path);
    expression += "(?:/(?:index\\.(?:html?|php))?)?";
    expression += escapePattern(parts.query);
    return expression + "(?:#.*)?$";
}

std::string hostOf(std::string_view address) { return split(address).host; }

std::string addressShape(std::string_view address) {
    std::string shape;
    for (char c : normalisedAddress(address)) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            if (shape.empty() || shape.back() != '#') shape.push_back('#');
        } else {
            shape.push_back(c);
        }
    }
    return shape;
}

std::vector<unsigned long long> addressNumbers(std::string_view address) {
    std::vector<unsigned long long> numbers;
    std::string normal = normalisedAddress(address);
    std::string_view rest(normal);
    rest.remove_prefix(std::min(rest.size(), rest.find_first_of("/?")));  // not the host's port
    for (std::size_t at = 0; at < rest.size();) {
        if (!std::isdigit(static_cast<unsigned char>(rest[at]))) {
            ++at;
            continue;
        }
        unsigned long long value = 0;
        int digits = 0;
        for (; at < rest.size() && std::isdigit(static_cast<unsigned char>(rest[at])); ++at)
            if (++digits <= 18)
                value = value * 10 + static_cast<unsigned long long>(rest[at] - '0');
        numbers.push_back(digits > 18 ? ~0ULL : value);
    }
    return numbers;
}

std::string withoutHttp(const std::string& address) {
    return address.starts_with("http://") ? address.substr(7) : address;
}

}  // namespace wendle
