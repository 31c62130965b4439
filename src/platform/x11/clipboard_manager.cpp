#include "platform/x11/clipboard_manager.h"

#include <array>
#include <utility>

namespace brimlet::platform::x11 {

void ClipboardManagerRole::claim() {
    if (selectionOwner(c_, atoms_.clipboardManager) != XCB_NONE) {
        return;
    }
    xcb_set_selection_owner(c_, window_, atoms_.clipboardManager, XCB_CURRENT_TIME);
    held_ = selectionOwner(c_, atoms_.clipboardManager) == window_;
}

void ClipboardManagerRole::cleared(const xcb_selection_clear_event_t& event) {
    if (event.owner == window_) {
        held_ = false;
    }
}

void ClipboardManagerRole::request(const xcb_selection_request_event_t& event, bool reading) {
    const xcb_atom_t property = event.property == XCB_NONE ? event.target : event.property;
    if (held_ && event.target == atoms_.saveTargets && reading) {
        // The owner waits while we read its text; it hears from us after.
        pendingSaves_.push_back(event);
        return;
    }
    bool served = false;
    if (held_ && event.target == atoms_.targets) {
        const std::array<xcb_atom_t, 3> offered{atoms_.targets, atoms_.timestamp,
                                                atoms_.saveTargets};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, event.requestor, property, XCB_ATOM_ATOM, 32,
                            offered.size(), offered.data());
        served = true;
    } else if (held_ && event.target == atoms_.saveTargets) {
        // What it holds was read when it took the clipboard; an empty reply
        // says that it has been saved.
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, event.requestor, property, XCB_ATOM_NONE, 32,
                            0, nullptr);
        served = true;
    }
    notifyRequestor(c_, event, served ? property : XCB_NONE);
}

void ClipboardManagerRole::readingEnded() {
    for (const xcb_selection_request_event_t& save : std::exchange(pendingSaves_, {})) {
        request(save, false);
    }
}

}  // namespace brimlet::platform::x11
