#pragma once
// Thread slots: the main thread holds slot 0; every other thread holds the lowest
// free slot from its start until it ends. Start threads with tools::Thread so the
// slot is taken before the thread's body runs; threads started some other way
// take a slot the first time they ask for one.
#include <functional>
#include <string>
#include <thread>

namespace tools {

// The calling thread's slot number (0 for the main thread).
int threadSlot();

// Marks the calling thread as the main thread (slot 0). Called once by each
// program's entry point; until then the thread that first initialised the
// slot table counts as the main thread.
void becomeMainThread();

// A joinable thread that owns a slot for its whole life. Joins on destruction.
class Thread {
public:
    Thread() = default;
    explicit Thread(std::function<void()> body);
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&&) noexcept;
    ~Thread();

    void join();
    void detach();
    bool joinable() const { return thread_.joinable(); }
    std::thread::id id() const { return thread_.get_id(); }

private:
    std::thread thread_;
};

// Thread names shown in the log headers (written by the thread pool around
// each task). Safe against concurrent lookups and updates.
void setThreadName(const std::string& name);
void clearThreadName();
// The registered name of the calling thread, or empty when none.
bool registeredThreadName(std::string& name);

}  // namespace tools
