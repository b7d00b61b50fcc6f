#include "tools/log.hpp"
#include "tools/thread.hpp"

int main() {
    tools::becomeMainThread();
    tools::logln("wendle: the plugin generator is not built yet.");
    tools::shutdownLog();
    return 1;
}
