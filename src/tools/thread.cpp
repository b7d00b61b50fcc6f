#include "tools/thread.hpp"

#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>

namespace tools {
namespace {

struct SlotTable {
    std::mutex lock;
    std::set<int> used{0};  // slot 0 always belongs to the main thread
    std::thread::id main = std::this_thread::get_id();

    int acquire() {
        std::lock_guard<std::mutex> hold(lock);
        int slot = 1;
        while (used.count(slot)) ++slot;
        used.insert(slot);
        return slot;
    }
    void release(int slot) {
        std::lock_guard<std::mutex> hold(lock);
        if (slot != 0) used.erase(slot);
    }
};

SlotTable& table() {
    static SlotTable* t = new SlotTable;  // outlives every thread, never destroyed
    return *t;
}

// Frees the slot when the thread ends.
struct SlotHolder {
    int slot = -1;
    ~SlotHolder() {
        if (slot > 0) table().release(slot);
    }
};
thread_local SlotHolder holder;

struct Names {
    std::shared_mutex lock;
    std::map<std::thread::id, std::string> map;
};
Names& names() {
    static Names* n = new Names;
    return *n;
}

}  // namespace

int threadSlot() {
    if (holder.slot < 0) {
        SlotTable& t = table();
        bool isMain;
        {
            std::lock_guard<std::mutex> hold(t.lock);
            isMain = t.main == std::this_thread::get_id();
        }
        holder.slot = isMain ? 0 : t.acquire();
    }
    return holder.slot;
}

void becomeMainThread() {
    SlotTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    t.main = std::this_thread::get_id();
    holder.slot = 0;
}

Thread::Thread(std::function<void()> body)
    : thread_([body = std::move(body)] {
          threadSlot();  // take the lowest free slot before anything else runs
          body();
      }) {}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (thread_.joinable()) thread_.join();
    thread_ = std::move(other.thread_);
    return *this;
}

Thread::~Thread() {
    if (thread_.joinable()) thread_.join();
}

void Thread::join() {
    if (thread_.joinable()) thread_.join();
}

void Thread::detach() {
    if (thread_.joinable()) thread_.detach();
}

void setThreadName(const std::string& name) {
    Names& n = names();
    std::unique_lock<std::shared_mutex> hold(n.lock);
    n.map[std::this_thread::get_id()] = name;
}

void clearThreadName() {
    Names& n = names();
    std::unique_lock<std::shared_mutex> hold(n.lock);
    n.map.erase(std::this_thread::get_id());
}

bool registeredThreadName(std::string& name) {
    Names& n = names();
    std::shared_lock<std::shared_mutex> hold(n.lock);
    auto it = n.map.find(std::this_thread::get_id());
    if (it == n.map.end()) return false;
    name = it->second;
    return true;
}

}  // namespace tools
