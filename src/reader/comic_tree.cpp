// The comic tree: the list's order, rows, tabs and type-ahead.
#include "reader/comic_tree.hpp"

#include <algorithm>
#include <iostream>

#include "comics/storage.hpp"
#include "gui/layouts.hpp"
#include "gui/leaves.hpp"
#include "reader/downloads.hpp"
#include "tools/log.hpp"

namespace reader {

using gui::WidgetList;
using gui::WidgetPtr;
using Hold = std::lock_guard<std::recursive_mutex>;

// ---- row states ----

RowStates::RowStates(const ComicList& list) {
    for (const auto& c : list) of(*c);
}

RowState& RowStates::of(const comics::Comic& c) {
    std::lock_guard<std::mutex> hold(lock_);
    auto [at, made] = states_.try_emplace(&c);
    if (made) at->second.listIndex = static_cast<std::int32_t>(states_.size() - 1);
    return at->second;
}

// ---- order and texts ----

bool nameAfter(const std::string& a, const std::string& b) {
    auto fold = [](unsigned char c) { return c < 'a' ? c + 32 : int(c); };
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int x = fold(static_cast<unsigned char>(a[i])), y = fold(static_cast<unsigned char>(b[i]));
        if (x != y) return x > y;
    }
    return a.size() > b.size();
}

bool outOfOrder(const comics::Comic& a, const comics::Comic& b, tools::SortMode mode,
                RowStates& rows) {
    switch (mode) {
        case tools::SortMode::byName:
            return nameAfter(a.name(), b.name());
        case tools::SortMode::byUnread:
            return a.remaining() < b.remaining();
        case tools::SortMode::byStrips:
            return a.pageCount() < b.pageCount();
        case tools::SortMode::unsorted:
        default:
            return rows.of(a).listIndex.load() > rows.of(b).listIndex.load();
    }
}

void combSort(ComicList& list, tools::SortMode mode, RowStates& rows) {
    const std::size_t n = list.size();
    if (n < 2) return;
    std::size_t gap = n;
    for (;;) {
        gap = static_cast<std::size_t>(static_cast<double>(gap) / 1.3);
        if (gap == 9 || gap == 10) gap = 11;
        if (gap < 1) gap = 1;  // a gap of 0 would never end
        bool swapped = false;
        for (std::size_t i = 0; i + gap < n; ++i) {
            if (outOfOrder(*list[i], *list[i + gap], mode, rows)) {
                std::swap(list[i], list[i + gap]);
                swapped = true;
            }
        }
        if (gap == 1 && !swapped) return;
    }
}

std::vector<std::string> countText(std::int32_t pages, std::int32_t position,
                                   tools::SortMode mode) {
    const std::int32_t read = pages == 0 ? 0 : position + 1;
    const std::int32_t unread = pages - read;
    if (mode == tools::SortMode::byUnread) {
        if (unread != 0) return {std::to_string(pages), " (", std::to_string(unread), ") "};
        return {std::to_string(pages), " "};
    }
    return {std::to_string(read), "/", std::to_string(pages), " "};
}

std::string searchKey(const std::string& name) {
    std::string key;
    for (char ch : name) {
        char c = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
        if (c >= 'a' && c <= 'z') key.push_back(c);
    }
    return key;
}

std::shared_ptr<gui::FormattedText> formatted(const std::vector<std::string>& parts,
                                              gui::Rgba colour, WidgetPtr background) {
    std::vector<gui::BoundValue<std::string>> values;
    for (const auto& p : parts) values.emplace_back(p.empty() ? std::string(" ") : p);
    auto t = std::make_shared<gui::FormattedText>(std::move(values), false, std::move(background));
    for (auto& c : t->colours) c = colour;
    return t;
}

// ---- the tree ----

ComicTree::ComicTree(ComicList list, const Selection& selection, TreeActions actions)
    : selection_(selection),
      actions_(std::move(actions)),
      comics_(std::move(list)),
      rows_(comics_) {
    sortComics();
}

