#pragma once
// Real servers started by a test (nginx, Python's http.server): a child process
// stopped by its pid when the object goes, plus loopback port helpers.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class Process {
public:
    // Starts argv[0] (looked up on the PATH) with its standard output discarded.
    explicit Process(const std::vector<std::string>& argv);
    ~Process();  // SIGTERM, then waits for the child
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// A shell command run by /bin/sh in its own process group (end it with "exec
// program" so that the pid is the program's). Ended by its id when the object
// goes: SIGTERM, then SIGKILL after 3 s.
class Child {
public:
    explicit Child(const std::string& command);
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit status once it ended within the time (128 + signal when a
    // signal ended it), else -1.
    int wait(int ms);
    void signal(int number);
    void stop();
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// A loopback port that was free a moment ago.
std::uint16_t freePort();
// Waits up to 10 s until something accepts connections on the loopback port.
bool waitForListener(std::uint16_t port);

}  // namespace testsupport
