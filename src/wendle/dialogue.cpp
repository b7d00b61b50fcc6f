#include "wendle/dialogue.hpp"

#include <algorithm>
#include <filesystem>

#include "extract/replacer.hpp"
#include "tools/files.hpp"
#include "tools/log.hpp"
#include "wendle/addresses.hpp"
#include "wendle/dialogue_state.hpp"
#include "wendle/site_check.hpp"
#include "wendle/strip_images.hpp"
#include "wendle/titles.hpp"

namespace wendle {

namespace {

const std::string fourFields = std::string("@$1") + std::string(middleDot) + "$2" +
                               std::string(middleDot) + "$3" + std::string(middleDot) + "$4";

// Reads how the page writes the image tag holding `part` (a pattern piece) and
// builds the narrow expression from it.
std::string refineImageExpression(const std::string& part, const std::string& page) {
    extract::Replacer probe("@(img|IMG)[^>]*(src|SRC)=([\"'])([^\"']*" + part + "[^\"']*)[\"']" +
                            fourFields);
    std::vector<std::string> found = probe.apply(page);
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

}  // namespace

Dialogue::Dialogue(std::istream& answers, DialogueSettings settings)
    : answers_(answers), settings_(std::move(settings)) {}

Dialogue::~Dialogue() = default;

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

// ---- the dialogue ----

std::string Dialogue::converse() {
    State s;
    tools::logln("Welcome to the Automatic Plugin Generator for TOVIK2!");
    s.name = askName();

    std::vector<std::string> links = searchSite(s.name);
    std::string chosen =
        choose("Which of these is the frontpage/current page of the webcomic?", links,
               [this] { return ask("Please input the correct frontpage"); });
    s.front = settled(s, chosen);
    // Nothing can be found out, nor proven, about a site that does not answer.
    if (s.page(s.front).empty())
        throw std::runtime_error("The page " + s.front + " could not be fetched");

    findPrevious(s);
    findFirst(s);
    findImages(s);
    if (!findNext(s)) return {};
    if (!reportEnding(s)) return {};

    s.draft.name = s.name;
    s.draft.title = titleExpression(s);
    checkExpression("next", s.draft.next);
    checkExpression("title", s.draft.title);
    checkExpression("images", s.draft.images);
    if (!s.draft.frontpageMatch.empty()) checkExpression("frontpage_match", s.draft.frontpageMatch);

    std::filesystem::create_directories(settings_.pluginDirectory);
    std::string path = settings_.pluginDirectory + "/" + pluginBaseName(s.name) + ".re";
    tools::writeFileAtomically(path, s.draft.text());
    tools::logln("Written to ", path, ". Exiting.");
    return path;
}

// A typed or chosen address in the form the site answers at in the end.
std::string Dialogue::settled(State& s, const std::string& typed) {
    std::string given = withoutHttp(typed);
    std::string final = s.site.settle(given);
    if (final.empty()) {
        tools::logln("Nothing answers at ", given, ".");
        return given;
    }
    if (final != given) tools::logln("The address ", given, " leads to ", final, "; using that.");
    return final;
}

void Dialogue::findImages(State& s) {
    std::vector<SamplePage> samples;
    for (const std::string* address : {&s.front, &s.prevURL, &s.first})
        if (!s.page(*address).empty() &&
            std::none_of(samples.begin(), samples.end(),
                         [&](const SamplePage& p) { return sameAddress(p.address, *address); }))
            samples.push_back({*address, s.page(*address)});

    StripLearning learnt = learnStrips(samples);
    if (learnt.expression.empty() && !learnt.choices.empty()) {
        std::string chosen = choose("Which of these is the correct image?", learnt.choices,
                                    [] { return std::string(); });
        if (!chosen.empty()) {
            learnt = learnStrips(samples, chosen);
            if (learnt.expression.empty()) {
                tools::logln("Cannot isolate image");
                askImageFragment(s);
            }
        }
    }
    if (!learnt.expression.empty()) {
        s.images = learnt.expression;
        tools::logln("Strip images found",
                     learnt.shared.empty() ? std::string() : " under " + learnt.shared, ": ",
                     learnt.strips.front());
    }
    while (s.images.empty()) {
        tools::logln("Cannot find comic image. Please enter a regular expression manually.");
        std::string expression = ask("");
        if (!stripsOn(expression, samples.front()).empty()) s.images = expression;
    }
    std::vector<std::string> newest = stripsOn(s.images, samples.front());
    if (!newest.empty()) s.newestStrip = newest.front();
}

void Dialogue::askImageFragment(State& s) {
    std::string fragment =
        ask("Please enter the correct RegEx fragment (just for matching a unique part): ");
    if (fragment.empty()) {
        s.images = askExpression("Please enter the full RegEx");
        return;
    }
    tools::logln("Thanks. Adapting...");
    s.images = refineImageExpression(fragment, s.page(s.front));
}

std::string Dialogue::titleExpression(State& s) {
    std::vector<SamplePage> samples;
    const std::string* newest = s.ending == State::Ending::front ? &s.front : &s.nextURL;
    for (const std::string* address :
         std::initializer_list<const std::string*>{newest, &s.prevURL, &s.first})
        if (std::none_of(samples.begin(), samples.end(),
                         [&](const SamplePage& p) { return sameAddress(p.address, *address); }))
            samples.push_back({*address, s.page(*address)});
    std::string found = findTitleExpression(s.name, samples);
    if (!found.empty()) {
        tools::logln("Title found");
        return found;
    }
    return askExpression("Please provide a regular expression to determine the page title");
}

}  // namespace wendle