WidgetPtr ComicTree::column() {
    treeBox_ =
        std::make_shared<gui::FixedScrollBox>(20, [this](int a, int b) { return buildTree(a, b); });
    // Told where the pointer is before the rows hear of it, and that it left.
    list_ = std::make_shared<gui::PointerWatch>(
        treeBox_, [this](gui::Coord pos) { pointerAt(pos); }, [this] { setHovered(nullptr); });
    auto tabsRow = std::make_shared<gui::RebuiltWidget>([this] { return tabs(); });
    return std::make_shared<gui::FixedSplit>(
        true, 20, tabsRow, std::make_shared<gui::FixedSplit>(true, -20, list_, searchRow()));
}

void ComicTree::pointerAt(gui::Coord pos) {
    ComicPtr over;
    if (treeBox_ && treeBox_->itemHeight > 0) {
        const gui::Rect a = treeBox_->area;
        const bool onBar = treeBox_->bar() && treeBox_->bar()->area.contains(pos.x, pos.y);
        const int cy = pos.y + treeBox_->offset() - a.y;
        if (!onBar && a.contains(pos.x, pos.y) && cy >= 0) {
            const auto row = static_cast<std::size_t>(cy / treeBox_->itemHeight);
            if (row < rowComics_.size()) over = rowComics_[row];
        }
    }
    setHovered(std::move(over));
}

WidgetPtr ComicTree::comicRow(const ComicPtr& c, bool isCurrent, bool isMatch) {
    const auto n = static_cast<std::int32_t>(c->pageCount());
    const std::int32_t position = c->position();
    std::vector<std::string> parts = countText(n, position, sortmode.get());
    const std::size_t countParts = parts.size();
    // A failed comic tells why.
    const std::string failure = c->failed ? c->failure() : std::string();
    parts.push_back(failure.empty() ? c->name() : c->name() + " - " + failure);
    const RowState& state = rows_.of(*c);
    if (const std::int32_t looked = state.keeping; looked >= 0)
        parts.push_back(" (strips " + std::to_string(looked) + "/" +
                        std::to_string(state.keepingOf.load()) + ")");

    WidgetPtr background;
    if (c->failed)
        background = std::make_shared<gui::ColoredPane>(255, 192, 192);
    else if (rows_.of(*c).changed)
        background = std::make_shared<gui::ColoredPane>(192, 255, 192);
    auto label = formatted(parts, gui::defaultStyle()->textColour, background);
    const bool unread = position + 1 < n;
    for (std::size_t i = 0; i < countParts; ++i) label->settings[i].bold = unread;
    label->settings[countParts].italic = isCurrent;

    auto comicButton =
        std::make_shared<gui::Button>(label, isMatch, [this, c] { actions_.selectComic(c, -1); });

    WidgetPtr expander;
    if (c->failed) {
        expander = std::make_shared<gui::Text>(" ");
    } else {
        expander = std::make_shared<gui::Button>(
            std::make_shared<gui::Text>(rows_.of(*c).expanded ? "-" : "+"), false, [this, c] {
                RowState& state = rows_.of(*c);
                state.expanded = !state.expanded;
                actions_.repaint();
            });
    }

    WidgetPtr rest = comicButton;
    if (isCurrent || c == hovered_) {
        auto u = std::make_shared<gui::Button>(std::make_shared<gui::Text>("U"), false,
                                               [this, c] { actions_.update(c); });
        const bool active = c->active;
        auto toggleLabel = formatted({active ? "X" : "A"}, gui::defaultStyle()->textColour,
                                     active ? std::make_shared<gui::ColoredPane>(255, 192, 192)
                                            : std::make_shared<gui::ColoredPane>(192, 255, 192));
        toggleLabel->centred = true;
        auto toggle = std::make_shared<gui::Button>(toggleLabel, false, [this, c] {
            const bool nowActive = !c->active;
            c->active = nowActive;
            if (nowActive) c->attachStorage(comics::mainStorage());
            actions_.repaint();
            actions_.save(c);
        });
        // K: keep every strip of the comic on disk (highlighted while on).
        const bool keeping = c->keepsStrips();
        auto keepLabel =
            formatted({"K"}, gui::defaultStyle()->textColour,
                      keeping ? std::make_shared<gui::ColoredPane>(192, 208, 255) : nullptr);
        keepLabel->centred = true;
        auto keep = std::make_shared<gui::Button>(keepLabel, false, [this, c] {
            try {
                c->setKeepStrips(!c->keepsStrips());
            } catch (const std::exception& e) {
                tools::logln("Cannot write keep_strips of ", c->name(), ": ", e);
            }
            actions_.repaint();
            if (actions_.keepStripsChanged) actions_.keepStripsChanged(c);
        });
        rest = std::make_shared<gui::FixedSplit>(
            false, -48, comicButton,
            std::make_shared<gui::PlainSplitWidget>(false, WidgetList{u, keep, toggle}));
    }
    return std::make_shared<gui::FixedSplit>(false, 16, expander, rest);
}

