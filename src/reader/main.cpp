// The reader's entry point.
#include "reader/interactive.hpp"
#include "reader/startup.hpp"
#include "tools/thread.hpp"

int main(int argc, char** argv) {
    tools::becomeMainThread();
    reader::installInteractiveRun();
    return reader::entryPoint(argc, argv);
}
