#include "tools/thread_pool.hpp"

#include <chrono>
#include <exception>

#include "tools/log.hpp"

namespace tools {
namespace {

// Guards appending to (and reading) any pool's worker list.
std::mutex& workerListLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

}  // namespace

void runGuarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        logln("Task failed with ", e);
    } catch (...) {
        logln("Task failed with ", "an unknown exception");
    }
}

PoolWorker::PoolWorker(Fetch fetch, std::shared_ptr<PoolGate> gate)
    : fetch_(std::move(fetch)), gate_(std::move(gate)), thread_([this] { run(); }) {}

PoolWorker::~PoolWorker() { thread_.join(); }

void PoolWorker::run() {
    for (;;) {
        {
            // Passing the gate and becoming busy is one step, so a pause that
            // closed the gate sees every idle worker stay idle.
            std::unique_lock<std::mutex> hold(gate_->lock);
            gate_->changed.wait(hold, [this] { return gate_->stop || !gate_->closed; });
            if (gate_->stop) return;
            busy_.store(true);
            seen_ = gate_->queued;
        }
        std::optional<Task> current;
        try {
            current = fetch_();
        } catch (...) {
            current.reset();
        }
        hasCurrent_.store(current.has_value());
        if (current) {
            setThreadName(current->name);
            startNewLogSection();
            runGuarded(current->action);
            clearThreadName();
        }
        current.reset();  // the action's captures end with the task
        {
            std::lock_guard<std::mutex> hold(gate_->lock);
            busy_.store(false);
        }
        gate_->idle.notify_all();
        if (!hasCurrent_.load()) {
            // Nothing was queued: sleep until a task comes, the gate closes or
            // the pool ends.
            std::unique_lock<std::mutex> hold(gate_->lock);
            gate_->changed.wait(
                hold, [this] { return gate_->stop || gate_->closed || gate_->queued != seen_; });
            if (gate_->stop) return;
        }
    }
}

ThreadPool::ThreadPool(int workers) : gate_(std::make_shared<PoolGate>()) {
    for (int i = 0; i < workers; ++i)
        workers_.push_back(
            std::make_unique<PoolWorker>([this] { return ThreadPool::takeNextTask(); }, gate_));
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> hold(gate_->lock);
        gate_->stop = true;
    }
    gate_->changed.notify_all();
    std::vector<std::unique_ptr<PoolWorker>> workers;
    {
        std::lock_guard<std::mutex> hold(workerListLock());
        workers.swap(workers_);
    }
    workers.clear();  // joins each
}

std::vector<PoolWorker*> ThreadPool::workersCopy() const {
    std::lock_guard<std::mutex> hold(workerListLock());
    std::vector<PoolWorker*> out;
    out.reserve(workers_.size());
    for (const auto& w : workers_) out.push_back(w.get());
    return out;
}

std::size_t ThreadPool::workerCount() const {
    std::lock_guard<std::mutex> hold(workerListLock());
    return workers_.size();
}

bool ThreadPool::paused() const {
    std::lock_guard<std::mutex> hold(lock_);
    return paused_;
}

bool ThreadPool::anyWork() const {
    std::size_t count;
    {
        std::lock_guard<std::mutex> hold(lock_);
        count = queue_.size() + saved_.size();
    }
    for (PoolWorker* w : workersCopy())
        if (w->busy()) ++count;
    return count != 0;
}

void ThreadPool::addTask(std::string name, std::function<void()> action) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (paused_) return;
        queue_.push_back(Task{std::move(name), std::move(action)});
    }
    wake();
}

void ThreadPool::wake() {
    {
        std::lock_guard<std::mutex> hold(gate_->lock);
        ++gate_->queued;
    }
    gate_->changed.notify_one();
}

std::optional<Task> ThreadPool::takeNextTask() {
    std::lock_guard<std::mutex> hold(lock_);
    if (queue_.empty()) return std::nullopt;
    Task next = std::move(queue_.front());
    queue_.pop_front();
    return next;
}

void ThreadPool::pause() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        paused_ = true;
        for (auto& t : queue_) saved_.push_back(std::move(t));
        queue_.clear();
    }
    {
        std::lock_guard<std::mutex> hold(gate_->lock);
        gate_->closed = true;
    }
    std::vector<PoolWorker*> workers = workersCopy();
    int running = 0;
    for (PoolWorker* w : workers)
        if (w->hasCurrent()) ++running;
    logln(running, " Tasks running");

    // A worker seen idle after the gate closed stays idle until resume; a
    // worker ending its task tells the gate.
    gate_->changed.notify_all();
    std::vector<bool> held(workers.size(), false);
    std::size_t heldCount = 0;
    std::size_t reported = 0;
    std::unique_lock<std::mutex> hold(gate_->lock);
    for (;;) {
        if (heldCount != reported) {
            logln(static_cast<long long>(heldCount), " paused");
            reported = heldCount;
        }
        for (std::size_t i = 0; i < workers.size(); ++i) {
            if (!held[i] && !workers[i]->busy()) {
                held[i] = true;
                ++heldCount;
            }
        }
        if (heldCount == workers.size()) return;
        gate_->idle.wait(hold);
    }
}

void ThreadPool::resume() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (auto& t : queue_) saved_.push_back(std::move(t));
        queue_ = std::move(saved_);
        saved_.clear();
        paused_ = false;
    }
    {
        std::lock_guard<std::mutex> hold(gate_->lock);
        gate_->closed = false;
        ++gate_->queued;
    }
    gate_->changed.notify_all();
}

void ThreadPool::addWorker() {
    auto worker =
        std::make_unique<PoolWorker>([this] { return ThreadPool::takeNextTask(); }, gate_);
    std::lock_guard<std::mutex> hold(workerListLock());
    workers_.push_back(std::move(worker));
}

void ThreadPool::runOneTaskHere() {
    std::optional<Task> next = takeNextTask();
    if (next) runGuarded(next->action);
}

}  // namespace tools
