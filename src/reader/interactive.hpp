#pragma once
// reader.interactive: the interactive run, the reader with its window.
//
// Pools (8 page workers, 64 update workers), the 640 x 480 window, the
// ReaderWindow and its event loop on the main thread; then, whatever way the
// loop ended, the save of every comic to "storage.dat.zip", a bounded wait for
// the page pool to pause, and an immediate end of the process with status 0.
#include <chrono>

#include "reader/startup.hpp"

namespace reader {

// The parts of the run that tests drive without ending the process.
struct InteractiveSettings {
    int pageWorkers = 8;
    int updateWorkers = 64;
    // How often, one second apart, shutdown waits for the page pool to pause.
    int pauseWaits = 19;
    std::chrono::milliseconds pauseWaitStep{1000};
    // End the process at the end (false in tests: return the status instead).
    bool exitHard = true;
};

// Steps 1 to 10 of the interactive run. Returns 0 only when exitHard is false.
int interactiveRun(const InteractiveOptions& options,
                   const InteractiveSettings& settings = InteractiveSettings());

// Installs interactiveRun as the entry point's interactive run.
void installInteractiveRun();

}  // namespace reader
