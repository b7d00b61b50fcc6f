#pragma once
// Captures what the log writes while it lives (the log goes back to standard
// output afterwards).
#include <cstdio>
#include <functional>
#include <string>

namespace testsupport {

class LogCapture {
public:
    // With freshRun the log also forgets its last writer, so the next line
    // starts with a header as at the start of a run.
    explicit LogCapture(bool freshRun = false);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything written so far.
    std::string text();
    // Whether some message line equals "| " + message.
    bool hasLine(const std::string& message);
    // Whether some message line contains the text.
    bool contains(const std::string& text);

private:
    std::FILE* file_;
};

// The message of what the call throws, or "(no error)".
std::string errorOf(const std::function<void()>& call);

}  // namespace testsupport
