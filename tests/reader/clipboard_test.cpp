#include "reader/clipboard.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "support/temp_dir.hpp"

namespace {

// Sets or removes an environment variable for one scope.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A private X server on a free display, ended (by its process id) with the test.
class Xserver {
public:
    Xserver() {
        if (!testsupport::haveProgram("Xvfb") || !testsupport::haveProgram("xclip")) return;
        for (int n = 71; n < 99 && pid_ < 0; ++n) {
            std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            if (std::filesystem::exists(socket) ||
                std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
                continue;
            pid_t pid = fork();
            if (pid == 0) {
                int quiet = open("/dev/null", O_WRONLY);
                if (quiet >= 0) dup2(quiet, 2);
                std::string display = ":" + std::to_string(n);
                execlp("Xvfb", "Xvfb", display.c_str(), "-nolisten", "tcp", "-noreset", "-screen",
                       "0", "320x200x24", static_cast<char*>(nullptr));
                _exit(127);
            }
            for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (std::filesystem::exists(socket)) {
                pid_ = pid;
                display_ = ":" + std::to_string(n);
            } else {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
            }
        }
    }
    ~Xserver() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return pid_ > 0; }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

std::string logOf(const std::string& text) {
    testing::internal::CaptureStdout();
    reader::copyToClipboard(text);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(Clipboard, WithoutADisplayItLogsAndReturns) {
    EnvVar noX("DISPLAY", nullptr), noWayland("WAYLAND_DISPLAY", nullptr);
    EXPECT_TRUE(reader::clipboardCommand().empty());
    std::string out = logOf("anything");
    EXPECT_NE(out.find("Can't open the clipboard, returning"), std::string::npos) << out;
    EXPECT_EQ(out.find("Copying "), std::string::npos) << out;
}

TEST(Clipboard, AHelperThatFailsIsLoggedNotThrown) {
    if (!testsupport::haveProgram("xclip")) GTEST_SKIP() << "no xclip";
    // A display nobody serves: xclip cannot connect and exits with an error.
    EnvVar deadX("DISPLAY", ":97.3"), noWayland("WAYLAND_DISPLAY", nullptr);
    std::string out = logOf("text");
    EXPECT_NE(out.find("Copying text to clipboard"), std::string::npos) << out;
    EXPECT_NE(out.find("Closing the clipboard failed. Whut."), std::string::npos) << out;
}

TEST(Clipboard, TextsRoundTripThroughTheXClipboard) {
    Xserver x;
    if (!x.running()) GTEST_SKIP() << "no Xvfb or xclip";
    EnvVar display("DISPLAY", x.display().c_str()), noWayland("WAYLAND_DISPLAY", nullptr);
    ASSERT_EQ(reader::clipboardCommand().front(), "xclip");
    testsupport::TempDir dir(true);
    auto readBack = [] { return testsupport::capture("xclip -selection clipboard -o 2>&1"); };

    std::string out = logOf("Strip #42");
    EXPECT_NE(out.find("Copying Strip #42 to clipboard"), std::string::npos) << out;
    EXPECT_EQ(out.find("failed"), std::string::npos) << out;
    EXPECT_EQ(readBack(), "Strip #42");

    std::string utf8 = "Caf\xC3\xA9 \xE2\x80\x94 \xE6\xBC\xAB\xE7\x94\xBB";
    logOf(utf8);
    EXPECT_EQ(readBack(), utf8);

    // Handed over as an argument-free byte stream: no shell sees it.
    std::string nasty = "$(touch pwned) `touch pwned2`; 'quote\" \\ \n second line";
    logOf(nasty);
    EXPECT_EQ(readBack(), nasty);
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    EXPECT_FALSE(std::filesystem::exists("pwned2"));

    out = logOf("");
    EXPECT_NE(out.find("Copying  to clipboard"), std::string::npos) << out;
    EXPECT_EQ(readBack(), "");
}
