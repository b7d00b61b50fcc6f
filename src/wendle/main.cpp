// wendle: writes a plugin file for a comic through a console dialogue.
#include <iostream>

#include "tools/log.hpp"
#include "tools/thread.hpp"
#include "wendle/dialogue.hpp"

int main() {
    tools::becomeMainThread();
    std::string written;
    {
        wendle::Dialogue dialogue(std::cin);
        written = dialogue.run();
    }
    tools::shutdownLog();
    return written.empty() ? 1 : 0;
}
