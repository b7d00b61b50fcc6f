#include "tools/buffer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.hpp"

namespace {

using Cache = tools::Buffer<std::string, std::string>;

// Values are the key repeated: "aaaaaa" for a size-6 value keyed "6a".
struct Counted {
    std::atomic<int> calls{0};
    Cache::Maker maker() {
        return [this](const std::string& key) {
            ++calls;
            return std::string(static_cast<std::size_t>(std::stoi(key)), key.back());
        };
    }
};

std::uint64_t length(const std::string& value) { return value.size(); }

}  // namespace

TEST(Buffer, MakesOnceAndHitsAfterwards) {
    Counted made;
    Cache cache(made.maker(), length, 100);
    EXPECT_FALSE(cache.has("3x"));
    EXPECT_EQ(cache.get("3x"), "xxx");
    EXPECT_TRUE(cache.has("3x"));
    EXPECT_EQ(cache.get("3x"), "xxx");
    EXPECT_EQ(made.calls, 1);

    // A maker of the caller's makes a missing value only; a stored one is a hit.
    Counted other;
    EXPECT_EQ(cache.get("3x", other.maker()), "xxx");
    EXPECT_EQ(cache.get("2y", other.maker()), "yy");
    EXPECT_EQ(cache.get("2y"), "yy");
    EXPECT_EQ(made.calls, 1);
    EXPECT_EQ(other.calls, 1);
}

TEST(Buffer, EvictsTheOlderEntryOverCapacity) {
    Counted made;
    std::vector<std::string> destroyed;
    Cache cache(made.maker(), length, 10,
                [&](const std::string& key, std::string&) { destroyed.push_back(key); });
    cache.get("6a");
    cache.get("6b");
    EXPECT_FALSE(cache.has("6a"));
    EXPECT_TRUE(cache.has("6b"));
    EXPECT_EQ(destroyed, std::vector<std::string>{"6a"});
    EXPECT_EQ(cache.totalSize(), 6u);
}

TEST(Buffer, OversizedFreshValueStaysWithALogLine) {
    Counted made;
    testsupport::LogCapture log;
    Cache cache(made.maker(), length, 10);
    EXPECT_EQ(cache.get("20z").size(), 20u);
    EXPECT_TRUE(cache.has("20z"));
    EXPECT_TRUE(log.hasLine("No viable deletable entries found"));
}

TEST(Buffer, LeastRecentlyUsedGoesFirst) {
    Counted made;
    Cache cache(made.maker(), length, 3);
    cache.get("1a");
    cache.get("1b");
    cache.get("1c");
    cache.get("1a");  // a is fresh again; b is now the oldest
    cache.get("1d");
    EXPECT_TRUE(cache.has("1a"));
    EXPECT_FALSE(cache.has("1b"));
    EXPECT_TRUE(cache.has("1c"));
    EXPECT_TRUE(cache.has("1d"));
    EXPECT_EQ(made.calls, 4);
}

TEST(Buffer, ClearAndDestructorTellTheDestroyFunction) {
    Counted made;
    std::map<std::string, std::string> destroyed;
    {
        Cache cache(made.maker(), length, 100,
                    [&](const std::string& key, std::string& value) { destroyed[key] = value; });
        cache.get("1a");
        cache.clear();
        EXPECT_EQ(destroyed.size(), 1u);
        EXPECT_FALSE(cache.has("1a"));
        cache.get("2b");
    }
    EXPECT_EQ(destroyed["2b"], "bb");
}

TEST(Buffer, TwoThreadsAskingForOneMissingKeyMakeItOnce) {
    std::atomic<int> calls{0};
    Cache cache(
        [&](const std::string& key) {
            ++calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return key + "!";
        },
        length, 100);
    std::string first, second;
    std::thread a([&] { first = cache.get("k"); });
    std::thread b([&] { second = cache.get("k"); });
    a.join();
    b.join();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(first, "k!");
    EXPECT_EQ(second, "k!");
}

TEST(Buffer, FailedMakeIsNotStoredAndIsRetried) {
    std::atomic<int> calls{0};
    Cache cache(
        [&](const std::string& key) -> std::string {
            if (++calls == 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                throw std::runtime_error("no luck");
            }
            return key;
        },
        length, 100);
    // The second thread waits for the first; when that one fails it makes the value itself.
    std::atomic<int> failures{0};
    std::vector<std::string> results(2);
    std::thread a([&] {
        try {
            results[0] = cache.get("k");
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "no luck");
            ++failures;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::thread b([&] {
        try {
            results[1] = cache.get("k");
        } catch (const std::runtime_error&) {
            ++failures;
        }
    });
    a.join();
    b.join();
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(cache.has("k"));
    EXPECT_EQ(cache.get("k"), "k");
}

TEST(Buffer, ManyThreadsKeepTheCacheWithinCapacity) {
    Counted made;
    Cache cache(made.maker(), length, 20);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                std::string key = std::to_string(1 + (i + t) % 5) + char('a' + (i * 7 + t) % 9);
                EXPECT_EQ(cache.get(key).size(), static_cast<std::size_t>(key[0] - '0'));
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_LE(cache.totalSize(), 20u);
}
