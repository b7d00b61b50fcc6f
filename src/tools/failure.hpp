#pragma once
// The error raised by internal consistency checks: "Failure", or "Failure: " + text.
// Thread safety: an exception type without shared state.
#include <stdexcept>
#include <string>

namespace tools {

class Failure : public std::runtime_error {
public:
    Failure() : std::runtime_error("Failure") {}
    explicit Failure(const std::string& text) : std::runtime_error("Failure: " + text) {}
};

// Raises Failure (with the optional text) unless the condition holds.
inline void check(bool condition) {
    if (!condition) throw Failure();
}
inline void check(bool condition, const std::string& text) {
    if (!condition) throw Failure(text);
}

}  // namespace tools
