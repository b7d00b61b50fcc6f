#pragma once
// Start-up loading of the regex plugins of a directory.
//
// Thread safety: runs at start-up on one thread; the list it appends to is locked.
#include <string>

#include "comics/base.hpp"

namespace comics {

// Start-up loading: every "*.re.zip" of the directory (inactive, with a storage
// of its own), then every "*.re" without an archive (active, shared storage),
// each in name order, appended to the list. Errors log "Regex list failed"
// and are passed on; comics appended before stay.
void loadPlugins(const std::string& dir = "plugins", comicList& list = registry());

}  // namespace comics
