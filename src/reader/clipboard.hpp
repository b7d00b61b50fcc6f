#pragma once
// The desktop clipboard: copyToClipboard hands a text to the clipboard of the
// running desktop session. Linux has no clipboard service of its own, so the
// text goes to a helper program, started directly with an argument vector
// (never through a shell) and given the text on its standard input:
// "wl-copy" under Wayland (WAYLAND_DISPLAY set), else "xclip -selection
// clipboard" or "xsel --clipboard --input" under X (DISPLAY set).
//
// Failures never reach the caller; they are logged:
// no display or no helper program -> "Can't open the clipboard, returning";
// the pipe to the helper cannot be made -> "Can't allocate global memory, returning";
// the helper fails or does not finish in time -> "Closing the clipboard failed. Whut.".
//
// Threads: any thread; the call waits (a bounded time) for the helper to end.
#include <string>
#include <vector>

namespace reader {

void copyToClipboard(const std::string& text);

// The helper's argument vector for the current environment, or empty when
// there is no display or no helper program (exposed for tests).
std::vector<std::string> clipboardCommand();

}  // namespace reader
