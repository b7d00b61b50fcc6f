#pragma once
// Start-up loading of the regex plugins of a directory.
//
// Thread safety: runs at start-up on one thread; the list it appends to is locked.
#include <string>

#include "comics/base.hpp"

namespace comics {

// Start-up loading: every "*.re.zip" of the directory (inactive, with a storage
// of its own), then every "*.re" without an archive (active, shared storage),
// each in name order, appended to the list.
//
// A plugin that cannot be read, parsed or compiled, or whose identifier is
// unsafe or already taken by an earlier comic of the list, goes into the list
// as a failed comic carrying the error (see BrokenPlugin); it never writes
// anything, so its stored state and files stay as they are. Other errors (the
// directory cannot be listed) log "Regex list failed" and are passed on;
// comics appended before stay.
void loadPlugins(const std::string& dir = "plugins", ComicRegistry& list = registry());

// The stand-in for a plugin that could not be loaded: failed from the start
// with the reason, never saved; an update fails again with the same reason.
// Its identifier is the file's path, which no storage member uses.
class BrokenPlugin : public Comic {
public:
    BrokenPlugin(std::string file, std::string name, std::string error, bool active);
    std::string id() const override { return file_; }
    std::string name() const override { return name_; }
    void update(const Callback& onChanged, const Callback& onNewPages) override;
    void save() override {}
    std::string typeName() const override { return "regex_plugin"; }

private:
    const std::string file_;
    const std::string name_;
    const std::string error_;
};

}  // namespace comics
