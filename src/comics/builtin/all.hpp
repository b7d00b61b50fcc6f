#pragma once
// Every built-in comic, appended to the registry in the comic list's order:
// AppleGeeks, Npwil, QuestionableContent, then the plugin files, then the
// thirteen portal comics, then Chisuji and Earthsong.
// Thread safety: called once at start-up, before any worker runs.
#include <functional>

namespace comics {
class FileStorage;
}

namespace comics::builtin {

// Builds the built-in comics with the storage and appends them to registry();
// loadPlugins runs at the plugin files' place in the order. An error (a bad
// "active" value) stops there; comics appended before it stay.
void appendAll(FileStorage& storage, const std::function<void()>& loadPlugins);

}  // namespace comics::builtin
