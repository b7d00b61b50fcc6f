#include "support/log_capture.hpp"

#include <sstream>

#include "tools/log.hpp"

namespace testsupport {

LogCapture::LogCapture(bool freshRun) : file_(std::tmpfile()) {
    tools::flushLog();
    tools::redirectLogOutput(file_);
    if (freshRun) tools::resetLogForTests();
}

LogCapture::~LogCapture() {
    tools::redirectLogOutput(nullptr);
    if (file_) std::fclose(file_);
}

std::string LogCapture::text() {
    tools::flushLog();
    std::string out;
    if (!file_) return out;
    long end = std::ftell(file_);
    std::rewind(file_);
    out.resize(static_cast<std::size_t>(end));
    std::size_t n = std::fread(out.data(), 1, out.size(), file_);
    out.resize(n);
    std::fseek(file_, 0, SEEK_END);
    return out;
}

bool LogCapture::hasLine(const std::string& message) {
    std::istringstream lines(text());
    std::string line;
    while (std::getline(lines, line))
        if (line == "| " + message) return true;
    return false;
}

bool LogCapture::contains(const std::string& needle) {
    return text().find(needle) != std::string::npos;
}

std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace testsupport
