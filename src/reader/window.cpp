// The reader window: layout, comic list order, tree rows, keys, tabs, sorting,
// type-ahead search and full-screen switching.
#include "reader/window.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <thread>

#include "comics/storage.hpp"
#include "reader/clipboard.hpp"
#include "reader/page_loading.hpp"
#include "sdloo/ttf.hpp"
#include "tools/log.hpp"

extern char** environ;

namespace reader {

using gui::WidgetList;
using gui::WidgetPtr;
using Hold = std::lock_guard<std::recursive_mutex>;

// ---- pure parts ----

bool nameAfter(const std::string& a, const std::string& b) {
    auto fold = [](unsigned char c) { return c < 'a' ? c + 32 : int(c); };
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int x = fold(static_cast<unsigned char>(a[i])), y = fold(static_cast<unsigned char>(b[i]));
        if (x != y) return x > y;
    }
    return a.size() > b.size();
}

bool outOfOrder(const comics::comic& a, const comics::comic& b, tools::sortMode mode) {
    switch (mode) {
        case tools::sortMode::byName:
            return nameAfter(a.name(), b.name());
        case tools::sortMode::byUnread:
            return a.remaining() < b.remaining();
        case tools::sortMode::byStrips:
            return a.pageCount() < b.pageCount();
        case tools::sortMode::unsorted:
        default:
            return a.listIndex.load() > b.listIndex.load();
    }
}

void combSort(ComicList& list, tools::sortMode mode) {
    const std::size_t n = list.size();
    if (n < 2) return;
    std::size_t gap = n;
    for (;;) {
        gap = static_cast<std::size_t>(static_cast<double>(gap) / 1.3);
        if (gap == 9 || gap == 10) gap = 11;
        if (gap < 1) gap = 1;  // a gap of 0 would never end
        bool swapped = false;
        for (std::size_t i = 0; i + gap < n; ++i) {
            if (outOfOrder(*list[i], *list[i + gap], mode)) {
                std::swap(list[i], list[i + gap]);
                swapped = true;
            }
        }
        if (gap == 1 && !swapped) return;
    }
}

std::vector<std::string> countText(std::int32_t pages, std::int32_t position,
                                   tools::sortMode mode) {
    const std::int32_t read = pages == 0 ? 0 : position + 1;
    const std::int32_t unread = pages - read;
    if (mode == tools::sortMode::byUnread) {
        if (unread != 0) return {std::to_string(pages), " (", std::to_string(unread), ") "};
        return {std::to_string(pages), " "};
    }
    return {std::to_string(read), "/", std::to_string(pages), " "};
}

std::vector<std::string> updateCaption(int changed, int updating) {
    std::vector<std::string> parts;
    if (changed != 0) parts = {std::to_string(changed), " "};
    parts.push_back("Update");
    if (changed > 1) parts.push_back("s");
    if (updating != 0) {
        parts.push_back("(");
        parts.push_back(std::to_string(updating));
        parts.push_back(")");
    }
    return parts;
}

std::string searchKey(const std::string& name) {
    std::string key;
    for (char ch : name) {
        char c = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
        if (c >= 'a' && c <= 'z') key.push_back(c);
    }
    return key;
}

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

// ---- stripImage ----

stripImage::stripImage(libgd::Image image, std::string caption, std::function<bool()> centre)
    : gui::delay([this] { return make(); }),
      image_(std::move(image)),
      caption_(std::move(caption)),
      centre_(std::move(centre)) {}

WidgetPtr stripImage::make() {
    libgd::Image image = std::move(image_);  // destroyed when this ends
    try {
        view_ = std::make_shared<gui::showsurf>(libgd::toSurface(image.get()), centre_);
    } catch (const std::exception& e) {
        tools::logln("Showing the strip failed: ", e);
        return std::make_shared<gui::textbox>(std::string("Error: ") + e.what());
    }
    SDL_WM_SetCaption(sdloo::repairUtf8(caption_).c_str(), nullptr);
    return view_;
}

// ---- user_interface ----

