#pragma once
// Captures what the log writes while it lives (the log goes back to standard
// output afterwards).
#include <cstdio>
#include <string>

namespace testsupport {

class LogCapture {
public:
    LogCapture();
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

}  // namespace testsupport
