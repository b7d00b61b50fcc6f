#include <gtest/gtest.h>

#include "tools/thread.hpp"

// libavif, which GD decodes AVIF strips with, loses a few blocks per image; those are
// not ours to fix, and LeakSanitizer would fail every test that decodes one.
extern "C" const char* __lsan_default_suppressions() { return "leak:libavif.so\n"; }

int main(int argc, char** argv) {
    tools::becomeMainThread();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
