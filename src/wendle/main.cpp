// wendle: writes a plugin file for a comic through a console dialogue.
//
// It writes into "plugins/" under the working directory; with the first
// argument "-desktop" into that of the per-user library the desktop's reader
// uses (set up when missing). "-version" prints the version.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "tools/log.hpp"
#include "tools/thread.hpp"
#include "tools/user_library.hpp"
#include "tools/version.hpp"
#include "wendle/dialogue.hpp"

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "-version") {
        std::printf("wendle %s\n", tools::version());
        return 0;
    }
    if (first == "-desktop") {
        try {
            tools::enterUserLibrary();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "wendle: %s\n", e.what());
            return 2;
        }
    }
    tools::becomeMainThread();
    std::string written;
    {
        wendle::Dialogue dialogue(std::cin);
        written = dialogue.run();
    }
    tools::shutdownLog();
    return written.empty() ? 1 : 0;
}
