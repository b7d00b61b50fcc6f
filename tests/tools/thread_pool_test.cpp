#include "tools/thread_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.hpp"
#include "tools/log.hpp"

namespace {

using namespace std::chrono_literals;

template <class Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit = 5000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// When the last copy of a task's action goes away (after the task ended), waits
// for a signal and logs.
struct SayGone {
    explicit SayGone(std::atomic<bool>* signal) : go(signal) {}
    SayGone(const SayGone&) = delete;
    std::atomic<bool>* go;
    ~SayGone() {
        waitFor([this] { return go->load(); });
        tools::logln("gone");
    }
};

TEST(ThreadPool, IdlePoolHasNoWork) {
    tools::ThreadPool p(3);
    EXPECT_EQ(p.workerCount(), 3u);
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(p.anyWork());
    p.runOneTaskHere();  // empty queue: nothing happens
    EXPECT_FALSE(p.anyWork());
}

TEST(ThreadPool, RunsTasksInOrderUnderTheirNames) {
    testsupport::LogCapture capture(true);
    std::mutex lock;
    std::vector<int> order;
    std::atomic<bool> go{false};
    {
        tools::ThreadPool p(1);
        std::atomic<bool> gate{false};
        p.addTask("Gate", [&] { waitFor([&] { return gate.load(); }); });
        for (int i = 1; i <= 3; ++i)
            p.addTask("Task " + std::to_string(i), [i, &lock, &order] {
                tools::logln("running ", i);
                std::lock_guard<std::mutex> hold(lock);
                order.push_back(i);
            });
        gate = true;
        ASSERT_TRUE(waitFor([&] { return !p.anyWork(); }));
        EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

        // A worker logs under its task's name whenever another thread wrote in between.
        std::atomic<bool> acted{false};
        tools::logln("main before");
        // The task holds the only reference (had this thread kept one until after
        // addTask, a quick worker could leave this thread the last one).
        p.addTask("Named", [&acted, gone = std::make_shared<SayGone>(&go)] {
            tools::logln("acting");
            acted = true;
        });
        ASSERT_TRUE(waitFor([&] { return acted.load(); }));
        tools::logln("main in between");
        go = true;
        ASSERT_TRUE(waitFor([&] { return !p.anyWork(); }));
    }
    std::string log = capture.text();
    // Each task's lines stand under its own name, also when one worker runs them in a row.
    EXPECT_NE(log.find("--[ Task 1 ]------\n| running 1\n+--[ Task 2 ]------\n| running 2\n"
                       "+--[ Task 3 ]------\n| running 3\n"),
              std::string::npos)
        << log;
    auto named = log.find("--[ Named ]------\n| acting\n");
    ASSERT_NE(named, std::string::npos) << log;
    // Once the task is over the worker has no name of its own.
    auto after = log.find("| main in between\n+--[ Unidentified #", named);
    ASSERT_NE(after, std::string::npos) << log;
    EXPECT_NE(log.find(" ]------\n| gone\n", after), std::string::npos) << log;
}

TEST(ThreadPool, FailingTaskIsLoggedAndWorkerGoesOn) {
    testsupport::LogCapture capture(true);
    std::atomic<int> ran{0};
    {
        tools::ThreadPool p(1);
        p.addTask("Bad one", [] { throw std::runtime_error("boom"); });
        p.addTask("Odd one", [] { throw 42; });
        p.addTask("Good one", [&] { ++ran; });
        ASSERT_TRUE(waitFor([&] { return ran.load() == 1 && !p.anyWork(); }));
    }
    std::string log = capture.text();
    EXPECT_NE(log.find("--[ Bad one ]------\n| Task failed with boom\n+--[ Odd one ]------\n"
                       "| Task failed with an unknown exception\n"),
              std::string::npos)
        << log;
}

TEST(ThreadPool, RunOneTaskHereUsesTheCallingThread) {
    tools::ThreadPool p(0);
    std::thread::id ranOn;
    p.addTask("here", [&] { ranOn = std::this_thread::get_id(); });
    p.addTask("fails", [] { throw std::runtime_error("x"); });
    p.runOneTaskHere();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_NO_THROW(p.runOneTaskHere());
    EXPECT_FALSE(p.anyWork());
}

TEST(ThreadPool, PauseOfIdlePoolReturnsAtOnce) {
    testsupport::LogCapture capture(true);
    tools::ThreadPool p(4);
    std::this_thread::sleep_for(30ms);
    auto started = std::chrono::steady_clock::now();
    p.pause();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
    std::string log = capture.text();
    EXPECT_NE(log.find("| 0 Tasks running\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(" paused"), std::string::npos) << log;
    p.resume();
}

TEST(ThreadPool, PauseWaitsForRunningTaskAndHoldsQueue) {
    testsupport::LogCapture capture(true);
    tools::ThreadPool p(2);
    std::atomic<bool> release{false};
    std::atomic<bool> inside{false};
    std::atomic<bool> finished{false};
    p.addTask("slow", [&] {
        inside = true;
        while (!release) std::this_thread::sleep_for(1ms);
        finished = true;
    });
    ASSERT_TRUE(waitFor([&] { return inside.load(); }));

    std::atomic<bool> pauseReturned{false};
    std::thread pauser([&] {
        p.pause();
        pauseReturned = true;
    });
    std::this_thread::sleep_for(60ms);
    EXPECT_FALSE(pauseReturned.load());
    release = true;
    pauser.join();
    EXPECT_TRUE(finished.load());
    std::string log = capture.text();
    EXPECT_NE(log.find("| 1 Tasks running\n"), std::string::npos) << log;
    EXPECT_NE(log.find("| 1 paused\n"), std::string::npos) << log;

    // While paused nothing is taken and new tasks are dropped.
    std::mutex lock;
    std::vector<std::string> ran;
    auto record = [&](std::string what) {
        return [&, what] {
            std::lock_guard<std::mutex> hold(lock);
            ran.push_back(what);
        };
    };
    p.addTask("dropped", record("dropped"));
    std::this_thread::sleep_for(40ms);
    {
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_TRUE(ran.empty());
    }
    EXPECT_FALSE(p.anyWork());
    p.resume();
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(ran.empty());
}

TEST(ThreadPool, ResumeRunsTasksHeldBackByPauseInOrder) {
    tools::ThreadPool p(1);
    std::atomic<bool> release{false};
    std::atomic<bool> inside{false};
    p.addTask("blocker", [&] {
        inside = true;
        while (!release) std::this_thread::sleep_for(1ms);
    });
    ASSERT_TRUE(waitFor([&] { return inside.load(); }));
    std::mutex lock;
    std::vector<int> ran;
    for (int i = 0; i < 3; ++i)
        p.addTask("t", [&, i] {
            std::lock_guard<std::mutex> hold(lock);
            ran.push_back(i);
        });
    std::thread pauser([&] { p.pause(); });
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(p.anyWork());  // held-back tasks count as work
    release = true;
    pauser.join();
    p.addTask("late", [&] {
        std::lock_guard<std::mutex> hold(lock);
        ran.push_back(99);
    });
    p.resume();
    ASSERT_TRUE(waitFor([&] { return !p.anyWork(); }));
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
}

TEST(ThreadPool, AddedWorkersShareTheQueue) {
    tools::ThreadPool p(0);
    p.addWorker();
    p.addWorker();
    EXPECT_EQ(p.workerCount(), 2u);
    std::atomic<int> together{0};
    std::atomic<int> peak{0};
    for (int i = 0; i < 2; ++i)
        p.addTask("pair", [&] {
            int now = ++together;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            waitFor([&] { return peak.load() == 2; }, 2000ms);
            --together;
        });
    ASSERT_TRUE(waitFor([&] { return !p.anyWork(); }));
    EXPECT_EQ(peak.load(), 2);
}

}  // namespace

namespace {

// Idle workers only wake when told: a lost wake-up would leave a task queued
// for good, so every round waits for its task with a deadline.
TEST(ThreadPool, EveryQueuedTaskWakesAnIdleWorker) {
    for (int workers : {1, 3}) {
        tools::ThreadPool pool(workers);
        std::atomic<int> done{0};
        for (int round = 1; round <= 500; ++round) {
            pool.addTask("Wake", [&done] { ++done; });
            ASSERT_TRUE(waitFor([&] { return done.load() == round; }, 5000ms))
                << "task " << round << " never ran with " << workers << " workers";
        }
    }
}

TEST(ThreadPool, TasksFromManyThreadsAllRunAndPauseResumeStillWakes) {
    tools::ThreadPool pool(4);
    std::atomic<int> done{0};
    std::vector<std::thread> adders;
    for (int t = 0; t < 4; ++t)
        adders.emplace_back([&pool, &done] {
            for (int i = 0; i < 500; ++i) pool.addTask("Many", [&done] { ++done; });
        });
    for (auto& a : adders) a.join();
    ASSERT_TRUE(waitFor([&] { return done.load() == 2000; }));
    pool.pause();
    pool.addTask("Dropped while paused", [&done] { ++done; });
    pool.resume();
    pool.addTask("After resume", [&done] { ++done; });
    ASSERT_TRUE(waitFor([&] { return done.load() == 2001; }));
    EXPECT_FALSE(waitFor([&] { return !pool.anyWork() && done.load() > 2001; }, 50ms));
}

}  // namespace
