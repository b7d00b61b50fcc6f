#include "comics/base.hpp"

#include <gtest/gtest.h>

#include "comics/serialize.hpp"
#include "comics/storage.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "tools/ini.hpp"

namespace {

using comics::ComicState;
using comics::FileStorage;
using comics::Page;

class TestComic : public comics::Comic {
public:
    TestComic(FileStorage& s, std::string id) : Comic(s), id_(std::move(id)) {}
    std::string id() const override { return id_; }
    std::string name() const override { return "Test " + id_; }
    void add(int n) {
        std::lock_guard<std::recursive_mutex> hold(lock());
        for (int i = 0; i < n; ++i)
            state_.pages.push_back(
                Page{"REFER=h/" + std::to_string(i) + " h/" + std::to_string(i) + ".png",
                     "t" + std::to_string(i), "", ""});
    }
    // What an update does before it changes anything.
    void startUpdate() { keepAsGood(); }
    void setCustom(std::string custom) {
        std::lock_guard<std::recursive_mutex> hold(lock());
        state_.custom = std::move(custom);
    }

private:
    std::string id_;
};

class ThrowingComic : public TestComic {
public:
    using TestComic::TestComic;
    void save() override { throw std::runtime_error("disk on fire"); }
};

class BuiltIn : public comics::BuiltinComic {
public:
    using BuiltinComic::BuiltinComic;
    std::string id() const override { return "builtin"; }
    std::string name() const override { return "Built In"; }
    std::string section() const override { return "snafu: snafu"; }
};

ComicState stateWith(int pages, std::int32_t position) {
    ComicState s;
    for (int i = 0; i < pages; ++i) s.pages.push_back(Page{"img" + std::to_string(i), "", "", ""});
    s.position = position;
    s.custom = "blob";
    return s;
}

TEST(Comic, MissingEntryStartsEmptyWithOneLogLine) {
    FileStorage storage;
    testsupport::LogCapture log;
    auto c = comics::create<TestComic>(storage, "nothing");
    EXPECT_EQ(c->pageCount(), 0u);
    EXPECT_EQ(c->position(), 0);
    EXPECT_TRUE(log.hasLine("Exception [nothing not a file] .. Ignoring."));
}

TEST(Comic, DamagedEntryFailsTheComicAndIsNeverReplaced) {
    FileStorage storage;
    const std::string stored(11, '\0');
    storage.put("broken", stored);
    testsupport::LogCapture log;
    auto c = comics::create<TestComic>(storage, "broken");
    EXPECT_EQ(c->stateCopy(), ComicState{});
    EXPECT_TRUE(log.contains("Exception [Problem: can't splinter 4 from "));
    EXPECT_TRUE(c->failed);
    EXPECT_EQ(
        c->failure().rfind("Stored state of broken cannot be read: Problem: can't splinter", 0), 0u)
        << c->failure();
    // Even once a new update clears the failed flag, saving leaves the entry alone.
    c->failed = false;
    c->add(2);
    c->save();
    comics::saveAll({c}, testsupport::TempDir().file("s.zip"));
    EXPECT_EQ(storage.get("broken"), stored);
}

TEST(Comic, SaveAndLoadRoundTrip) {
    FileStorage storage;
    auto c = comics::create<TestComic>(storage, "x");
    c->add(3);
    c->setPosition(2);
    c->save();
    auto again = comics::create<TestComic>(storage, "x");
    EXPECT_EQ(again->stateCopy(), c->stateCopy());
    EXPECT_EQ(again->remaining(), 1);
}

TEST(Comic, RemainingIsPagesMinusPosition) {
    FileStorage storage;
    storage.put("r", comics::serialize::encode(stateWith(10, 3)));
    auto c = comics::create<TestComic>(storage, "r");
    EXPECT_EQ(c->remaining(), 7);
    c->setPosition(10);
    EXPECT_EQ(c->remaining(), 0);
}

TEST(Comic, PositionsOutsideTheListAreClamped) {
    FileStorage storage;
    storage.put("high", comics::serialize::encode(stateWith(4, 99)));
    storage.put("low", comics::serialize::encode(stateWith(4, -50)));
    storage.put("none", comics::serialize::encode(stateWith(0, 5)));
    EXPECT_EQ(comics::create<TestComic>(storage, "high")->position(), 4);
    EXPECT_EQ(comics::create<TestComic>(storage, "low")->position(), -1);
    EXPECT_EQ(comics::create<TestComic>(storage, "none")->position(), 0);
}

TEST(Comic, FailedComicKeepsItsStoredState) {
    FileStorage storage;
    std::string stored = comics::serialize::encode(stateWith(2, 1));
    storage.put("f", stored);
    auto c = comics::create<TestComic>(storage, "f");
    testsupport::LogCapture log;
    c->fail("No comics found");
    EXPECT_TRUE(c->failed);
    EXPECT_TRUE(log.contains("| \n| \n| FAIL: No comics found\n| \n| \n"));
    c->add(5);
    c->save();
    EXPECT_EQ(storage.get("f"), stored);
}

TEST(Comic, FailedUpdateKeepsTheLastGoodPagesAndTheReadPosition) {
    FileStorage storage;
    storage.put("f", comics::serialize::encode(stateWith(4, 1)));
    auto c = comics::create<TestComic>(storage, "f");
    c->startUpdate();
    c->add(3);  // the update's first finds, then it breaks
    c->setCustom("half way");
    c->setPosition(6);  // the reader looked at one of them
    c->fail("No comics found");
    EXPECT_EQ(c->pageCount(), 4u);  // the pages it had
    EXPECT_EQ(c->position(), 4);    // within them
    EXPECT_EQ(c->stateCopy().custom, "blob");
    // Reading on after the failure; anything an update still adds is not written.
    c->setPosition(2);
    c->add(5);
    c->save();
    ComicState written = comics::serialize::decode(storage.get("f"));
    ComicState expected = stateWith(4, 2);
    EXPECT_EQ(written, expected);
    // A later successful update starts from what the comic then holds.
    c->failed = false;
    c->startUpdate();
    c->add(1);
    c->save();
    EXPECT_EQ(comics::serialize::decode(storage.get("f")).pages.size(), 10u);
}

TEST(Comic, FailureBeforeAnyUpdateGoesBackToTheLoadedState) {
    FileStorage storage;
    const std::string stored = comics::serialize::encode(stateWith(3, 1));
    storage.put("l", stored);
    auto c = comics::create<TestComic>(storage, "l");
    auto d = comics::create<TestComic>(storage, "l");
    // Changed without an update starting, the stored entry replaced meanwhile.
    c->add(2);
    c->setCustom("changed");
    d->add(1);
    storage.put("l", "replaced");
    c->fail("No comics found");
    EXPECT_EQ(c->stateCopy(), stateWith(3, 1));
    // A comic marked failed by hand writes the loaded pages with its position.
    d->setPosition(2);
    d->failed = true;
    EXPECT_EQ(d->stateToWrite(), stateWith(3, 2));
    d->fail("again");
    EXPECT_EQ(d->pageCount(), 3u);
}

TEST(Comic, EntityCleanupAndCuts) {
    EXPECT_EQ(comics::entityCleanup("Tom&apos;s&nbsp;day"), "Tom's day");
    std::string text = "<a>1</a><b>x</b><a>2</a>";
    EXPECT_EQ(comics::between(text, "<a>", "</a>"), "1");
    EXPECT_EQ(comics::betweenLast(text, "<a>", "</a>"), "2");
    EXPECT_EQ(comics::allBetween(text, "<a>", "</a>"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(comics::after(text, "</b>"), "<a>2</a>");
    EXPECT_EQ(comics::afterLast(text, "</a>"), "");
    EXPECT_EQ(comics::between(text, "<c>", "</a>"), "");
    EXPECT_EQ(comics::between(text, "<a>", "</c>"), "");
    EXPECT_TRUE(comics::allBetween(text, "<c>", "x").empty());
}

TEST(SaveAll, OneFailingComicDoesNotStopTheOthers) {
    testsupport::TempDir dir(true);
    FileStorage& storage = comics::mainStorage();
    auto good = comics::create<TestComic>(storage, "good");
    good->add(2);
    auto bad = comics::create<ThrowingComic>(storage, "bad");
    testsupport::LogCapture log;
    comics::saveAll({bad, good});
    EXPECT_TRUE(log.hasLine("Saving comics ..."));
    EXPECT_TRUE(log.hasLine("Saving bad failed: disk on fire"));
    FileStorage back;
    back.read(testsupport::readFile("storage.dat.zip"));
    EXPECT_EQ(comics::serialize::decode(back.get("good")).pages.size(), 2u);
}

// A built-in comic whose section is its own identifier.
class NamedBuiltIn : public comics::BuiltinComic {
public:
    NamedBuiltIn(FileStorage& s, std::string id) : BuiltinComic(s), id_(std::move(id)) {}
    std::string id() const override { return id_; }
    std::string name() const override { return id_; }
    std::string section() const override { return "snafu: " + id_; }

private:
    std::string id_;
};

TEST(SaveAll, WritesTheConfigurationOncePerSave) {
    testsupport::TempDir dir(true);
    tools::useConfigFile("tovik.ini");
    std::vector<std::shared_ptr<comics::Comic>> list;
    for (int i = 0; i < 18; ++i)
        list.push_back(
            comics::create<NamedBuiltIn>(comics::mainStorage(), "b" + std::to_string(i)));
    const auto before = tools::config().writes();
    comics::saveAll(list);
    EXPECT_EQ(tools::config().writes(), before + 1);
    EXPECT_NE(testsupport::readFile("tovik.ini").find("[snafu: b17]\nactive = true\n"),
              std::string::npos);
    comics::saveAll(list);  // nothing changed: nothing written
    EXPECT_EQ(tools::config().writes(), before + 1);
    list[3]->active = false;
    comics::saveAll(list);
    EXPECT_EQ(tools::config().writes(), before + 2);
    for (const auto& c : list) comics::mainStorage().remove(c->id());
    tools::useConfigFile("tovik.ini");
}

TEST(BuiltinComic, ActiveFlagLivesInTheConfiguration) {
    testsupport::TempDir dir(true);
    testsupport::writeFile("tovik.ini", "[snafu: snafu]\nactive = FALSE\n");
    tools::useConfigFile("tovik.ini");
    FileStorage storage;
    auto c = comics::create<BuiltIn>(storage);
    EXPECT_FALSE(c->active);
    c->active = true;
    c->fail("broken");
    c->save();  // the key is written even for a failed comic
    EXPECT_EQ(testsupport::readFile("tovik.ini"), "[snafu: snafu]\nactive = true\n");
    // Its state as it was before the failure: nothing.
    EXPECT_EQ(comics::serialize::decode(storage.get("builtin")), ComicState{});

    testsupport::writeFile("tovik.ini", "[snafu: snafu]\nactive = yes\n");
    tools::useConfigFile("tovik.ini");
    try {
        comics::create<BuiltIn>(storage);
        FAIL() << "construction must fail";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Cannot parse yes as bool");
    }
    tools::useConfigFile("tovik.ini");
}

TEST(Registry, SnapshotKeepsAppendOrder) {
    FileStorage storage;
    comics::ComicRegistry list;
    auto a = comics::create<TestComic>(storage, "a");
    auto b = comics::create<TestComic>(storage, "b");
    list.append(a);
    list.append(b);
    auto snap = list.snapshot();
    ASSERT_EQ(snap.size(), 2u);
    EXPECT_EQ(snap[0]->id(), "a");
    EXPECT_EQ(snap[1]->toString(), "Test b");
}

}  // namespace
