#pragma once
// Learning the strip image expression from several pages of a comic: the image
// that changes from page to page is the strip, and the expression is built from
// the part of the address its strips share on every page (such as
// "/wp-content/uploads/" or an image host with its folder), never one month's
// folder; where that does not set it apart, from the names of the image or of
// the element around it. Pure functions, usable from any thread.
#include <string>
#include <vector>

namespace wendle {

// One page of the comic as the generator has it.
struct SamplePage {
    std::string address;
    std::string text;
};

struct StripLearning {
    std::string expression;           // the images expression; "" when none was found
    std::vector<std::string> strips;  // the strip on each sample, resolved
    std::string shared;               // the part of the address the strips share, or ""
    // When no expression was found or several images could be the strip: the
    // images of the newest page to choose from, as written there, each once.
    std::vector<std::string> choices;
};

// samples[0] is the newest strip's page, the others older pages of the comic.
// With `chosen` (an image address as written on samples[0]) only that image is
// taken for the strip.
StripLearning learnStrips(const std::vector<SamplePage>& samples, const std::string& chosen = "");

// The addresses an images expression finds on a page, resolved, each once.
std::vector<std::string> stripsOn(const std::string& expression, const SamplePage& page);

}  // namespace wendle