user_interface::user_interface(tools::pool& pagePool, tools::pool& updatePool,
                               StoreAction storeToDisk, ComicList list, bool useRegistry)
    : bridge(std::make_shared<gui::callback>([this] { return root_; })),
      pagePool_(pagePool),
      updatePool_(updatePool),
      storeToDisk_(std::move(storeToDisk)),
      comics_(useRegistry && list.empty() ? comics::registry().snapshot() : std::move(list)) {
    sortComics();
    if (!gui::haveDefaultStyle()) gui::setDefaultStyle(std::make_shared<gui::style>());
    auto st = gui::defaultStyle();
    st->bridge = &bridge;
    st->requestRepaint = [this] { bridge.requestRepaint(false); };
    root_ = std::make_shared<gui::textbox>("TOVIK.2 ready");
}

user_interface::~user_interface() {
    // No task may run on a destroyed interface: hold both pools still.
    pagePool_.pause();
    updatePool_.pause();
    if (gui::haveDefaultStyle()) {
        auto st = gui::defaultStyle();
        if (st->bridge == &bridge) {
            st->bridge = nullptr;
            st->requestRepaint = nullptr;
        }
    }
    gui::GuiLock hold;
    stripView_.reset();
}

ComicPtr user_interface::currentComic() const {
    std::lock_guard<std::mutex> hold(currentLock_);
    return current_;
}

void user_interface::setCurrentComic(ComicPtr c) {
    std::lock_guard<std::mutex> hold(currentLock_);
    current_ = std::move(c);
}

ComicList user_interface::comicList() const {
    std::lock_guard<std::mutex> hold(listLock_);
    return comics_;
}

void user_interface::sortComics() {
    std::lock_guard<std::mutex> hold(listLock_);
    combSort(comics_, sortmode.get());
}

void user_interface::setTab(bool t) {
    tab_ = t;
    std::cout << "Tab mode switched to " << (t ? "'active'" : "'available'") << std::endl;
    requestRepaint();
}

void user_interface::setHovered(ComicPtr c) {
    if (hovered_ == c) return;
    hovered_ = std::move(c);
    requestRepaint();
}

std::string user_interface::pageLabel(const comics::comic& c, int index) const {
    return "#" + std::to_string(index + 1) + " of " + c.name();
}

void user_interface::scrollTreeTo(int row) {
    if (treeBox_) treeBox_->select(row);
}

void user_interface::collapseCurrent() {
    if (auto c = currentComic()) c->expanded = false;
    requestRepaint();
}

void user_interface::selectComic(const ComicPtr& c, int page) {
    if (!c) return;
    tools::logln("Clicked on comic ", c->name(), ", file ", c->id(), ", type ", c->typeName(), "!");
    if (page == -1) page = c->position();
    selectPage(c, std::max(page, 0), false);
    // A damaged stored position below -1 must not prefetch a negative index.
    if (page + 1 >= 0) selectPage(c, page + 1, true);
    requestRepaint();
}

// ---- the tree ----

namespace {

std::shared_ptr<gui::formattedText> formatted(const std::vector<std::string>& parts,
                                              gui::rgba colour, WidgetPtr background = nullptr) {
    std::vector<gui::dgValue<std::string>> values;
    for (const auto& p : parts) values.emplace_back(p.empty() ? std::string(" ") : p);
    auto t = std::make_shared<gui::formattedText>(std::move(values), false, std::move(background));
    for (auto& c : t->colours) c = colour;
    return t;
}

}  // namespace

