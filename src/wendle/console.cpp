// The dialogue's console primitives, and the helpers for plugin names and the
// web search.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <istream>
#include <set>

#include "downloader/downloader.hpp"
#include "downloader/follow_link.hpp"
#include "extract/replacer.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"
#include "wendle/addresses.hpp"
#include "wendle/dialogue.hpp"

namespace wendle {

using tools::lowered;

namespace {

// Absolute links on a search result page: group 2 the link with its scheme.
const std::string resultLinks = "@(href|HREF)=[\"'](https?://[^\"'#]*)[^\"']*[\"']@$2";

std::vector<std::string> results(const std::string& expression, const std::string& page) {
    extract::Replacer extract(expression);
    return extract.apply(page);
}

}  // namespace

std::string Dialogue::askName() {
    for (;;) {
        std::string name = ask("Please enter the webcomic's name");
        if (!pluginBaseName(name).empty()) return name;
        tools::logln("The name \"", name,
                     "\" cannot name a plugin file: it needs at least one letter or digit.");
    }
}

std::vector<std::string> Dialogue::searchSite(const std::string& name) {
    tools::logln("Google searching for ", name);
    std::string page = downloader::download(settings_.searchEndpoint + "?q=" + searchQuery(name));
    return searchResultLinks(page, settings_.searchEndpoint);
}

std::string Dialogue::askExpression(const std::string& prompt) {
    for (;;) {
        std::string expression = ask(prompt);
        try {
            extract::Replacer probe(expression);
            return expression;
        } catch (const std::exception& e) {
            tools::logln("This expression cannot be used (", e.what(), "). Please retry.");
        }
    }
}

std::string Dialogue::ask(const std::string& prompt) {
    if (!prompt.empty()) tools::logln(prompt);
    tools::logPrompt("> ");
    std::string line;
    if (!std::getline(answers_, line)) {
        tools::logPrompt("\n");  // end the prompt line that no answer ended
        throw EndOfInput();
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool Dialogue::askYesNo(const std::string& prompt) {
    for (;;) {
        std::string answer = lowered(ask(prompt.empty() ? prompt : prompt + " [y/n]"));
        if (answer == "y") return true;
        if (answer == "n") return false;
        tools::logln("Unrecognized input. Please retry.");
    }
}

long Dialogue::askNumber(const std::string& prompt) {
    std::string answer = ask(prompt.empty() ? prompt : prompt + " [number]");
    std::size_t begin = answer.find_first_not_of(" \t");
    std::size_t end = answer.find_last_not_of(" \t");
    std::string digits = begin == std::string::npos ? "" : answer.substr(begin, end - begin + 1);
    const char* text = digits.c_str();
    char* stop = nullptr;
    errno = 0;
    long value = std::strtol(text, &stop, 10);
    bool signOnly = digits == "+" || digits == "-";
    if (digits.empty() || signOnly || *stop != '\0' || errno == ERANGE ||
        !std::isdigit(static_cast<unsigned char>(digits.back())))
        throw std::runtime_error("Not a number: \"" + answer + "\"");
    return value;
}

std::string Dialogue::choose(const std::string& prompt, const std::vector<std::string>& items,
                             const std::function<std::string()>& other) {
    tools::logln(prompt);
    if (other) tools::logln("0) other");
    for (std::size_t i = 0; i < items.size(); ++i) tools::logln(i + 1, ") ", items[i]);
    for (;;) {
        long index = askNumber("");
        if (index == 0 && other) return other();
        if (index >= 1 && static_cast<unsigned long>(index) <= items.size())
            return items[static_cast<std::size_t>(index - 1)];
        tools::logln("Invalid index! Please retry.");
    }
}

std::string Dialogue::findLink(const std::string& base, const std::vector<LinkSelector*>& selectors,
                               const std::string& page,
                               const std::function<bool(const std::string&)>& verify,
                               LinkSelector*& found) {
    found = nullptr;
    std::string address;
    for (LinkSelector* selector : selectors) {
        try {
            address = selector->adapt(page);
            address = downloader::followLink(base, address);
            if (!verify || verify(address)) {
                found = selector;
                return address;
            }
        } catch (const EndOfInput&) {
            throw;
        } catch (const std::exception& e) {
            tools::logln("Failed! ", e.what(), ". Trying to continue ... ");
        }
    }
    return address;
}

std::vector<std::string> unique(const std::vector<std::string>& list) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const std::string& entry : list)
        if (seen.insert(entry).second) out.push_back(entry);
    return out;
}

std::string pluginBaseName(const std::string& name) {
    std::string base = tools::replacedAll(lowered(name), "..", "_");
    bool usable = false;
    for (char& c : base) {
        auto byte = static_cast<unsigned char>(c);
        if (c == ' ' || c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) c = '_';
        if (std::isalnum(byte) || byte >= 0x80) usable = true;
    }
    return usable ? base : std::string();
}

std::string searchQuery(const std::string& name) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string query = "%22";
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~') {
            query.push_back(c);
        } else {
            query.push_back('%');
            query.push_back(hex[byte >> 4]);
            query.push_back(hex[byte & 15]);
        }
    }
    return query + "%22+%28comic%7Cwebcomic%29";
}

std::vector<std::string> searchResultLinks(const std::string& resultPage,
                                           const std::string& endpoint) {
    std::string domain = hostOf(endpoint);
    std::vector<std::string> links;
    for (std::string link : results(resultLinks, resultPage)) {
        std::string host = hostOf(link);
        if (host.empty() || host == domain ||
            (host.size() > domain.size() &&
             host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
             host[host.size() - domain.size() - 1] == '.'))
            continue;
        links.push_back(withoutHttp(tools::replacedAll(link, "&amp;", "&")));
    }
    return unique(links);
}

}  // namespace wendle
