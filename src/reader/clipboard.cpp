#include "reader/clipboard.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <thread>

#include "tools/log.hpp"

extern char** environ;

namespace reader {

namespace {

// How long the helper may take to read the text and let go.
constexpr auto helperTimeout = std::chrono::seconds(5);

bool set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!dirs.empty()) {
        std::size_t colon = dirs.find(':');
        std::string_view dir = dirs.substr(0, colon);
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
        std::string candidate = dir.empty() ? std::string(".") : std::string(dir);
        candidate += "/" + program;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Writes everything; false when the reader went away or writing failed.
// SIGPIPE is held back on this thread while writing, and a pending one is
// taken away afterwards, so a helper that quits early cannot end the process.
bool writeAll(int fd, std::string_view bytes) {
    sigset_t pipeOnly, previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    bool ok = true;
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (!ok && errno == EPIPE) {
        timespec zero{0, 0};
        sigtimedwait(&pipeOnly, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

// Waits for the helper; kills it when it takes too long. True on exit status 0.
bool finished(pid_t pid) {
    auto deadline = std::chrono::steady_clock::now() + helperTimeout;
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (r < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Starts the helper with its standard input on `input`; -1 when it cannot start.
pid_t startHelper(const std::vector<std::string>& command, int input) {
    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int r = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : -1;
}

}  // namespace

std::vector<std::string> clipboardCommand() {
    if (set("WAYLAND_DISPLAY") && onPath("wl-copy")) return {"wl-copy"};
    if (set("DISPLAY")) {
        if (onPath("xclip")) return {"xclip", "-selection", "clipboard"};
        if (onPath("xsel")) return {"xsel", "--clipboard", "--input"};
    }
    return {};
}

void copyToClipboard(const std::string& text) {
    // Open: a display and a helper to hand the text to.
    std::vector<std::string> command = clipboardCommand();
    if (command.empty()) {
        tools::logln("Can't open the clipboard, returning");
        return;
    }
    // Emptying: the helper replaces whatever the clipboard held.
    tools::logln("Copying ", text, " to clipboard");
    // The block that carries the text: a pipe to the helper.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        tools::logln("Can't allocate global memory, returning");
        return;
    }
    Fd readEnd(ends[0]), writeEnd(ends[1]);
    // Set the data: the helper reads the text (the bytes as they are, without
    // a terminating zero: the desktop clipboard holds lengths, not C strings).
    pid_t pid = startHelper(command, readEnd.get());
    readEnd.reset();
    bool ok = pid > 0;
    if (ok) writeAll(writeEnd.get(), text);  // the result is not examined
    writeEnd.reset();
    // Close: the helper has taken the text and exited successfully.
    if (ok) ok = finished(pid);
    if (!ok) tools::logln("Closing the clipboard failed. Whut.");
}

}  // namespace reader
