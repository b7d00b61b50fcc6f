#include "tools/log.hpp"
#include "tools/thread.hpp"

int main() {
    tools::becomeMainThread();
    tools::logln("tovik: the reader is not built yet.");
    tools::shutdownLog();
    return 1;
}
