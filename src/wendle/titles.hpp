#pragma once
// Finding the strip title on a comic's pages: og:title, the <title> split at
// " – ", " — ", " - ", " | " or " :: " (as characters or entities) with the
// constant part, usually the comic's name, on either side, a heading whose
// class names a title, and the long-standing markers ("You are here -- [",
// "Permanent Link", the name followed by " - "). A candidate counts only when
// it finds a title on every sample page and the titles differ. Pure functions.
// Thread safety: pure functions, callable from any thread.
#include <string>
#include <vector>

#include "wendle/strip_images.hpp"

namespace wendle {

// The first title expression that works on the samples (pages of strips, the
// newest first), or "" when none does.
std::string findTitleExpression(const std::string& comicName,
                                const std::vector<SamplePage>& samples);

// The first result of an expression on a page ("" when none).
std::string firstResult(const std::string& expression, const std::string& page);

}  // namespace wendle
