// The interactive run: the reader window from start to the hard exit.
#include "reader/interactive.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "comics/base.hpp"
#include "comics/storage.hpp"
#include "reader/window.hpp"
#include "sdloo/font.hpp"
#include "sdloo/window.hpp"
#include "tools/log.hpp"
#include "tools/thread.hpp"
#include "tools/thread_pool.hpp"

namespace reader {

int interactiveRun(const InteractiveOptions&, const InteractiveSettings& settings) {
    // 1. Pools. They run until the process ends (the hard exit below); a test
    // run stops them after the interface.
    tools::logln("Spawning pools");
    auto pagePool = std::make_unique<tools::ThreadPool>(settings.pageWorkers);
    auto updatePool = std::make_unique<tools::ThreadPool>(settings.updateWorkers);

    // 2. The window, on the interface's bridge. 3. The interface, storing to
    // "storage.dat.zip". 4. It numbers the registry's comics in their order.
    tools::logln("Creating display surf");
    sdloo::startTTF();
    auto ui =
        std::make_unique<ReaderWindow>(*pagePool, *updatePool, [] { comics::writeMainStorage(); });
    if (!ui->bridge.setVideoMode(640, 480, sdloo::VideoMode::window))
        throw std::runtime_error("Cannot open the window: " + sdloo::videoError());

    // 5.
    ui->setUp();

    // 6. The event loop. However it ends, the reading positions are saved.
    tools::logln("UI starting");
    int status = 0;
    try {
        ui->run();
    } catch (const std::exception& e) {
        tools::logln("The window's event loop failed: ", e);
        status = 1;
    } catch (...) {
        tools::logln("The window's event loop failed");
        status = 1;
    }

    // 7. Page loading stops first: a page task still running may move a read
    // position, so the pool is paused (and its running tasks drained) before
    // the final save, waiting for it a bounded time.
    tools::logln("UI terminating");
    auto done = std::make_shared<std::atomic<bool>>(false);
    tools::ThreadPool* pages = pagePool.get();
    tools::Thread shutdown([pages, done] {
        tools::setThreadName("Shutdown");
        pages->pause();
        done->store(true);
    });
    for (int i = 0; i < settings.pauseWaits && !done->load(); ++i) {
        const auto until = std::chrono::steady_clock::now() + settings.pauseWaitStep;
        while (!done->load() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!done->load()) tools::logln("Page tasks still running; saving anyway");

    // 8. Every comic, then the storage file.
    try {
        ui->loader().save(nullptr);
    } catch (const std::exception& e) {
        tools::logln("Saving at exit failed: ", e);
        status = 1;
    }

    // 9. Update workers may still use the comics: they stay until the process ends.
    tools::logln("Deleting comics");

    // 10.
    tools::logln("Exit main thread, hard.");
    if (settings.exitHard) {
        shutdown.detach();
        // The process ends directly: streams are flushed, but this is no
        // orderly shutdown, so the log writes no closing line.
        tools::flushLog();
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
        // Static destructors must not run under live update workers.
        ::_exit(status);
    }
    shutdown.join();
    ui.reset();  // pauses both pools
    return status;
}

void installInteractiveRun() {
    setInteractiveRun([](const InteractiveOptions& options) { return interactiveRun(options); });
}

}  // namespace reader
