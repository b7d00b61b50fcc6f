#include "tools/log.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "tools/thread.hpp"

namespace {

struct Named {
    std::string toString() const { return "named object"; }
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(Log, FormatsEachKindOfArgument) {
    testsupport::LogCapture capture;
    tools::logln(7, " Tasks running");
    tools::logln(true);
    tools::logln(false);
    const Named* none = nullptr;
    tools::logln(none);
    Named named;
    tools::logln(&named, "|", named);
    tools::logln(std::vector<std::string>{"a", "b"});
    tools::logln(std::vector<std::string>{});
    tools::logln(std::runtime_error("boom"), " ", -12, " ", std::string_view("view"));
    tools::logln(std::vector<std::vector<int>>{{1, 2}, {}});
    EXPECT_TRUE(capture.hasLine("7 Tasks running"));
    EXPECT_TRUE(capture.hasLine("True"));
    EXPECT_TRUE(capture.hasLine("False"));
    EXPECT_TRUE(capture.hasLine("(null)"));
    EXPECT_TRUE(capture.hasLine("named object|named object"));
    EXPECT_TRUE(capture.hasLine("[a, b]"));
    EXPECT_TRUE(capture.hasLine("[]"));
    EXPECT_TRUE(capture.hasLine("boom -12 view"));
    EXPECT_TRUE(capture.hasLine("[[1, 2], []]"));
}

TEST(Log, HeadersMarkEachChangeOfThread) {
    testsupport::LogCapture capture;
    tools::resetLogForTests();
    tools::logln("one");
    tools::logln("two");
    tools::Thread([] { tools::logln("from a thread"); }).join();
    tools::Thread([] {
        tools::setThreadName("Global update for Foo");
        tools::logln("named");
        tools::clearThreadName();
    }).join();
    tools::logln("three");
    auto lines = splitLines(capture.text());
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "/--[ Main Thread ]------");
    EXPECT_EQ(lines[1], "| one");
    EXPECT_EQ(lines[2], "| two");
    EXPECT_EQ(lines[3], "+--[ Unidentified #1 ]------");
    EXPECT_EQ(lines[4], "| from a thread");
    EXPECT_EQ(lines[5], "+--[ Global update for Foo ]------");
    EXPECT_EQ(lines[6], "| named");
    EXPECT_EQ(lines[7], "+--[ Main Thread ]------");
    EXPECT_EQ(lines[8], "| three");
}

TEST(Log, ClosingLineIsAsWideAsTheLastHeader) {
    testsupport::LogCapture capture;
    tools::resetLogForTests();
    tools::logln("x");
    tools::shutdownLog();
    auto lines = splitLines(capture.text());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "\\" + std::string(23, '-'));
    EXPECT_EQ(lines[2].size(), lines[0].size());
}

TEST(Log, NothingLoggedMeansNoClosingLine) {
    testsupport::LogCapture capture;
    tools::resetLogForTests();
    tools::shutdownLog();
    EXPECT_EQ(capture.text(), "");
}

TEST(Log, SlotsAreTheLowestFreeAndReused) {
    int first = 0, second = 0, third = 0;
    {
        tools::Thread a([&] { first = tools::threadSlot(); });
        a.join();
        tools::Thread b([&] { second = tools::threadSlot(); });
        b.join();
    }
    EXPECT_EQ(tools::threadSlot(), 0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);  // the first thread's slot was freed when it ended
    std::atomic<bool> release{false}, holding{false};
    tools::Thread holder([&] {
        tools::threadSlot();
        holding = true;
        while (!release) std::this_thread::yield();
    });
    while (!holding) std::this_thread::yield();
    tools::Thread([&] { third = tools::threadSlot(); }).join();
    release = true;
    holder.join();
    EXPECT_EQ(third, 2);
}

TEST(Log, FileGetsTheSameLinesAsTheOutput) {
    testsupport::TempDir dir;
    testsupport::LogCapture capture;
    tools::resetLogForTests();
    tools::logln("before the file");
    ASSERT_TRUE(tools::openLogFile(dir.file("tovik.log")));
    tools::logln("Logfile open");
    // Each line is in the file at once, not when a buffer fills or the log closes.
    EXPECT_EQ(testsupport::readFile(dir.file("tovik.log")), "| Logfile open\n");
    tools::logln("second");
    EXPECT_EQ(testsupport::readFile(dir.file("tovik.log")), "| Logfile open\n| second\n");
    tools::shutdownLog();
    EXPECT_FALSE(tools::openLogFile(dir.file("missing/dir/tovik.log")));
    tools::logln("still logging");  // no file: standard output only, nothing fails
    EXPECT_TRUE(capture.hasLine("still logging"));
}

TEST(Log, ConcurrentLinesStayWhole) {
    testsupport::LogCapture capture;
    const int threads = 8, lines = 200;
    {
        std::vector<tools::Thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([t] {
                for (int i = 0; i < lines; ++i) tools::logln("thread ", t, " line ", i, " end");
            });
    }
    int messages = 0;
    for (const auto& line : splitLines(capture.text())) {
        if (line.rfind("| ", 0) == 0) {
            ++messages;
            EXPECT_EQ(line.substr(line.size() - 4), " end") << line;
        } else {
            EXPECT_TRUE(line.rfind("+--[ ", 0) == 0 || line.rfind("/--[ ", 0) == 0) << line;
        }
    }
    EXPECT_EQ(messages, threads * lines);
}

}  // namespace
