// The reader's entry point.
#include "reader/startup.hpp"
#include "tools/thread.hpp"

int main(int argc, char** argv) {
    tools::becomeMainThread();
    return reader::entryPoint(argc, argv);
}
