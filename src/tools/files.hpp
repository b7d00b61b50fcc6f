#pragma once
// Whole-file reading and crash-safe whole-file writing.
// Thread safety: no shared state; writers of one path are serialised by their
// caller (the save lock for the storage file).
#include <string>

namespace tools {

// Reads a whole file; raises "Cannot read " + path when it cannot be read.
std::string readWholeFile(const std::string& path);
// Writes a whole file safely: a temporary file in the same directory
// ("." + name + ".tmp-" + six characters, locked while it is written), flushed
// to disk, then renamed over the target. Raises an error when anything fails;
// the old file is then left untouched.
void writeFileAtomically(const std::string& path, const std::string& data);
// Removes the temporary files of dir that writes killed midway left behind
// (those no running write holds locked), logging each. Returns how many.
int removeStaleTemporaries(const std::string& dir);

}  // namespace tools
