#include "tools/files.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

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

TEST(Files, WholeFilesOfAnySizeOrKind) {
    testsupport::TempDir dir;
    std::string big;
    for (int i = 0; i < 100000; ++i) big.push_back(static_cast<char>(i * 7 % 256));
    tools::writeFileAtomically(dir.file("big"), big);
    tools::writeFileAtomically(dir.file("empty"), "");
    EXPECT_EQ(tools::readWholeFile(dir.file("big")), big);
    EXPECT_EQ(tools::readWholeFile(dir.file("empty")), "");
    // No size to go by: read to the end all the same.
    EXPECT_NE(tools::readWholeFile("/proc/self/status").find("Name:"), std::string::npos);
    EXPECT_EQ(tools::readWholeFile(dir.path().string()), "");  // a directory
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

int entriesIn(const std::filesystem::path& dir) {
    int n = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir)) {
        (void)entry;
        ++n;
    }
    return n;
}

TEST(Files, BatchShowsNothingBeforeItsCommitAndEverythingAfter) {
    testsupport::TempDir dir;
    tools::writeFileAtomically(dir.file("a"), "old a");
    std::vector<std::string> finished;
    {
        tools::WriteBatch batch;
        for (const char* name : {"a", "b", "c"})
            batch.add(dir.file(name), std::string("new ") + name,
                      [&finished, name] { finished.push_back(name); });
        EXPECT_EQ(batch.pending(), 3u);
        EXPECT_EQ(tools::readWholeFile(dir.file("a")), "old a");
        EXPECT_FALSE(std::filesystem::exists(dir.file("b")));
        EXPECT_TRUE(finished.empty());
        batch.commit();
        EXPECT_EQ(batch.pending(), 0u);
        batch.commit();  // nothing left: no effect
    }
    EXPECT_EQ(finished, (std::vector<std::string>{"a", "b", "c"}));
    for (const char* name : {"a", "b", "c"})
        EXPECT_EQ(tools::readWholeFile(dir.file(name)), std::string("new ") + name);
    EXPECT_EQ(entriesIn(dir.path()), 3);  // no temporaries

    // A batch dropped without commit leaves the targets as they were.
    {
        tools::WriteBatch dropped;
        dropped.add(dir.file("a"), "lost", [&finished] { finished.push_back("lost"); });
        dropped.add(dir.file("d"), "lost");
    }
    EXPECT_EQ(tools::readWholeFile(dir.file("a")), "new a");
    EXPECT_EQ(entriesIn(dir.path()), 3);
    EXPECT_EQ(finished.size(), 3u);
}

TEST(Files, BatchCommitsByItselfWhenFullAndStopsAtAFailedRename) {
    testsupport::TempDir dir;
    int finished = 0;
    tools::WriteBatch batch(2);
    batch.add(dir.file("one"), "1", [&] { ++finished; });
    batch.add(dir.file("two"), "2", [&] { ++finished; });
    batch.add(dir.file("three"), "3", [&] { ++finished; });  // commits the first two
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(tools::readWholeFile(dir.file("two")), "2");
    EXPECT_EQ(batch.pending(), 1u);
    batch.commit();

    // A file cannot replace a directory: the writes before it are finished,
    // the ones after it dropped, and no temporary stays.
    std::filesystem::create_directory(dir.file("sub"));
    tools::WriteBatch failing;
    failing.add(dir.file("four"), "4", [&] { ++finished; });
    failing.add(dir.file("sub"), "x", [&] { ++finished; });
    failing.add(dir.file("five"), "5", [&] { ++finished; });
    EXPECT_EQ(finished, 3);
    EXPECT_THROW(failing.commit(), std::runtime_error);
    EXPECT_EQ(finished, 4);
    EXPECT_EQ(tools::readWholeFile(dir.file("four")), "4");
    EXPECT_FALSE(std::filesystem::exists(dir.file("five")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("sub")));
    EXPECT_EQ(entriesIn(dir.path()), 5);
    EXPECT_THROW(failing.add(dir.file("no/such/dir/x"), "x"), std::runtime_error);
}

TEST(Files, BatchKilledBeforeItsCommitLeavesOldFilesAndRemovableTemporaries) {
    testsupport::TempDir dir;
    tools::writeFileAtomically(dir.file("kept"), "old");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        tools::WriteBatch batch;
        batch.add(dir.file("kept"), "new");
        batch.add(dir.file("fresh"), "new");
        ::_exit(0);  // as if killed: no destructor, no commit
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(tools::readWholeFile(dir.file("kept")), "old");
    EXPECT_FALSE(std::filesystem::exists(dir.file("fresh")));
    // Their locks went with the process: the next start removes them.
    EXPECT_EQ(tools::removeStaleTemporaries(dir.path().string()), 2);
    EXPECT_EQ(entriesIn(dir.path()), 1);
}

}  // namespace