WidgetPtr user_interface::comicRow(const ComicPtr& c, bool isCurrent, bool isMatch) {
    const auto n = static_cast<std::int32_t>(c->pageCount());
    const std::int32_t position = c->position();
    std::vector<std::string> parts = countText(n, position, sortmode.get());
    const std::size_t countParts = parts.size();
    parts.push_back(c->name());

    WidgetPtr background;
    if (c->failed)
        background = std::make_shared<gui::ColoredPane>(255, 192, 192);
    else if (c->changed)
        background = std::make_shared<gui::ColoredPane>(192, 255, 192);
    auto label = formatted(parts, gui::defaultStyle()->textColour, background);
    const bool unread = position + 1 < n;
    for (std::size_t i = 0; i < countParts; ++i) label->settings[i].bold = unread;
    label->settings[countParts].italic = isCurrent;

    auto comicButton = std::make_shared<gui::button>(
        label, isMatch, [this, c] { selectComic(c, -1); }, false,
        [this, c](bool entered) { setHovered(entered ? c : nullptr); });

    WidgetPtr expander;
    if (c->failed) {
        expander = std::make_shared<gui::text>(" ");
    } else {
        expander = std::make_shared<gui::button>(
            std::make_shared<gui::text>(c->expanded ? "-" : "+"), false, [this, c] {
                c->expanded = !c->expanded;
                requestRepaint();
            });
    }

    WidgetPtr rest = comicButton;
    if (isCurrent || c == hovered_) {
        auto u = std::make_shared<gui::button>(std::make_shared<gui::text>("U"), false,
                                               [this, c] { selectiveUpdate(c); });
        const bool active = c->active;
        auto toggleLabel = formatted({active ? "X" : "A"}, gui::defaultStyle()->textColour,
                                     active ? std::make_shared<gui::ColoredPane>(255, 192, 192)
                                            : std::make_shared<gui::ColoredPane>(192, 255, 192));
        toggleLabel->centred = true;
        auto toggle = std::make_shared<gui::button>(toggleLabel, false, [this, c] {
            const bool nowActive = !c->active;
            c->active = nowActive;
            if (nowActive) c->attachStorage(comics::mainStorage());
            requestRepaint();
            queueSave(c);
        });
        rest = std::make_shared<gui::fixedSplit>(
            false, -32, comicButton,
            std::make_shared<gui::plainSplitWidget>(false, WidgetList{u, toggle}));
    }
    return std::make_shared<gui::fixedSplit>(false, 16, expander, rest);
}

WidgetPtr user_interface::pageRow(const ComicPtr& c, int index, const comics::page& p,
                                  bool isCurrent, int position) {
    try {
        auto marker = std::make_shared<gui::text>(isCurrent ? ">" : " ");
        const bool cached = isCached(p.image);
        WidgetPtr bar = downloads().find(p.image);
        auto label = formatted(
            {p.title}, cached ? gui::rgba(16, 16, 128) : gui::defaultStyle()->textColour, bar);
        label->settings[0].bold = index > position;
        label->settings[0].italic = isCurrent;
        auto pageButton = std::make_shared<gui::button>(
            label, false, [this, c, index] { selectPage(c, index, false); });
        return std::make_shared<gui::fixedSplit>(false, 16, marker, pageButton);
    } catch (...) {
        tools::logln("dead[page]");
        throw;
    }
}

gui::WidgetList user_interface::buildTree(int from, int to) {
    try {
        sortComics();
        const ComicList list = comicList();
        const ComicPtr current = currentComic();
        const int index = currentIndex();
        ComicList matching;
        if (!search_.empty()) matching = matches();
        WidgetList rows;
        int row = 0;
        for (const auto& c : list) {
            if (c->active != tab_) continue;
            try {
                Hold hold(c->lock());
                const bool isCurrent = c == current;
                if (row >= from && row <= to) {
                    const bool isMatch =
                        std::find(matching.begin(), matching.end(), c) != matching.end();
                    rows.push_back(comicRow(c, isCurrent, isMatch));
                } else {
                    rows.push_back(nullptr);
                }
                ++row;
                if (!c->expanded || c->failed) continue;
                const auto n = static_cast<int>(c->pageCount());
                const int position = c->position();
                for (int i = 0; i < n; ++i, ++row) {
                    const bool isCurrentPage = isCurrent && i == index;
                    if (isCurrentPage) scrollTreeTo(row);
                    if (row < from || row > to) {
                        rows.push_back(nullptr);
                        continue;
                    }
                    comics::page p;
                    if (!c->pageAt(static_cast<std::size_t>(i), p)) {
                        rows.push_back(nullptr);
                        continue;
                    }
                    rows.push_back(pageRow(c, i, p, isCurrentPage, position));
                }
            } catch (...) {
                tools::logln("dead[foreach]");
                throw;
            }
        }
        return rows;
    } catch (...) {
        tools::logln("dead[buildTreeview]");
        throw;
    }
}

