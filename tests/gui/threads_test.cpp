// Another thread changes the tree under the GUI lock while the loop draws.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "gui_fixture.hpp"

using namespace gui;
using guitest::Recorder;

namespace {

class Threads : public guitest::GuiTest {};

// Remembers on which thread it was freed.
class Witness : public Recorder {
public:
    Witness(std::mutex& lock, std::vector<std::thread::id>& freedOn)
        : lock_(lock), freedOn_(freedOn) {}
    ~Witness() override {
        std::lock_guard<std::mutex> hold(lock_);
        freedOn_.push_back(std::this_thread::get_id());
    }

private:
    std::mutex& lock_;
    std::vector<std::thread::id>& freedOn_;
};

}  // namespace

TEST_F(Threads, AWorkerSwapsASubtreeWhileTheLoopDrawsAndDispatches) {
    std::mutex lock;
    std::vector<std::thread::id> freedOn;
    auto makeSubtree = [&](int i) {
        sdloo::Surface image = sdloo::makeSurface(300, 400 + i);
        SDL_FillRect(image.get(), nullptr, SDL_MapRGB(image->format, 0, 0, static_cast<Uint8>(i)));
        auto strip = std::make_shared<ImageView>(std::move(image));
        auto label = std::make_shared<Text>("strip " + std::to_string(i));
        auto witness = std::make_shared<Witness>(lock, freedOn);
        return std::make_shared<FixedSplit>(
            true, 20, std::make_shared<PlainSplitWidget>(false, WidgetList{label, witness}), strip);
    };
    auto stack = std::make_shared<StackWidget>(WidgetList{makeSubtree(0)});
    SdlBridge bridge(stack);
    st->requestRepaint = [&] { bridge.requestRepaint(false); };
    bridge.requestRepaint(true);

    constexpr int swaps = 60;
    std::atomic<int> done{0};
    std::thread worker([&] {
        for (int i = 1; i <= swaps; ++i) {
            WidgetList old;
            {
                GuiLock hold;
                old = stack->children();
                stack->setChildren({makeSubtree(i)});
            }
            for (auto& w : old) retire(std::move(w));
            bridge.requestRepaint(i % 3 == 0);
            if (i % 5 == 0) {
                SDL_Event e{};
                e.type = SDL_MOUSEMOTION;
                e.motion.x = static_cast<Uint16>(10 + i);
                e.motion.y = 100;
                SDL_PushEvent(&e);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            done = i;
        }
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
    });
    bridge.loop();
    worker.join();
    EXPECT_EQ(done.load(), swaps);

    // The last swap may still wait for a repaint to be freed.
    bridge.requestRepaint(false);
    bridge.repaint();
    stack->setChildren({});
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(freedOn.size(), static_cast<std::size_t>(swaps + 1));
    for (const auto& id : freedOn) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(Threads, RepaintRequestsFromOtherThreadsOnlySetFlags) {
    auto root = std::make_shared<Recorder>();
    SdlBridge bridge(root);
    root->clearChanged();
    std::thread other([&] { bridge.requestRepaint(true); });
    other.join();
    EXPECT_TRUE(bridge.needsRepaint);
    EXPECT_FALSE(root->changed());  // marked on the loop's thread, at the repaint
    EXPECT_TRUE(bridge.repaint());
    EXPECT_EQ(root->draws, 1);
}
