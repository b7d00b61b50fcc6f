// The strip area: the strip view, its link bar and the opener of addresses.
#include "reader/strip_area.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "gui/layouts.hpp"
#include "gui/leaves.hpp"
#include "gui/sdl_bridge.hpp"
#include "sdloo/window.hpp"
#include "tools/log.hpp"

extern char** environ;

namespace reader {

using gui::WidgetList;
using gui::WidgetPtr;

// ---- the opener ----

std::vector<std::string> openerCommand(const std::string& address) {
    std::string target = address;
    if (target.rfind("http://", 0) != 0 && target.rfind("https://", 0) != 0)
        target = "http://" + target;
    return {"xdg-open", target};
}

void openURL(const std::string& address) {
    const std::vector<std::string> argv = openerCommand(address);
    const std::string& target = argv[1];
    tools::logln("Attempt to openURL(", target, "); ");
    // Started directly with an argument vector: the address comes from plugin
    // files and web pages and must never reach a shell.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        tools::logln("Failed to open ", target, ": ", std::strerror(rc));
        return;
    }
    // The opener hands the address to the browser and ends; a detached waiter
    // would outlive the window, so collect it without blocking the loop later.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// ---- StripImage ----

StripImage::StripImage(libgd::Image image, std::string caption, std::function<bool()> centre)
    : gui::LazyWidget([this] { return make(); }),
      image_(std::move(image)),
      caption_(std::move(caption)),
      centre_(std::move(centre)) {}

WidgetPtr StripImage::make() {
    libgd::Image image = std::move(image_);  // destroyed when this ends
    try {
        view_ = std::make_shared<gui::ImageView>(libgd::toSurface(image.get()), centre_);
    } catch (const std::exception& e) {
        tools::logln("Showing the strip failed: ", e);
        return std::make_shared<gui::TextBox>(std::string("Error: ") + e.what());
    }
    sdloo::setCaption(caption_);
    return view_;
}

// ---- StripError ----

StripError::StripError(std::string text, std::string caption)
    : gui::TextBox(" "), text_(std::move(text)), caption_(std::move(caption)) {
    // The text is first read when the view is drawn: the caption follows then.
    label = gui::BoundValue<std::string>::bound([this] {
        if (!captionShown_) {
            sdloo::setCaption(caption_);
            captionShown_ = true;
        }
        return text_;
    });
}

// ---- the strip area ----

StripArea::StripArea(gui::UiBridge& bridge, const Selection& selection)
    : bridge_(bridge), selection_(selection) {}

StripArea::~StripArea() {
    gui::GuiLock hold;
    stripView_.reset();
}

void StripArea::setStripView(WidgetPtr w) { replaceView(std::move(w), {}); }

void StripArea::replaceView(WidgetPtr w, std::string ref) {
    {
        gui::GuiLock hold;
        shownRef_ = std::move(ref);
        WidgetPtr old = std::move(stripView_);
        stripView_ = std::move(w);
        if (stripView_) stripView_->setChanged();
        // The old view (and the surface it showed) is freed on the loop's thread.
        if (old) gui::retire(std::move(old));
    }
    bridge_.requestRepaint(true);
}

WidgetPtr StripArea::stripView() {
    gui::GuiLock hold;
    return stripView_;
}

WidgetPtr StripArea::linkBar(const comics::LinkList& links) {
    WidgetList buttons;
    for (const auto& [label, address] : links)
        buttons.push_back(std::make_shared<gui::Button>(std::make_shared<gui::Text>(label), false,
                                                        [address = address] { openURL(address); }));
    return std::make_shared<gui::PlainSplitWidget>(false, std::move(buttons));
}

WidgetPtr StripArea::stripArea() {
    const ComicPtr current = selection_.currentComic();
    if (stripArea_ && stripAreaFor_ == current.get()) return stripArea_;
    stripAreaFor_ = current.get();
    WidgetPtr holder = std::make_shared<gui::RebuiltWidget>([this] {
        gui::GuiLock hold;
        return stripView_ ? stripView_ : std::make_shared<gui::TextBox>(" ");
    });
    comics::LinkList links;
    if (current) links = current->urls();
    if (links.empty())
        stripArea_ = holder;
    else
        stripArea_ = std::make_shared<gui::FixedSplit>(true, 32, linkBar(links), holder);
    return stripArea_;
}

void StripArea::showStrip(libgd::Image image, std::string caption, std::string ref) {
    replaceView(std::make_shared<StripImage>(std::move(image), std::move(caption),
                                             [this] { return centered.get(); }),
                std::move(ref));
}

bool StripArea::showsStrip(const std::string& ref) {
    gui::GuiLock hold;
    return !ref.empty() && ref == shownRef_;
}

void StripArea::showError(std::string text, std::string caption) {
    setStripView(std::make_shared<StripError>(std::move(text), std::move(caption)));
}

std::shared_ptr<gui::ImageView> StripArea::imageView() {
    auto strip = std::dynamic_pointer_cast<StripImage>(stripView());
    return strip ? strip->view() : nullptr;
}

void StripArea::reset() { stripArea_.reset(); }

}  // namespace reader
