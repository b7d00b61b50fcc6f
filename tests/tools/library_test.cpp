// The library's lock file and the per-user library.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/temp_dir.hpp"
#include "tools/library_lock.hpp"
#include "tools/user_library.hpp"

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using testsupport::readFile;
using testsupport::writeFile;
using tools::LibraryLock;

namespace {

TEST(LibraryLock, OneHolderAtATime) {
    testsupport::TempDir dir;
    const std::string file = dir.file("tovik.lock");
    EXPECT_FALSE(LibraryLock::busy(file));  // no lock file yet
    auto first = LibraryLock::acquire(file, milliseconds(0));
    ASSERT_TRUE(first);
    EXPECT_TRUE(LibraryLock::busy(file));
    EXPECT_FALSE(LibraryLock::acquire(file, milliseconds(0)));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(LibraryLock::acquire(file, milliseconds(300)));
    EXPECT_GE(std::chrono::steady_clock::now() - before, milliseconds(300));

    // A waiter gets it once the holder lets go within its time.
    std::thread release([&] {
        std::this_thread::sleep_for(milliseconds(200));
        first.reset();
    });
    auto second = LibraryLock::acquire(file, milliseconds(5000));
    release.join();
    EXPECT_TRUE(second);
    second.reset();
    EXPECT_FALSE(LibraryLock::busy(file));
    EXPECT_TRUE(fs::exists(file));  // the file stays

    EXPECT_THROW(LibraryLock::acquire(dir.file("missing/tovik.lock"), milliseconds(0)),
                 std::runtime_error);
}

TEST(LibraryLock, KilledHolderAndStartedProgramsBlockNothing) {
    testsupport::TempDir dir;
    const std::string file = dir.file("tovik.lock");
    const std::string pidFile = dir.file("program.pid");
    pid_t holder = fork();
    if (holder == 0) {
        auto held = LibraryLock::acquire(file, milliseconds(0));
        if (!held) _exit(1);
        // A program the holder starts (as the reader starts a browser).
        pid_t program = fork();
        if (program == 0) {
            execl("/bin/sleep", "sleep", "20", static_cast<char*>(nullptr));
            _exit(1);
        }
        writeFile(pidFile, std::to_string(program));
        pause();
        _exit(0);
    }
    ASSERT_GT(holder, 0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(pidFile) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(milliseconds(10));
    std::this_thread::sleep_for(milliseconds(100));  // the pid written whole
    EXPECT_TRUE(LibraryLock::busy(file));
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    // The program still runs, but it never inherited the lock.
    EXPECT_FALSE(LibraryLock::busy(file));
    EXPECT_TRUE(LibraryLock::acquire(file, milliseconds(0)));
    if (fs::exists(pidFile)) kill(std::stoi(readFile(pidFile)), SIGKILL);
}

TEST(UserLibrary, DirectoryFromTheEnvironment) {
    const char* oldData = getenv("XDG_DATA_HOME");
    const std::string savedData = oldData ? oldData : "";
    const std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("XDG_DATA_HOME", "/data/x", 1);
    EXPECT_EQ(tools::userLibraryDir(), fs::path("/data/x/tovik"));
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(tools::userLibraryDir(), fs::path("/home/u/.local/share/tovik"));
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(tools::userLibraryDir(), fs::path("/home/u/.local/share/tovik"));
    unsetenv("HOME");
    EXPECT_THROW(tools::userLibraryDir(), std::runtime_error);
    setenv("HOME", savedHome.c_str(), 1);
    if (oldData) setenv("XDG_DATA_HOME", savedData.c_str(), 1);
}

TEST(UserLibrary, FirstStartSetsUpWhatIsMissingOnly) {
    testsupport::TempDir dir;
    writeFile(dir.file("Font.ttf"), "font bytes");
    const fs::path lib = dir.path() / "share" / "tovik";
    const std::vector<std::string> fonts = {dir.file("absent.ttf"), dir.file("Font.ttf")};
    tools::setUpLibrary(lib, fonts);
    EXPECT_TRUE(fs::is_directory(lib / "plugins"));
    const std::string ini = readFile((lib / "tovik.ini").string());
    EXPECT_NE(ini.find("\nsortmode = 0\n"), std::string::npos);
    ASSERT_TRUE(fs::is_symlink(lib / "vera.ttf"));  // a link, never a copy
    EXPECT_EQ(fs::read_symlink(lib / "vera.ttf"), fs::path(dir.file("Font.ttf")));

    // Later starts keep the user's files; a link whose font went away is made again.
    writeFile((lib / "tovik.ini").string(), "centered = true\n");
    writeFile(dir.file("Other.ttf"), "other");
    fs::remove(dir.file("Font.ttf"));
    tools::setUpLibrary(lib, {dir.file("Other.ttf")});
    EXPECT_EQ(readFile((lib / "tovik.ini").string()), "centered = true\n");
    EXPECT_EQ(fs::read_symlink(lib / "vera.ttf"), fs::path(dir.file("Other.ttf")));
    // A font file of the user's own stays.
    fs::remove(lib / "vera.ttf");
    writeFile((lib / "vera.ttf").string(), "own");
    tools::setUpLibrary(lib, {dir.file("Other.ttf")});
    EXPECT_FALSE(fs::is_symlink(lib / "vera.ttf"));

    // A library that cannot be made is an error.
    writeFile(dir.file("file"), "x");
    EXPECT_THROW(tools::setUpLibrary(dir.path() / "file" / "tovik", fonts), std::runtime_error);
}

}  // namespace