WidgetPtr ComicTree::pageRow(const ComicPtr& c, int index, const comics::Page& p, bool isCurrent,
                             int position) {
    try {
        auto marker = std::make_shared<gui::Text>(isCurrent ? ">" : " ");
        const std::string ref(p.image());
        const bool cached = isCached(ref);
        WidgetPtr bar = downloads().find(ref);
        auto label =
            formatted({std::string(p.title())},
                      cached ? gui::Rgba(16, 16, 128) : gui::defaultStyle()->textColour, bar);
        label->settings[0].bold = index > position;
        label->settings[0].italic = isCurrent;
        auto pageButton = std::make_shared<gui::Button>(
            label, false, [this, c, index] { actions_.selectPage(c, index); });
        return std::make_shared<gui::FixedSplit>(false, 16, marker, pageButton);
    } catch (...) {
        tools::logln("dead[page]");
        throw;
    }
}

gui::WidgetList ComicTree::buildTree(int from, int to) {
    try {
        sortComics();
        const ComicList list = comicList();
        const ComicPtr current = selection_.currentComic();
        const int index = selection_.currentIndex();
        ComicList matching;
        if (!search_.empty()) matching = matches();
        WidgetList rows;
        ComicList owners;
        int row = 0;
        for (const auto& c : list) {
            if (c->active != tab_) continue;
            try {
                Hold hold(c->lock());
                const bool isCurrent = c == current;
                owners.push_back(c);
                if (row >= from && row <= to) {
                    const bool isMatch =
                        std::find(matching.begin(), matching.end(), c) != matching.end();
                    rows.push_back(comicRow(c, isCurrent, isMatch));
                } else {
                    rows.push_back(nullptr);
                }
                ++row;
                if (!rows_.of(*c).expanded || c->failed) continue;
                const auto n = static_cast<int>(c->pageCount());
                const int position = c->position();
                owners.resize(owners.size() + static_cast<std::size_t>(std::max(n, 0)));
                for (int i = 0; i < n; ++i, ++row) {
                    const bool isCurrentPage = isCurrent && i == index;
                    if (isCurrentPage) scrollTreeTo(row);
                    if (row < from || row > to) {
                        rows.push_back(nullptr);
                        continue;
                    }
                    comics::Page p;
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
        rowComics_ = std::move(owners);
        return rows;
    } catch (...) {
        tools::logln("dead[buildTreeview]");
        throw;
    }
}

WidgetPtr ComicTree::tabs() {
    int active = 0, available = 0;
    for (const auto& c : comicList()) (c->active ? active : available)++;
    auto availableButton = std::make_shared<gui::Button>(
        std::make_shared<gui::Text>(std::to_string(available) + " available"), !tab_,
        [this] { setTab(false); });
    auto activeButton = std::make_shared<gui::Button>(
        std::make_shared<gui::Text>(std::to_string(active) + " active"), tab_,
        [this] { setTab(true); });
    return std::make_shared<gui::PlainSplitWidget>(false,
                                                   WidgetList{availableButton, activeButton});
}

ComicList ComicTree::matches() {
    ComicList found;
    if (search_.empty()) return found;
    for (const auto& c : comicList())
        if (searchKey(c->name()).find(search_) != std::string::npos) found.push_back(c);
    return found;
}

WidgetPtr ComicTree::searchRow() {
    auto base = gui::defaultStyle();
    auto light = gui::Style::tinted(gui::Rgba(255, 255, 255), base.get());
    auto lighten = [](gui::Rgba c) {
        for (std::size_t i = 0; i < 3; ++i) c[i] = static_cast<std::uint8_t>((2 * c[i] + 256) / 3);
        return c;
    };
    light->textColour = lighten(base->textColour);
    light->backColour = lighten(base->backColour);
    light->faceColour = lighten(base->faceColour);
    auto count = std::make_shared<gui::Text>(
        gui::BoundValue<std::string>::bound([this] { return std::to_string(matches().size()); }),
        false);
    auto countButton = std::make_shared<gui::Button>(count, false, [this] { cycleMatches(); });
    auto box = std::make_shared<gui::TextBox>(" ");
    box->label =
        gui::BoundValue<std::string>::bound([this] { return search_.empty() ? " " : search_; });
    WidgetPtr row = std::make_shared<gui::PlainSplitWidget>(false, WidgetList{countButton, box},
                                                            false, std::vector<int>{30, 70});
    row->setStyle(light);
    countButton->setStyle(light);
    count->setStyle(light);
    box->setStyle(light);
    return row;
}

void ComicTree::cycleMatches() {
    const ComicList found = matches();
    if (found.size() <= 1) return;
    matchCycle_ = (matchCycle_ + 1) % static_cast<int>(found.size());
    selectAt(found[static_cast<std::size_t>(matchCycle_)]);
}

void ComicTree::typeLetter(char letter) {
    matchCycle_ = -1;
    search_.push_back(letter);
    while (!search_.empty() && matches().empty()) search_.erase(0, 1);
    const ComicList found = matches();
    if (found.size() == 1) selectAt(found.front());
    actions_.repaint();
}

void ComicTree::nextSortMode() {
    sortmode.set(static_cast<tools::SortMode>((static_cast<int>(sortmode.get()) + 1) % 4));
    actions_.repaint();
}

void ComicTree::stepComic(int step) {
    const ComicPtr current = selection_.currentComic();
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

ComicList ComicTree::comicList() const {
    std::lock_guard<std::mutex> hold(listLock_);
    return comics_;
}

void ComicTree::sortComics() {
    std::lock_guard<std::mutex> hold(listLock_);
    combSort(comics_, sortmode.get(), rows_);
}

void ComicTree::setTab(bool t) {
    tab_ = t;
    std::cout << "Tab mode switched to " << (t ? "'active'" : "'available'") << std::endl;
    actions_.repaint();
}

void ComicTree::setHovered(ComicPtr c) {
    if (hovered_ == c) return;
    hovered_ = std::move(c);
    if (actions_.repaintList)
        actions_.repaintList();
    else
        actions_.repaint();
}

void ComicTree::scrollTreeTo(int row) {
    if (treeBox_) treeBox_->select(row);
}

void ComicTree::collapseCurrent() {
    if (auto c = selection_.currentComic()) rows_.of(*c).expanded = false;
    actions_.repaint();
}

void ComicTree::collapseAll() {
    for (const auto& c : comicList()) rows_.of(*c).expanded = false;
}

}  // namespace reader
