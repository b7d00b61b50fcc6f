#include "tools/text.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Text, ReplaceAllIsOnePassWithoutOverlaps) {
    EXPECT_EQ(tools::replacedAll("a&amp;b&amp;", "&amp;", "&"), "a&b&");
    EXPECT_EQ(tools::replacedAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(tools::replacedAll("x", "x", "xx"), "xx");   // replacements are not searched again
    EXPECT_EQ(tools::replacedAll("abc", "", "z"), "abc");  // an empty pattern changes nothing
    EXPECT_EQ(tools::replacedAll("a..b", "..", "_"), "a_b");
}

TEST(Text, LoweredTouchesOnlyAsciiLetters) {
    EXPECT_EQ(tools::lowered("NaME\xC3\x84=1"), "name\xC3\x84=1");
}

}  // namespace
