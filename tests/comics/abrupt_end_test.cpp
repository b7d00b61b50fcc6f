// Abrupt ends: a child process writes the storage over and over and is killed
// with SIGKILL at random moments. After every kill the file must open, hold
// one whole generation of every member (the one before the interrupted write
// or the one after it), and the temporary file a killed write leaves behind
// must not disturb the next start.
//
// TOVIK_KILL_ROUNDS sets the number of kills (default 50).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "support/temp_dir.hpp"
#include "tools/files.hpp"
#include "tools/log.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int members = 8;

// The content of member i in generation g: a comic state whose titles name
// both, with a block of varied bytes so that a write takes a while.
std::string memberContent(int generation, int i) {
    comics::ComicState state;
    std::mt19937 bytes(static_cast<unsigned>(generation * 131 + i));
    for (int p = 0; p < 40; ++p) {
        std::string image = "REFER=h/" + std::to_string(p) + " h/" + std::to_string(p) + ".png";
        state.pages.push_back(
            {image, "g" + std::to_string(generation) + " m" + std::to_string(i), "", ""});
    }
    state.position = generation;
    state.custom.resize(40000);
    for (char& c : state.custom) c = static_cast<char>(bytes() % 64);
    return comics::serialize::encode(state);
}

// Which generation a stored storage file holds; fails the test when its
// members disagree or any one is not exactly a generation's content.
int generationIn(const std::string& path) {
    comics::FileStorage stored;
    stored.read(tools::readWholeFile(path));
    int found = -1;
    for (int i = 0; i < members; ++i) {
        const std::string name = "comic" + std::to_string(i);
        const std::string data = stored.get(name);
        const int generation = comics::serialize::decode(data).position;
        if (found < 0) found = generation;
        EXPECT_EQ(generation, found) << name;
        EXPECT_TRUE(data == memberContent(generation, i))
            << name << " of generation " << generation;
    }
    return found;
}

int temporaries(const std::string& dir) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos) ++count;
    return count;
}

// The writer, run in a child process started by the test below: a start as
// the reader makes one (stale temporaries removed, the storage read), then
// one generation after the other until it is killed.
TEST(AbruptEnd, WriterChild) {
    const char* dir = std::getenv("TOVIK_KILL_CHILD");
    if (!dir) GTEST_SKIP() << "runs as the child of AbruptEnd.KilledWritesLoseNothing";
    ASSERT_EQ(::chdir(dir), 0);
    tools::QuietLog quiet;
    tools::removeStaleTemporaries(".");
    comics::loadMainStorage("storage.dat.zip");
    int generation = 0;
    if (comics::mainStorage().has("comic0"))
        generation = comics::serialize::decode(comics::mainStorage().get("comic0")).position;
    ASSERT_EQ(::write(STDOUT_FILENO, "READY\n", 6), 6);
    for (;;) {
        ++generation;
        for (int i = 0; i < members; ++i)
            comics::mainStorage().put("comic" + std::to_string(i), memberContent(generation, i));
        comics::writeMainStorage("storage.dat.zip");
    }
}

struct Child {
    pid_t pid = -1;
    int output = -1;
};

Child startWriter(const std::string& dir) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::setenv("TOVIK_KILL_CHILD", dir.c_str(), 1);
        ::execl("/proc/self/exe", "abrupt-end-writer", "--gtest_filter=AbruptEnd.WriterChild",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return {pid, pipeFds[0]};
}

// Reads the child's output until it says it is ready (at most 20 s).
bool waitReady(int fd) {
    std::string seen;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (seen.find("READY\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[512];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

TEST(AbruptEnd, KilledWritesLoseNothing) {
    int rounds = 50;
    if (const char* wanted = std::getenv("TOVIK_KILL_ROUNDS"))
        rounds = std::max(1, std::atoi(wanted));
    testsupport::TempDir dir;
    const std::string path = dir.file("storage.dat.zip");
    std::mt19937 random(std::random_device{}());
    int last = 0, interrupted = 0;
    for (int round = 0; round < rounds; ++round) {
        Child child = startWriter(dir.path().string());
        ASSERT_GT(child.pid, 0);
        const bool ready = waitReady(child.output);
        if (ready && round % 2 == 0) {
            // At a random moment: mostly within the first writes, sometimes later.
            std::uniform_int_distribution<int> delay(0, round % 8 == 0 ? 200 : 30);
            ::usleep(static_cast<useconds_t>(delay(random)) * 1000);
        } else if (ready) {
            // While the new file is being written: once its temporary file is
            // there, within the next 1.5 ms.
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (temporaries(dir.path().string()) == 0 && std::chrono::steady_clock::now() < end)
                ::usleep(50);
            std::uniform_int_distribution<int> delay(0, 1500);
            ::usleep(static_cast<useconds_t>(delay(random)));
        }
        ::kill(child.pid, SIGKILL);
        int status = 0;
        ::waitpid(child.pid, &status, 0);
        ::close(child.output);
        ASSERT_TRUE(ready) << "the writer did not start";
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

        if (temporaries(dir.path().string()) > 0) ++interrupted;
        if (!fs::exists(path)) {
            EXPECT_EQ(last, 0) << "the storage file went away";
            continue;
        }
        const int generation = generationIn(path);
        EXPECT_GE(generation, last) << "a later file held an older generation";
        last = generation;
        if (HasFailure()) break;
    }
    // What the last kill left is cleaned up by the next start.
    tools::removeStaleTemporaries(dir.path().string());
    EXPECT_EQ(temporaries(dir.path().string()), 0);
    EXPECT_GT(last, 0) << "no write ever finished";
    RecordProperty("kills", rounds);
    RecordProperty("killed_mid_write", interrupted);
    RecordProperty("generations", last);
}

}  // namespace
