#pragma once
// The per-user comic library used when the programs are started from the
// desktop rather than from a terminal: $XDG_DATA_HOME/tovik, by default
// ~/.local/share/tovik. Started from a terminal they work in the current
// directory instead.
// Thread safety: enterUserLibrary changes the process's working directory; call
// it on the main thread before any other thread starts.
#include <filesystem>
#include <string>
#include <vector>

namespace tools {

// The library's directory (not created). Raises an error when neither
// XDG_DATA_HOME nor HOME names an absolute directory.
std::filesystem::path userLibraryDir();

// Where the system keeps the Bitstream Vera font, in the order looked at.
const std::vector<std::string>& systemFontCandidates();

// Sets the library up where something is missing: the directory, "plugins/",
// a first "tovik.ini", and "vera.ttf" as a link to the system's font (never a
// copy; a link whose target went away is made again). What exists is left as
// it is. Raises an error when the directory cannot be made.
void setUpLibrary(const std::filesystem::path& dir,
                  const std::vector<std::string>& fonts = systemFontCandidates());

// setUpLibrary on userLibraryDir(), then makes it the working directory.
void enterUserLibrary();

}  // namespace tools
