#pragma once
// The reader's outer shell: the start-up sequence, the entry point, the main
// routine and the command-line modes that run without a window.
//
// Start-up, in this order: the configuration "tovik.ini", the storage
// "storage.dat.zip", the comic sources (built-in comics and plugin files), and
// last the log file "tovik.log". The video subsystem is started only for the
// interactive run, so the window-less modes work without a display.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace reader {

// What the interactive run is started with.
struct InteractiveOptions {
    bool console = false;  // "-c" was given
    // The configured full-screen size; 0 keeps the display's size.
    int fullscreenW = 0;
    int fullscreenH = 0;
};

// The interactive run (the reader window). It is called on the main thread
// after the video subsystem was started and the full-screen size recorded
// (sdloo::desktopWidth/Height already hold the configured size). It may end the
// process itself; otherwise its result is the exit status.
using InteractiveRun = std::function<int(const InteractiveOptions&)>;

// Installs the interactive run. Until one is installed, the interactive path
// logs that the reader window is not available and exits with status 1.
void setInteractiveRun(InteractiveRun run);

// Makes the strip store of the directory (relative: in the working directory)
// the process-wide one, with the budget from "tovik.ini" ("strip_store_mib",
// mebibytes; default 2 GiB). The start-up uses "strips".
void useStripDirectory(const std::string& directory);

// The start-up sequence up to and including "Logfile open" (without the log
// file when logFile is false). Errors (a bad "active" value, a broken plugin
// file) reach the caller.
void startUp(bool logFile = true);

// The main routine: "Starting up", the full-screen settings, then a
// window-less mode or the interactive run. Returns the exit status.
int mainRoutine(const std::vector<std::string>& args);

// The entry point: start-up, "Calling actual main function", the main routine;
// an error logs "dead[Main]" and "main failed: " + its text and gives status 1.
// Every return is orderly (the log's closing line is written).
//
// Before the start-up: "-version" prints the version and returns 0; a first
// argument "-desktop" moves to the per-user library (setting it up) and the
// arguments after it are read as the command line. Every mode that writes the
// storage (the window, "-update", "-export", "-import", "-read") first takes
// the library's lock in the working directory: the window gives up at once
// with status 1 when another process has it, "-update" waits up to the
// setting lock_wait (seconds). The process that does not get the lock writes
// nothing, not even "tovik.log"; neither do the listing modes while another
// process holds it.
int entryPoint(int argc, char** argv);

// The window-less modes, usable on their own (the main routine calls them).
// Each returns the exit status.
int listIds();                            // "-h"
int listNames();                          // "-hh"
int dump(const std::string& identifier);  // "-dump="
// "-cbz=": the comic's strips in page order as identifier + ".cbz" (missing
// strips fetched first); a summary on standard output; 1 when pages are missing.
int exportCbz(const std::string& identifier);
int exportComics();  // "-export"
int importComics();  // "-import"
int markRead();      // "-read"

// How long "-update" waits for the library's lock when no setting says.
inline constexpr int defaultLockWaitSeconds = 60;

}  // namespace reader
