#pragma once
// reader.key_map: what the keys do in the reader window.
//
// keyAction names the action of a key press; the window performs it
// (user_interface::keyHandler). Letters without Alt type into the search,
// Alt+C switches centring; Left and Right scroll a strip wider than the view
// and page otherwise.
//
// Threads: a pure function, safe from any thread.
#include "gui/base.hpp"

namespace reader {

enum class KeyAction {
    none,
    typeLetter,          // the key's letter goes to the search
    firstPage,           // Home
    lastPage,            // End
    previousPage,        // Page Up
    nextPage,            // Page Down
    scrollUp,            // Up
    scrollDown,          // Down
    leftOrPreviousPage,  // Left
    rightOrNextPage,     // Right
    cycleMatches,        // Return
    updateAll,           // F5
    copyAddress,         // F7: the strip's address to the clipboard
    toggleFullScreen,    // F11
    toggleCentring,      // Alt+C
    nextComic,           // keypad +
    previousComic,       // keypad -
    collapse,            // Backspace: fold the current comic's pages
    quit,                // Escape
};

KeyAction keyAction(const gui::KeyPressed& key);

}  // namespace reader
