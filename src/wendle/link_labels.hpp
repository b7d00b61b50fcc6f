#pragma once
// What the labels of a link say about where it leads: words (next, previous,
// first, latest ...), arrow symbols written alone (› » ‹ « → ...), and the words
// of class names and image file names. Pure functions, usable from any thread.
#include <string>
#include <string_view>

namespace wendle {

enum class Role { next, prev, first, last };
inline constexpr int roles = 4;

// How strongly labels say a link leads in each direction (index: Role), 0 for
// not at all, up to 10 for rel="next" and the like.
struct LinkReading {
    int strength[4] = {0, 0, 0, 0};
    int of(Role role) const { return strength[static_cast<int>(role)]; }
};

namespace strength {
// A rel token on <a> and on <link>, and the base strengths of the other signals.
constexpr int relOnA = 10, relOnLink = 8, textBase = 9, altBase = 9, titleBase = 8, classBase = 7,
              fileBase = 7;
// A direction word among other words ("next week"): too weak to be taken.
constexpr int unrelated = 2;
}  // namespace strength

// Reads a label (entities decoded) found with the base strength: a direction
// word with nothing but neutral words ("comic", "page", arrows) has the base
// strength; with other words only `unrelated`; symbols alone read by a table.
LinkReading readLabel(std::string_view label, int base);
// Reads one rel token.
LinkReading readToken(std::string_view token, int base);
// The first direction word of a label, lowered ("" when none).
std::string roleWordIn(std::string_view label);

}  // namespace wendle