// ---- strip view and strip area ----

void user_interface::setStripView(WidgetPtr w) {
    {
        gui::GuiLock hold;
        WidgetPtr old = std::move(stripView_);
        stripView_ = std::move(w);
        if (stripView_) stripView_->setChanged();
        // The old view (and the surface it showed) is freed on the loop's thread.
        if (old) gui::retire(std::move(old));
    }
    bridge.requestRepaint(true);
}

WidgetPtr user_interface::stripView() {
    gui::GuiLock hold;
    return stripView_;
}

WidgetPtr user_interface::linkBar(const comics::LinkList& links) {
    WidgetList buttons;
    for (const auto& [label, address] : links)
        buttons.push_back(std::make_shared<gui::button>(std::make_shared<gui::text>(label), false,
                                                        [address] { openURL(address); }));
    return std::make_shared<gui::plainSplitWidget>(false, std::move(buttons));
}

WidgetPtr user_interface::stripArea() {
    const ComicPtr current = currentComic();
    if (stripArea_ && stripAreaFor_ == current.get()) return stripArea_;
    stripAreaFor_ = current.get();
    WidgetPtr holder = std::make_shared<gui::callback>([this] {
        gui::GuiLock hold;
        return stripView_ ? stripView_ : std::make_shared<gui::textbox>(" ");
    });
    comics::LinkList links;
    if (current) links = current->urls();
    if (links.empty())
        stripArea_ = holder;
    else
        stripArea_ = std::make_shared<gui::fixedSplit>(true, 32, linkBar(links), holder);
    return stripArea_;
}

// ---- rows of the left column and the toolbar ----

WidgetPtr user_interface::tabs() {
    int active = 0, available = 0;
    for (const auto& c : comicList()) (c->active ? active : available)++;
    auto availableButton = std::make_shared<gui::button>(
        std::make_shared<gui::text>(std::to_string(available) + " available"), !tab_,
        [this] { setTab(false); });
    auto activeButton = std::make_shared<gui::button>(
        std::make_shared<gui::text>(std::to_string(active) + " active"), tab_,
        [this] { setTab(true); });
    return std::make_shared<gui::plainSplitWidget>(false,
                                                   WidgetList{availableButton, activeButton});
}

ComicList user_interface::matches() {
    ComicList found;
    if (search_.empty()) return found;
    for (const auto& c : comicList())
        if (searchKey(c->name()).find(search_) != std::string::npos) found.push_back(c);
    return found;
}

WidgetPtr user_interface::searchRow() {
    auto base = gui::defaultStyle();
    auto light = gui::style::tinted(gui::rgba(255, 255, 255), base.get());
    auto lighten = [](gui::rgba c) {
        for (std::size_t i = 0; i < 3; ++i) c[i] = static_cast<std::uint8_t>((2 * c[i] + 256) / 3);
        return c;
    };
    light->textColour = lighten(base->textColour);
    light->backColour = lighten(base->backColour);
    light->faceColour = lighten(base->faceColour);
    auto count = std::make_shared<gui::text>(
        gui::dgValue<std::string>::bound([this] { return std::to_string(matches().size()); }),
        false);
    auto countButton = std::make_shared<gui::button>(count, false, [this] { cycleMatches(); });
    auto box = std::make_shared<gui::textbox>(" ");
    box->label =
        gui::dgValue<std::string>::bound([this] { return search_.empty() ? " " : search_; });
    WidgetPtr row = std::make_shared<gui::plainSplitWidget>(false, WidgetList{countButton, box},
                                                            false, std::vector<int>{30, 70});
    row->setStyle(light);
    countButton->setStyle(light);
    count->setStyle(light);
    box->setStyle(light);
    return row;
}

