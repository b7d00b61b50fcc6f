#include "reader/key_map.hpp"

namespace reader {

KeyAction keyAction(const gui::KeyPressed& key) {
    using gui::Key;
    switch (key.key) {
        case Key::letter:
            if (!key.alt) return KeyAction::typeLetter;
            return key.letter == 'c' ? KeyAction::toggleCentring : KeyAction::none;
        case Key::home:
            return KeyAction::firstPage;
        case Key::end:
            return KeyAction::lastPage;
        case Key::pageUp:
            return KeyAction::previousPage;
        case Key::pageDown:
            return KeyAction::nextPage;
        case Key::up:
            return KeyAction::scrollUp;
        case Key::down:
            return KeyAction::scrollDown;
        case Key::left:
            return KeyAction::leftOrPreviousPage;
        case Key::right:
            return KeyAction::rightOrNextPage;
        case Key::enter:
            return KeyAction::cycleMatches;
        case Key::f5:
            return KeyAction::updateAll;
        case Key::f7:
            return KeyAction::copyAddress;
        case Key::f11:
            return KeyAction::toggleFullScreen;
        case Key::keypadPlus:
            return KeyAction::nextComic;
        case Key::keypadMinus:
            return KeyAction::previousComic;
        case Key::backspace:
            return KeyAction::collapse;
        case Key::escape:
            return KeyAction::quit;
        case Key::other:
            break;
    }
    return KeyAction::none;
}

}  // namespace reader
