#pragma once
// What one run of the generator's dialogue has found so far (the dialogue's own
// header, not part of the module's interface). One thread.
#include <string>
#include <vector>

#include "wendle/dialogue.hpp"
#include "wendle/site_check.hpp"

namespace wendle {

struct Dialogue::State {
    enum class Ending {
        none,        // the newest page has no next link
        front,       // the newest strip lives on the front page only
        loop,        // the newest page's next link leads to itself
        linksFront,  // ... to the front page
        further,     // ... somewhere else
        accepted,    // the user took a plugin that failed the checks
    };
    std::string name;
    SitePages site;
    std::string front;  // the front page, in its final form
    std::string prevURL;
    std::string first;
    std::vector<std::string> backLinks;  // expressions for the previous link
    std::string images;
    std::string newestStrip;
    PluginDraft draft;  // the plugin that passed (or was accepted)
    Ending ending = Ending::none;
    std::string nextURL;  // the newest regular page
    std::string further;  // where the newest page's next link leads (Ending::further)
    std::vector<std::string> failures;

    // A page of the site, fetched once.
    const std::string& page(const std::string& address) { return site.page(address); }
};

}  // namespace wendle