void user_interface::cycleMatches() {
    const ComicList found = matches();
    if (found.size() <= 1) return;
    matchCycle_ = (matchCycle_ + 1) % static_cast<int>(found.size());
    selectAt(found[static_cast<std::size_t>(matchCycle_)]);
}

void user_interface::typeLetter(char letter) {
    matchCycle_ = -1;
    search_.push_back(letter);
    while (!search_.empty() && matches().empty()) search_.erase(0, 1);
    const ComicList found = matches();
    if (found.size() == 1) selectAt(found.front());
    requestRepaint();
}

std::vector<std::string> user_interface::updateCaptionNow() {
    int changed = 0, updating = 0;
    for (const auto& c : comicList()) {
        if (c->changed) ++changed;
        if (c->updating) ++updating;
    }
    return updateCaption(changed, updating);
}

void user_interface::nextSortMode() {
    sortmode.set(static_cast<tools::sortMode>((static_cast<int>(sortmode.get()) + 1) % 4));
    requestRepaint();
}

// ---- keys ----

void user_interface::stepComic(int step) {
    const ComicPtr current = currentComic();
    if (!current) return;
    sortComics();
    ComicList list;
    for (const auto& c : comicList())
        if (c->active == tab_) list.push_back(c);
    auto at = std::find(list.begin(), list.end(), current);
    if (at == list.end()) {
        list = comicList();
        at = std::find(list.begin(), list.end(), current);
        if (at == list.end()) return;
    }
    auto i = static_cast<long>(at - list.begin()) + step;
    i = std::clamp(i, 0L, static_cast<long>(list.size()) - 1);
    selectAt(list[static_cast<std::size_t>(i)]);
}

bool user_interface::keyHandler(gui::Event& e) {
    auto* key = dynamic_cast<gui::KeyPressed*>(&e);
    if (!key) return false;
    const bool alt = (key->mod & KMOD_ALT) != 0;
    const std::uint32_t sym = key->sym;
    if (sym >= SDLK_a && sym <= SDLK_z && !alt) typeLetter(static_cast<char>(sym));
    auto imageView = [this]() -> std::shared_ptr<gui::showsurf> {
        auto strip = std::dynamic_pointer_cast<stripImage>(stripView());
        return strip ? strip->view() : nullptr;
    };
    switch (sym) {
        case SDLK_HOME:
            firstPage();
            break;
        case SDLK_END:
            lastPage();
            break;
        case SDLK_PAGEUP:
            previousPage();
            break;
        case SDLK_PAGEDOWN:
            nextPage();
            break;
        case SDLK_UP:
        case SDLK_DOWN:
            if (auto view = imageView()) {
                view->scrollVertical(sym == SDLK_UP ? -0.3 : 0.3);
                requestRepaint();
            }
            break;
        case SDLK_LEFT:
        case SDLK_RIGHT: {
            auto view = imageView();
            if (view && view->hbar()) {
                view->scrollHorizontal(sym == SDLK_LEFT ? -0.3 : 0.3);
                requestRepaint();
            } else if (sym == SDLK_LEFT) {
                previousPage();
            } else {
                nextPage();
            }
            break;
        }
        case SDLK_RETURN:
            cycleMatches();
            break;
        case SDLK_F5:
            globalUpdate();
            break;
        case SDLK_F7: {
            const ComicPtr c = currentComic();
            const int i = currentIndex();
            comics::page p;
            if (c && i >= 0 && c->pageAt(static_cast<std::size_t>(i), p)) copyToClipboard(p.image);
            break;
        }
        case SDLK_F11:
            setFullScreen(!fullScreen_);
            break;
        case SDLK_c:
            if (alt) {
                tools::logln("alt-c");
                centered.set(!centered.get());
                requestRepaint();
            }
            break;
        case SDLK_KP_PLUS:
            stepComic(1);
            break;
        case SDLK_KP_MINUS:
            stepComic(-1);
            break;
        case SDLK_BACKSPACE:
            collapseCurrent();
            break;
        case SDLK_ESCAPE:
            bridge.stop();
            break;
        default:
            break;
    }
    return false;
}

