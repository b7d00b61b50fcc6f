#pragma once
// Buffer: a thread-safe, size-bounded cache that makes missing values on demand.
//
// Every get ages all entries by one; a hit or a freshly made value has age 0.
// (Ages are kept as the distance to a use clock that every get advances, so a
// get costs no walk over the entries; an age saturates at UINT32_MAX.)
// After each make, trim evicts the oldest entries (age at least 1) until the
// total size fits the capacity. Concurrent gets of one missing key make it
// once: the others wait until it is stored. A maker that fails leaves nothing
// behind, so a later get tries again.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tools/log.hpp"

namespace tools {

template <class V, class K, class Hash = std::hash<K>, class Eq = std::equal_to<K>>
class Buffer {
public:
    using Maker = std::function<V(const K&)>;
    using SizeOf = std::function<std::uint64_t(const V&)>;
    using Destroy = std::function<void(const K&, V&)>;

    Buffer(Maker maker, SizeOf sizeOf, std::uint64_t capacity, Destroy destroy = nullptr)
        : maker_(std::move(maker)),
          sizeOf_(std::move(sizeOf)),
          capacity_(capacity),
          destroy_(std::move(destroy)) {}

    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    ~Buffer() {
        if (destroy_) clear();
    }

    // Whether the key has a stored value (keys being made do not count).
    bool has(const K& key) {
        std::lock_guard<std::mutex> hold(lock_);
        return entries_.count(key) != 0;
    }

    // Tells the destroy function about every entry, then empties the cache.
    void clear() {
        std::lock_guard<std::mutex> hold(lock_);
        if (destroy_)
            for (auto& [key, entry] : entries_) destroy_(key, entry.value);
        entries_.clear();
    }

    // The key's value, made by the maker when missing. The maker's errors
    // reach the caller and nothing is stored.
    V get(const K& key) { return get(key, maker_); }

    // The same with another maker for a missing key (a caller with settings of
    // its own).
    V get(const K& key, const Maker& maker) {
        std::unique_lock<std::mutex> hold(lock_);
        ++clock_;  // ages every entry by one
        for (;;) {
            auto found = entries_.find(key);
            if (found != entries_.end()) {
                found->second.used = clock_;
                return found->second.value;
            }
            if (!isPending(key)) break;
            madeOne_.wait(hold);
        }
        pending_.push_back(key);
        hold.unlock();
        V value = [&] {
            try {
                return maker(key);
            } catch (...) {
                hold.lock();
                dropPending(key);
                madeOne_.notify_all();
                throw;
            }
        }();
        hold.lock();
        auto [it, inserted] = entries_.insert_or_assign(key, Entry{value, clock_});
        (void)it;
        (void)inserted;
        dropPending(key);
        trimLocked();
        madeOne_.notify_all();
        return value;
    }

    // Evicts the oldest entries until the total size fits the capacity.
    void trim() {
        std::lock_guard<std::mutex> hold(lock_);
        trimLocked();
    }

    // Number of stored entries and their total size (tests, benchmarks).
    std::size_t count() {
        std::lock_guard<std::mutex> hold(lock_);
        return entries_.size();
    }
    std::uint64_t totalSize() {
        std::lock_guard<std::mutex> hold(lock_);
        std::uint64_t total = 0;
        for (auto& [key, entry] : entries_) total += sizeOf_(entry.value);
        return total;
    }

private:
    struct Entry {
        V value;
        std::uint64_t used;  // the use clock at the last hit or make
    };

    // Gets since the last hit or make, saturating (never looks fresh again).
    std::uint32_t age(const Entry& entry) const {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(clock_ - entry.used, UINT32_MAX));
    }

    bool isPending(const K& key) const {
        Eq eq;
        return std::any_of(pending_.begin(), pending_.end(),
                           [&](const K& k) { return eq(k, key); });
    }
    void dropPending(const K& key) {
        Eq eq;
        auto it =
            std::find_if(pending_.begin(), pending_.end(), [&](const K& k) { return eq(k, key); });
        if (it != pending_.end()) pending_.erase(it);
    }

    void trimLocked() {
        std::uint64_t total = 0;
        for (auto& [key, entry] : entries_) total += sizeOf_(entry.value);
        while (total > capacity_) {
            auto victim = entries_.end();
            for (auto it = entries_.begin(); it != entries_.end(); ++it)
                if (age(it->second) >= 1 &&
                    (victim == entries_.end() || age(it->second) >= age(victim->second)))
                    victim = it;
            if (victim == entries_.end()) {
                logln("No viable deletable entries found");
                return;
            }
            total -= sizeOf_(victim->second.value);
            K key = victim->first;
            V value = std::move(victim->second.value);
            entries_.erase(victim);
            if (destroy_) destroy_(key, value);
        }
    }

    std::mutex lock_;
    std::condition_variable madeOne_;
    std::unordered_map<K, Entry, Hash, Eq> entries_;
    std::vector<K> pending_;
    std::uint64_t clock_ = 0;
    Maker maker_;
    SizeOf sizeOf_;
    std::uint64_t capacity_;
    Destroy destroy_;
};

}  // namespace tools
