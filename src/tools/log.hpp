#pragma once
// The one diagnostic channel: logln(args...) writes one message line to standard
// output and, while it is open, to the log file. A header line naming the thread
// precedes the first line of every run of lines from one thread.
//
// Arguments are formatted by kind: texts unchanged, integers in signed decimal,
// booleans as "True"/"False", exceptions by their message, objects with a
// toString() by that text (pointers: "(null)" when null), lists as
// "[a, b]" with each element formatted by the same rules.
#include <concepts>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tools {

namespace logfmt {

inline void put(std::string& out, std::string_view text) { out.append(text); }
inline void put(std::string& out, const char* text) { out.append(text ? text : "(null)"); }
inline void put(std::string& out, const std::string& text) { out.append(text); }
inline void put(std::string& out, char c) { out.push_back(c); }
inline void put(std::string& out, bool b) { out.append(b ? "True" : "False"); }
inline void put(std::string& out, const std::exception& e) { out.append(e.what()); }
void put(std::string& out, long long value);
void put(std::string& out, unsigned long long value);
void put(std::string& out, double value);

template <std::integral T>
requires(!std::same_as<T, bool> && !std::same_as<T, char>) void put(std::string& out, T value) {
    if constexpr (std::is_signed_v<T>)
        put(out, static_cast<long long>(value));
    else
        put(out, static_cast<unsigned long long>(value));
}

template <std::floating_point T>
void put(std::string& out, T value) {
    put(out, static_cast<double>(value));
}

template <class T>
concept HasToString = requires(const T& t) {
    { t.toString() } -> std::convertible_to<std::string>;
};

template <HasToString T>
requires(!std::derived_from<T, std::exception>) void put(std::string& out, const T& object) {
    out.append(object.toString());
}

template <class T>
void put(std::string& out,
         const T* object) requires(HasToString<T> || std::derived_from<T, std::exception>) {
    if (!object)
        out.append("(null)");
    else
        put(out, *object);
}

template <class T>
void put(std::string& out, const std::shared_ptr<T>& object) {
    put(out, static_cast<const T*>(object.get()));
}

template <class T>
void put(std::string& out, const std::vector<T>& list) {
    out.push_back('[');
    bool first = true;
    for (const auto& element : list) {
        if (!first) out.append(", ");
        first = false;
        put(out, element);
    }
    out.push_back(']');
}

}  // namespace logfmt

// Writes one already formatted message line.
void logLine(std::string_view message);

template <class... A>
void logln(const A&... args) {
    std::string message;
    (logfmt::put(message, args), ...);
    logLine(message);
}

// Writes text as it is (no header, no "| ", no line end) to the log's console
// stream only, and flushes it: a prompt that the typed answer follows on the
// same line.
void logPrompt(std::string_view text);

// The calling thread's next line starts under a header of its own, as if
// another thread wrote it: a pool worker calls it when it starts a task, so
// each task's lines stand under the task's name.
void startNewLogSection();

// While one lives, the lines its thread logs are dropped (prompts are not):
// for work whose own reporting would drown a console dialogue, such as a trial
// crawl. Nests; other threads log as before.
class QuietLog {
public:
    QuietLog();
    ~QuietLog();
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;
};

// Opens the log file (truncating it). A file that cannot be opened leaves
// logging on standard output alone. Returns whether the file is open.
bool openLogFile(const std::string& path);

// Orderly shutdown: closes the log file and writes the closing line
// ("\" and dashes as wide as the last header) to standard output.
void shutdownLog();

// Flushes standard output and the log file (before the process ends directly).
void flushLog();

// Lets the log write to other streams than standard output (tests). The stream
// must stay open while it is in use; nullptr restores standard output.
void redirectLogOutput(std::FILE* stream);

// Forgets the last writer, as at the start of a run (tests).
void resetLogForTests();

}  // namespace tools
