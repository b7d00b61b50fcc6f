#include <gtest/gtest.h>

#include "tools/thread.hpp"

int main(int argc, char** argv) {
    tools::becomeMainThread();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
