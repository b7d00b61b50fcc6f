#include "wendle/dialogue.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <istream>
#include <set>

#include "downloader/downloader.hpp"
#include "downloader/follow_link.hpp"
#include "extract/replacer.hpp"
#include "tools/files.hpp"
#include "tools/log.hpp"
#include "tools/text.hpp"

namespace wendle {

using tools::lowered;

namespace {

const std::string prevLabel = "([Pp][Rr][Ee][Vv]|[^Gg][Bb][Aa][Cc][Kk])";
const std::string nextLabel = "([Nn][Ee][Xx][Tt]|[Ff][Oo][Rr][Ww])";
const std::string allImages = "@(img|IMG)[^>]*(src|SRC)=[\"']([^\"']*)[\"']@$3";
const std::string firstLinks =
    "@(href|HREF)=['\"]([^'\"]*)['\"][^>]*>[^<]*<*[^>]*[Ff][Ii][Rr][Ss][Tt]@$2";
// Absolute links on a search result page: group 2 the link with its scheme.
const std::string resultLinks = "@(href|HREF)=[\"'](https?://[^\"'#]*)[^\"']*[\"']@$2";

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string withoutHttp(const std::string& address) {
    return startsWith(address, "http://") ? address.substr(7) : address;
}

std::vector<std::string> results(const std::string& expression, const std::string& page) {
    extract::Replacer extract(expression);
    return extract.apply(page);
}

// Results of an expression typed by the user; one that does not build finds nothing.
std::vector<std::string> resultsOrNone(const std::string& expression, const std::string& page) {
    try {
        return results(expression, page);
    } catch (const EndOfInput&) {
        throw;
    } catch (const std::exception&) {
        return {};
    }
}

std::string download(const std::string& address) { return downloader::download(address); }

// The image expression that picks src values holding `part` (a pattern piece);
// group 4 is the address.
std::string imagePathExpression(const std::string& part, const std::string& format) {
    return "@(img|IMG)[^>]*(src|SRC)=([\"'])([^\"']*" + part + "[^\"']*)[\"']" + format;
}

const std::string fourFields = std::string("@$1") + std::string(middleDot) + "$2" +
                               std::string(middleDot) + "$3" + std::string(middleDot) + "$4";

// Reads how the page writes the image tag holding `part` and builds the narrow
// expression from it.
std::string refineImageExpression(const std::string& part, const std::string& page) {
    std::vector<std::string> found = results(imagePathExpression(part, fourFields), page);
    if (found.empty()) throw std::runtime_error("The string you entered leaves no matches!");
    std::vector<std::string> fields = splitAtMiddleDot(found.front());
    if (fields.size() != 4) throw std::runtime_error("WTF!");
    const std::string& tag = fields[0];
    const std::string& attribute = fields[1];
    const std::string& quote = fields[2];
    tools::logln("tag is ", tag, ", attribute ", attribute, ", quote character ", quote);
    return "@" + tag + "[^>]*" + attribute + "=" + quote + "([^" + quote + "]*" + part + "[^" +
           quote + "]*)" + quote;
}

// Every expression is built once before the plugin is written: the reader
// refuses to start on a plugin whose expression does not compile.
void checkExpression(const std::string& key, const std::string& expression) {
    try {
        extract::Replacer probe(expression);
    } catch (const std::exception& e) {
        throw std::runtime_error("The " + key + " expression " + expression +
                                 " cannot be used: " + e.what());
    }
}

std::string hostOf(std::string_view address) {
    std::size_t scheme = address.find("://");
    if (scheme != std::string_view::npos) address.remove_prefix(scheme + 3);
    return lowered(std::string(address.substr(0, address.find('/'))));
}

}  // namespace

struct Dialogue::State {
    std::string name;
    std::string front;
    std::string prevURL, prevPage;
    LinkSelector* prevSelector = nullptr;
    std::string nextURL;
    LinkSelector* nextSelector = nullptr;
    std::unique_ptr<LinkSelector> typedNextSelector;  // made from a label the user typed
    std::string lastPage;
    bool frontpageComic = false;
    std::string fpMatch;
    std::string frontValue;
    std::string imgExpr;
    std::string chosen;
};

Dialogue::Dialogue(std::istream& answers, DialogueSettings settings)
    : answers_(answers), settings_(std::move(settings)) {
    auto& prev = selectors_["prev"];
    prev.push_back(std::make_unique<AdaptiveReverseSelector>(prevLabel));
    prev.push_back(std::make_unique<AdaptiveSelector>(prevLabel, ""));
    auto& next = selectors_["next"];
    next.push_back(std::make_unique<AdaptiveReverseSelector>(nextLabel));
    next.push_back(std::make_unique<AdaptiveSelector>(nextLabel, ""));
}

Dialogue::~Dialogue() = default;

std::vector<LinkSelector*> Dialogue::registry(const std::string& direction) const {
    std::vector<LinkSelector*> list;
    for (const auto& selector : selectors_.at(direction)) list.push_back(selector.get());
    return list;
}

// ---- console primitives ----

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

// ---- the run ----

std::string Dialogue::run() {
    std::string written;
    try {
        written = converse();
    } catch (const std::exception& e) {
        tools::logln("An error has occured: ", e.what());
    }
    try {
        ask("Please press return to continue.");
    } catch (const EndOfInput&) {
        // Nobody is left to press return.
    }
    return written;
}

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
    std::string page = download(settings_.searchEndpoint + "?q=" + searchQuery(name));
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

std::string Dialogue::converse() {
    State s;
    tools::logln("Welcome to the Automatic Plugin Generator for TOVIK2!");
    s.name = askName();

    std::vector<std::string> links = searchSite(s.name);
    s.front =
        withoutHttp(choose("Which of these is the frontpage/current page of the webcomic?", links,
                           [this] { return ask("Please input the correct frontpage"); }));

    // The previous link, confirmed by the user.
    auto verify = [this](const std::string& address) {
        tools::logln("Detected previous URL: ", address);
        return askYesNo("Is this correct?");
    };
    s.prevURL = findLink(s.front, registry("prev"), download(s.front), verify, s.prevSelector);
    if (!s.prevSelector)
        s.prevURL = withoutHttp(ask("Please provide the URL of the second-to-last page."));

    // The next link on the previous page: the newest regular page.
    s.prevPage = download(s.prevURL);
    s.nextURL = findLink(s.prevURL, registry("next"), s.prevPage, {}, s.nextSelector);
    if (!s.nextSelector) {
        tools::logln("Could not discover a way to get the Next link from ", s.prevURL,
                     ". Maybe if you help me .. ");
        std::string label = ask("What is the name of the 'Next' image?");
        // The typed name is matched literally and is the label's group.
        s.typedNextSelector =
            std::make_unique<AdaptiveSelector>("(" + escapePattern(label) + ")", "");
        LinkSelector* found = nullptr;
        // An empty label would match the first link of the page, whatever it is.
        if (!label.empty())
            s.nextURL = findLink(s.prevURL, {s.typedNextSelector.get()}, s.prevPage, {}, found);
        if (!found) {
            tools::logln("Could not use regex \"", s.typedNextSelector->expression(),
                         "\" to get the Next link.",
                         "\nPlease create the plugin manually or\nadd sufficient heuristics to "
                         "wendle.");
            return {};
        }
        tools::logln("Thanks, that did it!");
        s.nextSelector = found;
    }

    if (!s.prevSelector) {
        tools::logln(
            "Since the normal front-page detection failed, you have to help me with this.");
        if (askYesNo("Is this URL (" + s.nextURL + ") part of the normal sequence of pages?"))
            tools::logln("Good. Continuing.");
        else
            s.front = s.nextURL;
    }

    s.frontValue = s.nextURL;
    if (s.nextURL.find("index.html") != std::string::npos) {
        s.frontpageComic = true;
        s.fpMatch = "@index.html";
    } else {
        s.frontpageComic = s.nextURL == s.front;
    }

    if (s.frontpageComic) {
        tools::logln("This is a frontpage comic. Applying extra care.");
    } else {
        // Does the newest regular page link further?
        std::string further;
        bool hasFurther = false;
        try {
            further = s.nextSelector->adapt(download(s.nextURL));
            hasFurther = true;
        } catch (const std::exception& e) {
            tools::logln("Good. Cannot find next link on the apparent frontpage - ", e.what());
        }
        if (hasFurther) {
            tools::logln(
                "We found further next links after the first page.\nTermination of the database "
                "building process can not be guaranteed.\nTrying to handle this gracefully ..");
            tools::logln(
                "We shall first try to check if the next link found is the same as the "
                "frontpage.");
            std::string resolved = downloader::followLink(s.nextURL, further);
            if (resolved == s.nextURL) {
                tools::logln("Yes it is. TOVIK can handle this case by itself. Continuing.");
            } else {
                tools::logln("No it's not. Damnit.");
                if (!askYesNo("Does this URL look unique: " + resolved)) {
                    tools::logln("Cannot handle this case. Aborting.");
                    return {};
                }
                s.frontpageComic = true;
                tools::logln("Setting up empty frontpage with valid match");
                s.frontValue.clear();
                s.fpMatch = "@" + escapePattern(further) + "$";
            }
        }
    }

    findImages(s);

    std::string title = titleExpression(s);
    std::string next = s.nextSelector->expression();
    std::string first = firstAddress(s);
    std::string text = "name=" + s.name + "\nstart=" + first + "\nnext=" + next +
                       "\ntitle=" + title + "\nimages=" + s.imgExpr + "\n";
    checkExpression("next", next);
    checkExpression("title", title);
    checkExpression("images", s.imgExpr);

    if (s.frontpageComic) {
        if (s.fpMatch.empty()) s.fpMatch = "@^" + escapePattern(s.nextURL) + "(index.html)?$";
        checkExpression("frontpage_match", s.fpMatch);
        text += "frontpage_match=" + s.fpMatch + "\n";
        if (!s.frontValue.empty()) text += "frontpage=" + s.frontValue + "\n";
    }

    std::filesystem::create_directories(settings_.pluginDirectory);
    std::string path = settings_.pluginDirectory + "/" + pluginBaseName(s.name) + ".re";
    tools::writeFileAtomically(path, text);
    tools::logln("Written to ", path, ". Exiting.");
    return path;
}

void Dialogue::findImages(State& s) {
    s.lastPage = download(s.nextURL);
    s.imgExpr = allImages;
    std::vector<std::string> images = results(s.imgExpr, s.lastPage);
    std::vector<std::string> distinct = unique(images);
    if (!images.empty()) {
        s.chosen =
            choose("Which of these is the correct image?", distinct, [] { return std::string(); });
        if (s.chosen.empty()) images.clear();
    }
    while (images.empty()) {
        tools::logln("Cannot find comic image. Please enter a regular expression manually.");
        s.imgExpr = ask("");
        images = resultsOrNone(s.imgExpr, s.lastPage);
    }
    s.chosen = withoutHttp(s.chosen);

    if (!s.chosen.empty() && distinct.size() > 1) isolateImage(s);
    if (s.imgExpr.empty()) askImageFragment(s);
}

void Dialogue::isolateImage(State& s) {
    const std::string& chosen = s.chosen;
    if (std::count(chosen.begin(), chosen.end(), '/') < 2) {
        tools::logln("Cannot isolate image");
        s.imgExpr.clear();
        return;
    }
    std::size_t firstSlash = chosen.find('/');
    std::string path = chosen.substr(firstSlash, chosen.find('/', firstSlash + 1) - firstSlash + 1);
    tools::logln("Attempting path selection with ", path, " .. ");
    std::vector<std::string> found =
        results(imagePathExpression(escapePattern(path), "@$4"), s.lastPage);
    if (found.size() != 1) {
        path = chosen.substr(firstSlash, chosen.rfind('/') - firstSlash + 1);
        found = results(imagePathExpression(escapePattern(path), "@$4"), s.lastPage);
        tools::logln("First try failed. Retrying with broader path: ", path);
        if (found.size() != 1) {
            tools::logln("Cannot isolate image: results are ", found);
            s.imgExpr.clear();
            return;
        }
    }
    tools::logln("Success! Adapting ...");
    s.imgExpr = refineImageExpression(escapePattern(path), s.lastPage);
}

void Dialogue::askImageFragment(State& s) {
    std::string fragment =
        ask("Please enter the correct RegEx fragment (just for matching a unique part): ");
    if (fragment.empty()) {
        s.imgExpr = askExpression("Please enter the full RegEx");
        return;
    }
    tools::logln("Thanks. Adapting...");
    s.imgExpr = refineImageExpression(fragment, s.lastPage);
}

std::string Dialogue::titleExpression(const State& s) {
    const std::string& page = s.lastPage;
    if (page.find("You are here -- [") != std::string::npos) {
        tools::logln("Title found");
        return "@You are here -- \\[([^\\]]*)\\]";
    }
    if (page.find("Permanent Link to ") != std::string::npos ||
        page.find("Permanent Link: ") != std::string::npos) {
        tools::logln("Title found");
        return "@Permanent Link( to |: )([^\"]*)\"@$2";
    }
    if (page.find(s.name + " - ") != std::string::npos) {
        std::string candidate = "@" + escapePattern(s.name) + " - ([^<]*)<";
        if (results(candidate, s.prevPage) != results(candidate, page)) {
            tools::logln("Title found");
            return candidate;
        }
    }
    return askExpression("Please provide a regular expression to determine the page title");
}

std::string Dialogue::firstAddress(const State& s) {
    try {
        std::vector<std::string> found = unique(results(firstLinks, s.lastPage));
        if (found.size() == 1) {
            std::string first = downloader::followLink(s.nextURL, found.front());
            tools::logln("First URL found at ", first);
            return first;
        }
    } catch (const std::exception&) {
        tools::logln("Could not find first URL by myself.");
    }
    return withoutHttp(ask("Please enter the first URL of the webcomic."));
}

// ---- helpers ----

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
    std::string engine = hostOf(endpoint);
    std::string domain = startsWith(engine, "www.") ? engine.substr(4) : engine;
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
