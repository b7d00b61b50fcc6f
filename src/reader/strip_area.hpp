#pragma once
// reader.strip_area: the right-hand side below the toolbar: the strip view,
// under a bar of link buttons for a comic with addresses.
//
// The strip view is a text ("TOVIK.2 ready", an error) or a StripImage: a
// decoded strip that becomes an image view at its first draw, when the window
// caption names the strip. A link button opens its address with the desktop's
// opener.
//
// Threads: setStripView, stripView and showStrip may be called from any thread
// (page tasks do): they take the GUI lock, and a replaced view is freed on the
// loop's thread. stripArea and the drawing belong to the loop's thread.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comics/base.hpp"
#include "gui/base.hpp"
#include "gui/composites.hpp"
#include "gui/image_view.hpp"
#include "gui/leaves.hpp"
#include "reader/images.hpp"
#include "reader/selection.hpp"
#include "tools/ini.hpp"

namespace reader {

// Opens an address with the desktop's opener (xdg-open, no shell); "http://"
// goes in front unless it is there.
void openURL(const std::string& address);
// The opener's argument vector for an address (exposed for tests).
std::vector<std::string> openerCommand(const std::string& address);

// The strip view that holds a decoded strip until its first draw (on the
// loop's thread), when the strip becomes a surface in an image view and the
// window caption names the strip. The decoded image is destroyed then, or with
// the widget when it is replaced before it was ever drawn.
class StripImage : public gui::LazyWidget {
public:
    StripImage(libgd::Image image, std::string caption, std::function<bool()> centre);
    // The image view, once made (null before the first draw).
    std::shared_ptr<gui::ImageView> view() const { return view_; }
    // Whether the decoded image is still held.
    bool holdsImage() const { return image_ != nullptr; }

private:
    gui::WidgetPtr make();

    libgd::Image image_;
    std::string caption_;
    std::function<bool()> centre_;
    std::shared_ptr<gui::ImageView> view_;
};

// The text shown in place of a strip that cannot be shown (a failed download,
// a damaged image); at its first draw the window caption names the page.
class StripError : public gui::TextBox {
public:
    StripError(std::string text, std::string caption);
    const std::string& caption() const { return caption_; }

private:
    std::string text_;
    std::string caption_;
    bool captionShown_ = false;  // the loop's thread only (the text is read when drawn)
};

class StripArea {
public:
    // Shows the link bar of the selection's comic; asks the bridge for a full
    // repaint when the view changes.
    StripArea(gui::UiBridge& bridge, const Selection& selection);
    ~StripArea();
    StripArea(const StripArea&) = delete;
    StripArea& operator=(const StripArea&) = delete;

    // Replaces the strip view.
    void setStripView(gui::WidgetPtr w);
    gui::WidgetPtr stripView();
    // Shows a decoded strip, centred while centered is set; caption names it;
    // ref is the strip's image reference (showsStrip answers for it).
    void showStrip(libgd::Image image, std::string caption, std::string ref = {});
    // Whether the strip view is the strip of this image reference.
    bool showsStrip(const std::string& ref);
    // Shows a text in place of a strip that cannot be shown; at its first draw
    // the window caption names the page it stands for.
    void showError(std::string text, std::string caption);
    // The image view of the strip shown, when it has been drawn.
    std::shared_ptr<gui::ImageView> imageView();

    // The strip view, under the current comic's link bar when it has
    // addresses. Made again when the current comic changes or after reset.
    gui::WidgetPtr stripArea();
    gui::WidgetPtr linkBar(const comics::LinkList& links);
    void reset();

    // Strips narrower than the view are centred.
    tools::IniValue<bool> centered{"centered", false};

private:
    gui::UiBridge& bridge_;
    const Selection& selection_;
    void replaceView(gui::WidgetPtr w, std::string ref);

    gui::WidgetPtr stripView_;  // guarded by the GUI lock
    std::string shownRef_;      // the strip view's image reference; guarded by the GUI lock
    gui::WidgetPtr stripArea_;
    const comics::Comic* stripAreaFor_ = nullptr;
};

}  // namespace reader
