#pragma once
// Pools of named background tasks. A task is a name plus an action; while a
// worker runs it, the task's name is the worker's name in the log. Idle workers
// sleep on a condition variable and adding a task wakes one of them. A pause holds every worker
// still between two tasks (at a gate at the top of its loop) until resume releases them.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/thread.hpp"

namespace tools {

struct Task {
    std::string name;
    std::function<void()> action;
};

// The gate every worker of one pool passes at the top of its loop.
struct PoolGate {
    std::mutex lock;
    std::condition_variable changed;  // gate opened or closed, stop, a task queued
    std::condition_variable idle;     // a worker finished a cycle
    bool closed = false;              // guarded by lock
    bool stop = false;                // guarded by lock
    // Counts the tasks queued (and resumes): a worker that found the queue
    // empty sleeps until it moves past the value it saw. Guarded by lock.
    std::uint64_t queued = 0;
};

// One worker: loops taking tasks from its pool until the pool ends.
class PoolWorker {
public:
    using Fetch = std::function<std::optional<Task>()>;
    PoolWorker(Fetch fetch, std::shared_ptr<PoolGate> gate);
    ~PoolWorker();  // joins; the gate must have been told to stop
    PoolWorker(const PoolWorker&) = delete;
    PoolWorker& operator=(const PoolWorker&) = delete;

    // Inside a cycle: from before it asks for a task until after the task ends.
    bool busy() const { return busy_.load(); }
    // Whether the latest cycle fetched a task (kept until the next cycle).
    bool hasCurrent() const { return hasCurrent_.load(); }

private:
    void run();

    Fetch fetch_;
    std::shared_ptr<PoolGate> gate_;
    std::atomic<bool> busy_{false};
    std::atomic<bool> hasCurrent_{false};
    std::uint64_t seen_ = 0;  // gate's queued count before the latest fetch; own thread only
    Thread thread_;           // last: starts after every other member is ready
};

class ThreadPool {
public:
    // Starts n workers at once.
    explicit ThreadPool(int workers);
    // Stops the workers after their running tasks and joins them; queued tasks
    // are dropped. (The reader never destroys its pools.)
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Queued, held-back or running tasks exist.
    bool anyWork() const;
    // Queues a task; while paused the task is dropped without notice.
    void addTask(std::string name, std::function<void()> action);
    // Moves the queue aside, drops new tasks, and returns once every worker is
    // idle and held at its gate.
    void pause();
    // Restores the queue held back by pause and releases the workers.
    void resume();
    std::optional<Task> takeNextTask();
    void addWorker();
    // Runs the next queued task, if any, on the calling thread (whose log name
    // stays as it is).
    void runOneTaskHere();

    std::size_t workerCount() const;
    bool paused() const;

private:
    std::vector<PoolWorker*> workersCopy() const;
    void wake();

    mutable std::mutex lock_;  // queue_, saved_, paused_
    std::deque<Task> queue_;
    std::deque<Task> saved_;
    bool paused_ = false;
    std::shared_ptr<PoolGate> gate_;
    std::vector<std::unique_ptr<PoolWorker>> workers_;  // guarded by the worker-list lock
};

// Runs an action, logging "Task failed with " + the failure instead of letting
// it escape.
void runGuarded(const std::function<void()>& action);

}  // namespace tools
