#include "tools/log.hpp"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <mutex>

#include "tools/thread.hpp"

namespace tools {

namespace logfmt {
void put(std::string& out, long long value) { out.append(std::to_string(value)); }
void put(std::string& out, unsigned long long value) { out.append(std::to_string(value)); }
void put(std::string& out, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    out.append(buffer);
}
}  // namespace logfmt

namespace {

std::mutex& logLock() {
    static std::mutex* lock = new std::mutex;  // usable until the very end of the process
    return *lock;
}

std::FILE* logFile = nullptr;       // guarded by logLock
std::FILE* outputStream = nullptr;  // guarded by logLock; nullptr means stdout

// A per-thread number that is never reused, so the last-writer word cannot
// confuse a thread with a later one.
std::atomic<std::uint64_t> nextThreadTag{1};
thread_local std::uint64_t threadTag = 0;
thread_local int quietDepth = 0;           // QuietLog objects alive on this thread
std::atomic<std::uint64_t> lastWriter{0};  // 0: nothing logged yet
// The header width of the last header written, for the closing line.
std::atomic<std::size_t> lastHeaderWidth{0};

std::uint64_t currentTag() {
    if (threadTag == 0) threadTag = nextThreadTag.fetch_add(1);
    return threadTag;
}

std::string displayName() {
    std::string name;
    if (registeredThreadName(name)) return name;
    int slot = threadSlot();
    if (slot != 0) return "Unidentified #" + std::to_string(slot);
    return "Main Thread";
}

void writePiece(std::string_view text) {
    std::FILE* out = outputStream ? outputStream : stdout;
    std::fwrite(text.data(), 1, text.size(), out);
    // Flushed at once: after a crash the file holds every line up to it.
    if (logFile) {
        std::fwrite(text.data(), 1, text.size(), logFile);
        std::fflush(logFile);
    }
}

}  // namespace

QuietLog::QuietLog() { ++quietDepth; }
QuietLog::~QuietLog() { --quietDepth; }

void logLine(std::string_view message) {
    if (quietDepth > 0) return;
    std::uint64_t me = currentTag();
    std::uint64_t last = lastWriter.load();
    if (last != me) {
        std::string header(last == 0 ? "/" : "+");
        header += "--[ ";
        header += displayName();
        header += " ]------";
        lastHeaderWidth.store(header.size());
        header += '\n';
        std::lock_guard<std::mutex> hold(logLock());
        writePiece(header);
    }
    {
        std::string line;
        line.reserve(message.size() + 3);
        line += "| ";
        line += message;
        line += '\n';
        std::lock_guard<std::mutex> hold(logLock());
        writePiece(line);
    }
    lastWriter.store(me);
}

void startNewLogSection() { threadTag = nextThreadTag.fetch_add(1); }

void logPrompt(std::string_view text) {
    std::lock_guard<std::mutex> hold(logLock());
    std::FILE* out = outputStream ? outputStream : stdout;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

bool openLogFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    std::lock_guard<std::mutex> hold(logLock());
    if (logFile) std::fclose(logFile);
    logFile = file;
    return file != nullptr;
}

void shutdownLog() {
    std::lock_guard<std::mutex> hold(logLock());
    if (logFile) {
        std::fclose(logFile);
        logFile = nullptr;
    }
    if (lastWriter.load() != 0) {
        std::size_t width = lastHeaderWidth.load();
        std::string closing = "\\" + std::string(width > 0 ? width - 1 : 0, '-') + "\n";
        std::FILE* out = outputStream ? outputStream : stdout;
        std::fwrite(closing.data(), 1, closing.size(), out);
        std::fflush(out);
    }
}

void flushLog() {
    std::lock_guard<std::mutex> hold(logLock());
    std::fflush(outputStream ? outputStream : stdout);
    if (logFile) std::fflush(logFile);
}

void redirectLogOutput(std::FILE* stream) {
    std::lock_guard<std::mutex> hold(logLock());
    outputStream = stream;
}

void resetLogForTests() {
    lastWriter.store(0);
    lastHeaderWidth.store(0);
}

}  // namespace tools