// ---- screen modes and layout ----

void user_interface::setFullScreen(bool f) {
    if (f == fullScreen_) return;
    fullScreen_ = f;
    if (f && sdloo::screen) {
        savedWidth = sdloo::screen->w;
        savedHeight = sdloo::screen->h;
    }
    tools::logln("Switching screen mode");
    SDL_Surface* made = nullptr;
    if (f) {
        int w = sdloo::desktopWidth, h = sdloo::desktopHeight;
        if (w <= 0 || h <= 0) {  // no usable size: stay as large as the window
            w = savedWidth;
            h = savedHeight;
        }
        tools::logln("Switching to fullscreen: ", w, "x", h, ":", 32, " with NOFRAME and SWSURF");
        made = SDL_SetVideoMode(w, h, 32, SDL_NOFRAME);
    } else {
        made = SDL_SetVideoMode(savedWidth, savedHeight, 32, SDL_ANYFORMAT | SDL_RESIZABLE);
        tools::logln("Switched to ", savedWidth, "x", savedHeight);
    }
    if (made) sdloo::screen = made;
    tools::logln("Resetup widgets");
    buildLayout();
    bridge.requestRepaint(true);
}

void user_interface::buildLayout() {
    stripArea_.reset();
    auto stripAreaNow = std::make_shared<gui::callback>([this] { return stripArea(); });
    if (fullScreen_) {
        root_ = stripAreaNow;
        return;
    }
    treeBox_ =
        std::make_shared<gui::fixedscrollbox>(20, [this](int a, int b) { return buildTree(a, b); });
    auto tabsRow = std::make_shared<gui::callback>([this] { return tabs(); });
    auto left = std::make_shared<gui::fixedSplit>(
        true, 20, tabsRow, std::make_shared<gui::fixedSplit>(true, -20, treeBox_, searchRow()));

    auto save = std::make_shared<gui::button>(std::make_shared<gui::text>("Save"), false,
                                              [this] { queueSave(nullptr); });
    auto updateButton = std::make_shared<gui::button>(nullptr, false, [this] { globalUpdate(); });
    std::weak_ptr<gui::button> updateWeak = updateButton;
    updateButton->child = std::make_shared<gui::callback>([this, updateWeak] {
        const std::vector<std::string> parts = updateCaptionNow();
        const bool marked = parts.front() != "Update" && parts.back() == ")";
        if (auto b = updateWeak.lock()) b->highlighted = marked;
        auto label = formatted(parts, gui::defaultStyle()->textColour);
        label->centred = true;
        return label;
    });
    auto sortText = std::make_shared<gui::text>(
        gui::dgValue<std::string>::bound([this] {
            return pointerOverSort_ ? std::string(sortLabels[static_cast<int>(sortmode.get()) & 3])
                                    : std::string("Sort");
        }),
        false);
    auto sortButton = std::make_shared<gui::button>(
        sortText, false, [this] { nextSortMode(); }, false,
        [this](bool entered) {
            pointerOverSort_ = entered;
            requestRepaint();
        });
    auto toolbar = std::make_shared<gui::plainSplitWidget>(
        false, WidgetList{save, updateButton, sortButton}, false, std::vector<int>{20, 40, 40});
    auto right = std::make_shared<gui::fixedSplit>(true, 20, toolbar, stripAreaNow);
    windowRoot_ = std::make_shared<gui::splitWidget>(true, left, right, 200);
    root_ = windowRoot_;
}

void user_interface::setUp() {
    for (const auto& c : comicList()) c->expanded = false;
    setStripView(std::make_shared<gui::textbox>("TOVIK.2 ready"));
    SDL_WM_SetCaption("TOVIK.2 ready", nullptr);
    buildLayout();
    keyHook_ = bridge.addHook([this](gui::Event& e) { return keyHandler(e); }, this);
}

void user_interface::run() {
    bridge.requestRepaint(true);
    bridge.loop();
}

}  // namespace reader
