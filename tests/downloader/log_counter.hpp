#pragma once
// Collects what the log writes while it lives and counts lines (the log goes back to standard
// output after).
#include <cstdio>
#include <string>

#include "tools/log.hpp"

class LogCounter {
public:
    LogCounter() : file_(std::tmpfile()) { tools::redirectLogOutput(file_); }
    ~LogCounter() {
        tools::redirectLogOutput(nullptr);
        std::fclose(file_);
    }
    LogCounter(const LogCounter&) = delete;
    LogCounter& operator=(const LogCounter&) = delete;

    std::string text() {
        tools::flushLog();
        std::string out;
        std::rewind(file_);
        char block[4096];
        std::size_t n;
        while ((n = std::fread(block, 1, sizeof block, file_)) > 0) out.append(block, n);
        std::fseek(file_, 0, SEEK_END);
        return out;
    }
    int count(const std::string& line) {
        std::string all = text();
        int found = 0;
        for (std::size_t at = 0; (at = all.find(line, at)) != std::string::npos; at += line.size())
            ++found;
        return found;
    }

private:
    std::FILE* file_;
};
