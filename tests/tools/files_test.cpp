#include "tools/files.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

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

TEST(Files, StaleTemporariesAreRemovedUnlessStillBeingWritten) {
    testsupport::TempDir dir;
    for (const char* name :
         {".storage.dat.zip.tmp-Ab12Cd", ".tovik.ini.tmp-xxxxxx", "keep.tmp-abcdef",
          ".short.tmp-abc", "storage.dat.zip", ".busy.tmp-zzzzzz"})
        testsupport::writeFile(dir.file(name), "x");
    // A write still running holds its temporary file locked.
    int busy = ::open(dir.file(".busy.tmp-zzzzzz").c_str(), O_RDONLY);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(::flock(busy, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(tools::removeStaleTemporaries(dir.path().string()), 2);
    ::close(busy);
    for (const char* gone : {".storage.dat.zip.tmp-Ab12Cd", ".tovik.ini.tmp-xxxxxx"})
        EXPECT_FALSE(std::filesystem::exists(dir.file(gone))) << gone;
    for (const char* kept :
         {"keep.tmp-abcdef", ".short.tmp-abc", "storage.dat.zip", ".busy.tmp-zzzzzz"})
        EXPECT_TRUE(std::filesystem::exists(dir.file(kept))) << kept;
    EXPECT_EQ(tools::removeStaleTemporaries(dir.file("missing")), 0);
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
