#include "tools/files.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.hpp"

namespace {

TEST(Files, AtomicWriteReplacesAndLeavesNoTemporaries) {
    testsupport::TempDir dir;
    std::string path = dir.file("storage.dat.zip");
    tools::writeFileAtomically(path, "first");
    tools::writeFileAtomically(path, std::string("se\0cond", 7));
    EXPECT_EQ(tools::readWholeFile(path), std::string("se\0cond", 7));
    int files = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(Files, FailedWriteKeepsTheOldFile) {
    testsupport::TempDir dir;
    EXPECT_THROW(tools::writeFileAtomically(dir.file("no/such/dir/x"), "data"), std::runtime_error);
    std::string path = dir.file("x");
    tools::writeFileAtomically(path, "old");
    std::filesystem::create_directory(dir.file("x.d"));
    // Renaming a file over a directory fails: the old file must be intact.
    EXPECT_THROW(tools::writeFileAtomically(dir.file("x.d"), "new"), std::runtime_error);
    EXPECT_EQ(tools::readWholeFile(path), "old");
    EXPECT_THROW(tools::readWholeFile(dir.file("missing")), std::runtime_error);
}

}  // namespace
